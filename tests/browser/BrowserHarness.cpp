#include "BrowserHarness.hpp"

#include <algorithm>
#include <cstdlib>

#include "quorvane/AppFailure.hpp"
#include "quorvane/DotService.hpp"
#include "quorvane/Json.hpp"
#include "quorvane/TextRules.hpp"

namespace quorvane::testing {

bool runUntil(const std::function<bool()>& done, double seconds)
{
    gint64 deadline = g_get_monotonic_time() + gint64(seconds * G_USEC_PER_SEC);
    while (!done()) {
        if (g_get_monotonic_time() > deadline)
            return false;
        if (!g_main_context_iteration(nullptr, FALSE))
            g_usleep(2000);
    }
    return true;
}

void runFor(double seconds)
{
    runUntil([] { return false; }, seconds);
}

void awaitVoid(Task<void> task, double seconds)
{
    await(
        [](Task<void> task) -> Task<bool> {
            co_await std::move(task);
            co_return true;
        }(std::move(task)),
        seconds);
}

std::string failureOf(Task<void> task)
{
    try {
        awaitVoid(std::move(task));
        return "";
    } catch (const std::exception& error) {
        return error.what();
    }
}

namespace {

std::string describe(const std::exception_ptr& error)
{
    try {
        std::rethrow_exception(error);
    } catch (const NotSubmitted& refused) {
        return "NotSubmitted: " + refused.message;
    } catch (const AppFailure& failure) {
        return "AppFailure: " + failure.message;
    } catch (const GLibError& error) {
        return error.matches(G_IO_ERROR, G_IO_ERROR_CANCELLED) ? "cancelled" : std::string("other: ") + error.what();
    } catch (const std::exception& error) {
        return std::string("other: ") + error.what();
    }
}

}  // namespace

PendingCall::PendingCall(Task<void> task)
{
    scope_.spawn([](Task<void> task, std::shared_ptr<bool> done, std::shared_ptr<std::string> outcome) -> Task<void> {
        try {
            co_await std::move(task);
            *outcome = "ok";
        } catch (...) {
            *outcome = describe(std::current_exception());
        }
        *done = true;
    }(std::move(task), done_, outcome_));
}

std::string outcomeOf(Task<void> task, double seconds)
{
    try {
        awaitVoid(std::move(task), seconds);
        return "ok";
    } catch (...) {
        return describe(std::current_exception());
    }
}

std::string evalInPage(WebKitWebView* view, const std::string& script)
{
    auto start = [&](GCancellable* cancellable, GAsyncReadyCallback callback, gpointer data) {
        webkit_web_view_evaluate_javascript(
            view, script.c_str(), gssize(script.size()), nullptr, nullptr, cancellable, callback, data);
    };
    auto finish = [](GObject* source, GAsyncResult* result) {
        GError* error = nullptr;
        auto value = GObjectPtr<JSCValue>::adopt(
            webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), result, &error));
        if (error)
            GLibError::raise(error);
        char* text = jsc_value_to_string(value.get());
        std::string out = text ? text : "";
        g_free(text);
        return out;
    };
    return await([](decltype(start) start, decltype(finish) finish) -> Task<std::string> {
        co_return co_await asyncCall<std::string>(start, finish);
    }(start, finish));
}

void BrowserTest::SetUp()
{
    char pattern[] = "/tmp/quorvane-browser-XXXXXX";
    ASSERT_NE(g_mkdtemp(pattern), nullptr);
    folder = pattern;
    // Each case runs in a process of its own, so these are read fresh by GLib.
    setenv("XDG_DATA_HOME", (folder / "data").c_str(), 1);
    setenv("XDG_CACHE_HOME", (folder / "cache").c_str(), 1);
    gtk_init();
}

void BrowserTest::TearDown()
{
    for (auto& browser : browsers)
        browser->shutdown();
    browsers.clear();
    runFor(0.1);
    simulator.reset();
    // WebKit's network process writes caches and storage a little after the pages are gone,
    // which can bring back a folder removed too early: remove, let it settle, remove again.
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    runFor(0.5);
    std::filesystem::remove_all(folder, ignored);
}

void BrowserTest::startSimulator(std::vector<std::string> options)
{
    simulator = std::make_unique<Simulator>(folder / "sim", std::move(options));
    DotService::install(DotService::load(simulator->configFile));
}

std::unique_ptr<DotBrowser> BrowserTest::makeBrowser(const std::string& profile)
{
    return std::make_unique<DotBrowser>(profile, QUORVANE_TEST_DATA_DIR);
}

DotSnapshot inspectUntil(DotBrowser& browser, const std::function<bool(const DotSnapshot&)>& ready, double seconds)
{
    gint64 deadline = g_get_monotonic_time() + gint64(seconds * G_USEC_PER_SEC);
    std::string last = "no snapshot";
    for (;;) {
        if (!browser.loading()) {
            try {
                auto snapshot = await(browser.inspect());
                if (ready(snapshot))
                    return snapshot;
                last = encodeJSON(snapshot);
            } catch (const std::exception& error) {
                last = error.what();
            }
        }
        if (g_get_monotonic_time() > deadline)
            throw std::runtime_error("The page never got there; last: " + last.substr(0, 4000));
        runFor(0.1);
    }
}

DotSnapshot openAndInspect(
    DotBrowser& browser, const std::string& url, const std::function<bool(const DotSnapshot&)>& ready, double seconds)
{
    browser.open(url);
    return inspectUntil(browser, ready, seconds);
}

namespace {

// The one simulator of a SharedSimulatorTest binary, stopped when the tests end.
struct SharedSimulator : ::testing::Environment {
    static SharedSimulator& instance()
    {
        static SharedSimulator* shared = [] {
            auto* created = new SharedSimulator;
            ::testing::AddGlobalTestEnvironment(created);  // gtest owns and tears it down
            return created;
        }();
        return *shared;
    }

    Simulator& simulator()
    {
        if (!running) {
            char pattern[] = "/tmp/quorvane-browser-XXXXXX";
            if (!g_mkdtemp(pattern))
                throw std::runtime_error("No temporary folder for the tests.");
            folder = pattern;
            setenv("XDG_DATA_HOME", (folder / "data").c_str(), 1);
            setenv("XDG_CACHE_HOME", (folder / "cache").c_str(), 1);
            gtk_init();
            running = std::make_unique<Simulator>(folder / "sim", std::vector<std::string> { "--signed-in" });
            DotService::install(DotService::load(running->configFile));
        }
        return *running;
    }

    void TearDown() override
    {
        running.reset();
        if (!folder.empty()) {
            runFor(0.5);
            std::error_code ignored;
            std::filesystem::remove_all(folder, ignored);
        }
    }

    std::filesystem::path folder;
    std::unique_ptr<Simulator> running;
};

}  // namespace

void SharedSimulatorTest::SetUp()
{
    simulator = &SharedSimulator::instance().simulator();
    simulator->control("reset");
}

void SharedSimulatorTest::TearDown()
{
    // The browsers of a case are gone by now; let their pages wind down before the next case.
    runFor(0.2);
}

std::unique_ptr<DotBrowser> SharedSimulatorTest::makeBrowser(Scheduler& scheduler)
{
    return std::make_unique<DotBrowser>(newUUID(), QUORVANE_TEST_DATA_DIR, nullptr, scheduler);
}

void SharedSimulatorTest::pageVariant(const boost::json::object& variant)
{
    simulator->control("page", boost::json::serialize(variant));
}

std::string SharedSimulatorTest::startConversation(DotBrowser& browser)
{
    openAndInspect(browser, simulator->origin + "/dots/home");
    return sendAndSettle(browser, "Hello Dot", "").url.str();
}

DotSnapshot SharedSimulatorTest::sendAndSettle(DotBrowser& browser, const std::string& payload, const std::string& url)
{
    awaitVoid(browser.prepare(payload, url));
    awaitVoid(browser.send(payload, url));
    return inspectUntil(browser, [&](const DotSnapshot& s) {
        auto user
            = std::find_if(s.messages.rbegin(), s.messages.rend(), [](const auto& m) { return m.role == "user"; });
        return s.ready && !s.busy && s.draft.empty() && user != s.messages.rend() && user->text == trimmed(payload)
            && user != s.messages.rbegin();
    });
}

boost::json::array SharedSimulatorTest::conversationMessages(const std::string& url)
{
    auto id = url.substr(url.rfind('/') + 1);
    return simulator->controlGet("conversations/" + id).at("messages").as_array();
}

std::vector<std::string> SharedSimulatorTest::typedTurns(const std::string& url)
{
    std::vector<std::string> typed;
    for (const auto& message : conversationMessages(url)) {
        if (message.at("role") == "user")
            typed.push_back(boost::json::value_to<std::string>(message.at("typed")));
    }
    return typed;
}

}  // namespace quorvane::testing
