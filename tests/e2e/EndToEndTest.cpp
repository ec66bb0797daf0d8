#include "EndToEndTest.hpp"

#include <glib.h>

#include <iostream>

#include <boost/json/serialize.hpp>

namespace quorvane::testing {

namespace {

double now() { return double(g_get_monotonic_time()) / G_USEC_PER_SEC; }

}  // namespace

const boost::json::array& accountList(const boost::json::value& state, const char* key)
{
    static const boost::json::array none;
    if (!state.is_object())
        return none;
    const auto* account = state.as_object().if_contains("account");
    const auto* list = account && account->is_object() ? account->as_object().if_contains(key) : nullptr;
    return list && list->is_array() ? list->as_array() : none;
}

const boost::json::array& messagesOf(const boost::json::value& state) { return accountList(state, "messages"); }

std::string stringAt(const boost::json::value& object, const char* key)
{
    if (!object.is_object())
        return "";
    const auto* value = object.as_object().if_contains(key);
    return value && value->is_string() ? std::string(value->as_string()) : "";
}

std::vector<std::string> requestsTypedIntoDot(Simulator& sim)
{
    static const std::string marker = "[Quorvane request ";
    std::vector<std::string> ids;
    const auto state = sim.controlGet("state");
    for (const auto& conversation : state.at("conversations").as_array()) {
        for (const auto& message : conversation.at("messages").as_array()) {
            const auto typed = stringAt(message, "typed");
            const auto start = typed.find(marker);
            if (stringAt(message, "role") != "user" || start == std::string::npos)
                continue;
            const auto from = start + marker.size();
            ids.push_back(typed.substr(from, typed.find(']', from) - from));
        }
    }
    return ids;
}

void EndToEndTest::SetUp()
{
    // The keyring wrapper gave this process a fresh home of its own.
    folder = std::filesystem::path(g_get_home_dir()) / "e2e";
    std::filesystem::create_directories(folder);
}

void EndToEndTest::TearDown()
{
    if (app && HasFailure())
        std::cerr << "Quorvane said:\n" << app->logTail() << "\n";
    app.reset();
    sim.reset();
}

void EndToEndTest::startSimulator(std::vector<std::string> options)
{
    sim = std::make_unique<Simulator>(folder / "sim", std::move(options));
}

void EndToEndTest::launch()
{
    if (!sim)
        startSimulator();
    if (!app)
        app = std::make_unique<AppProcess>(QUORVANE_PROGRAM, folder / "app", sim->configFile);
    app->start();
}

void EndToEndTest::restart()
{
    app->quit();
    app->start();
}

boost::json::value EndToEndTest::page(const std::string& body, const std::string& argument)
{
    return app->run(body, argument);
}

boost::json::value EndToEndTest::state() { return page("return window.quorvaneTestDriver.state;"); }

std::string EndToEndTest::post(const std::string& command, const boost::json::object& data)
{
    return app->post(command, data);
}

boost::json::value EndToEndTest::answer(const std::string& id, double seconds) { return app->answer(id, seconds); }

::testing::AssertionResult EndToEndTest::waitFor(
    const std::string& what, const std::function<bool(const boost::json::value&)>& holds, double seconds)
{
    return waitForState(*app, what, holds, seconds);
}

::testing::AssertionResult waitForState(AppProcess& app, const std::string& what,
    const std::function<bool(const boost::json::value&)>& holds, double seconds)
{
    double deadline = now() + seconds;
    boost::json::value last;
    for (;;) {
        last = app.run("return window.quorvaneTestDriver.state;");
        if (holds(last))
            return ::testing::AssertionSuccess();
        if (now() > deadline) {
            // Pictures say nothing here and would crowd out the rest.
            if (auto* bots = last.is_object() && last.at("account").is_object()
                    ? last.at("account").as_object().if_contains("bots")
                    : nullptr;
                bots && bots->is_array()) {
                for (auto& bot : bots->as_array()) {
                    if (bot.is_object() && bot.as_object().contains("image"))
                        bot.as_object()["image"] = "…";
                }
            }
            std::string seen = boost::json::serialize(last);
            if (seen.size() > 12000)
                seen = seen.substr(0, 12000) + "…";
            return ::testing::AssertionFailure()
                << "Waited in vain for: " << what << "\nThe page's last state: " << seen;
        }
        g_usleep(100000);
    }
}

}  // namespace quorvane::testing
