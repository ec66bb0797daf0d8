#include "Conversation.hpp"

#include <glib.h>

#include <functional>
#include <stdexcept>

#include <boost/json/serialize.hpp>

#include "EndToEndTest.hpp"

namespace quorvane::testing {

namespace {

boost::json::value findMessage(
    const boost::json::value& state, const std::function<bool(const boost::json::value&)>& match)
{
    for (const auto& message : messagesOf(state)) {
        if (match(message))
            return message;
    }
    return nullptr;
}

}  // namespace

boost::json::value Conversation::command(const std::string& name, const boost::json::object& data)
{
    return app_.answer(app_.post(name, data));
}

void Conversation::connect()
{
    if (auto error = command("connect"); !error.is_null())
        throw std::runtime_error("connect failed: " + boost::json::serialize(error));
    auto connected = waitForState(app_, "the connection \"connected\"",
        [](const boost::json::value& s) { return stringAt(s, "connection") == "connected"; });
    if (!connected)
        throw std::runtime_error(connected.message());
}

void Conversation::signInInDotWindow()
{
    // Each script answers true once it pressed its button, false while the page is not there yet.
    const auto press = [&](const char* window, const char* script, const char* what) {
        const double deadline = double(g_get_monotonic_time()) / G_USEC_PER_SEC + 60;
        for (;;) {
            try {
                if (app_.runInWindow(window, script) == boost::json::value(true))
                    return;
            } catch (const std::runtime_error&) {
                // The window is not there yet.
            }
            if (double(g_get_monotonic_time()) / G_USEC_PER_SEC > deadline)
                throw std::runtime_error(std::string("Never found ") + what + ".");
            g_usleep(200000);
        }
    };
    press("Your Dot", R"(
        const button = document.querySelector('[data-testid="login-button"]');
        if (!button) return false;
        button.click();
        return true;)",
        "the Dot window's Sign in button");
    press("Sign in to Dot", R"(
        const submit = document.querySelector('[data-testid="sign-in-submit"]');
        if (!submit) return false;
        submit.click();
        return true;)",
        "the sign-in window's form");
}

std::string Conversation::botNamed(const std::string& name)
{
    auto id = app_.run("const bot = window.quorvaneTestDriver.state?.account?.bots?.find((b) => b.name === argument);"
                       "return bot ? bot.id : null;",
        name);
    return id.is_string() ? std::string(id.as_string()) : "";
}

std::string Conversation::addTeammate(const std::string& name, const std::string& personality)
{
    if (auto error = command("saveBot", { { "name", name }, { "personality", personality } }); !error.is_null())
        throw std::runtime_error("saveBot failed: " + boost::json::serialize(error));
    std::string id;
    auto added = waitForState(app_, name + " in the state", [&](const boost::json::value&) {
        id = botNamed(name);
        return !id.empty();
    });
    if (!added)
        throw std::runtime_error(added.message());
    return id;
}

void Conversation::select(const std::string& botID)
{
    if (auto error = command("select", { { "id", botID } }); !error.is_null())
        throw std::runtime_error("select failed: " + boost::json::serialize(error));
    auto selected = waitForState(app_, botID + " selected",
        [&](const boost::json::value& s) { return stringAt(s.at("account"), "selectedBot") == botID; });
    if (!selected)
        throw std::runtime_error(selected.message());
}

std::string Conversation::selectedBotID()
{
    return app_.run("return window.quorvaneTestDriver.state?.account?.selectedBot ?? null;").as_string().c_str();
}

std::string Conversation::botName(const std::string& botID)
{
    auto name = app_.run("const bot = window.quorvaneTestDriver.state.account.bots.find((b) => b.id === argument);"
                         "return bot ? bot.name : null;",
        botID);
    if (!name.is_string())
        throw std::runtime_error("No bot " + botID + " in the page's state.");
    return name.as_string().c_str();
}

void Conversation::type(const std::string& text)
{
    // The page's textarea is controlled by its own script: the value goes in through the
    // element's own setter and an input event, the way typing reaches it.
    app_.run(R"(
        const field = document.querySelector('form.composer textarea');
        if (!field) throw new Error('The page shows no composer.');
        field.focus();
        Object.getOwnPropertyDescriptor(HTMLTextAreaElement.prototype, 'value').set.call(field, argument);
        field.dispatchEvent(new InputEvent('input', { bubbles: true, inputType: 'insertText', data: argument }));
        return true;)",
        text);
}

std::string Conversation::composerText()
{
    auto text = app_.run("return document.querySelector('form.composer textarea')?.value ?? null;");
    return text.is_string() ? std::string(text.as_string()) : "";
}

void Conversation::pressSend()
{
    double deadline = double(g_get_monotonic_time()) / G_USEC_PER_SEC + 60;
    for (;;) {
        auto pressed = app_.run(R"(
            const button = document.querySelector('form.composer button.send-button');
            if (!button) return 'The page shows no Send button.';
            if (button.disabled) return button.title || 'disabled';
            button.click();
            return true;)");
        if (pressed == boost::json::value(true))
            return;
        if (double(g_get_monotonic_time()) / G_USEC_PER_SEC > deadline)
            throw std::runtime_error("Send stayed unavailable: " + boost::json::serialize(pressed));
        g_usleep(100000);
    }
}

std::string Conversation::send(const std::string& text)
{
    const std::string botID = selectedBotID();
    type(text);
    pressSend();
    std::string id;
    auto found
        = waitForState(app_, "the user's message \"" + text + "\" in the page", [&](const boost::json::value& state) {
              auto message = findMessage(state, [&](const boost::json::value& m) {
                  return stringAt(m, "role") == "user" && stringAt(m, "text") == text && stringAt(m, "botID") == botID;
              });
              if (message.is_null())
                  return false;
              id = stringAt(message, "id");
              return true;
          });
    if (!found)
        throw std::runtime_error(found.message());
    return id;
}

boost::json::value Conversation::awaitFiledReply(const std::string& messageID, double seconds)
{
    // The reply is the bot's first answer after the user's message in its conversation.
    boost::json::value reply;
    auto filed = waitForState(
        app_, "the reply to " + messageID + " filed",
        [&](const boost::json::value& state) {
            reply = nullptr;
            std::string botID;
            for (const auto& m : messagesOf(state)) {
                if (stringAt(m, "id") == messageID) {
                    botID = stringAt(m, "botID");
                } else if (!botID.empty() && stringAt(m, "botID") == botID && stringAt(m, "role") == "assistant") {
                    if (stringAt(m, "status") == "sent")
                        reply = m;
                    break;
                }
            }
            return !reply.is_null();
        },
        seconds);
    if (!filed)
        throw std::runtime_error(filed.message());
    return reply;
}

boost::json::value Conversation::awaitHandoff(
    const std::string& rootID, const std::string& primaryID, const std::string& teammateID, double seconds)
{
    boost::json::value answer;
    auto settled = waitForState(
        app_, "the teammate's answer in its own conversation, its copy with the primary bot, the root settled",
        [&](const boost::json::value& s) {
            bool handedOver = false, copied = false, rootSent = false;
            answer = nullptr;
            for (const auto& m : messagesOf(s)) {
                const auto bot = stringAt(m, "botID"), role = stringAt(m, "role");
                handedOver = handedOver || (bot == teammateID && role == "handoff");
                if (bot == teammateID && role == "assistant" && stringAt(m, "status") == "sent")
                    answer = m;
                copied = copied || (bot == primaryID && stringAt(m, "sourceBotID") == teammateID);
                if (stringAt(m, "id") == rootID)
                    rootSent = stringAt(m, "status") == "sent";
            }
            const bool idle = accountList(s, "jobs").empty();
            return handedOver && !answer.is_null() && copied && rootSent && idle;
        },
        seconds);
    if (!settled)
        throw std::runtime_error(settled.message());
    return answer;
}

}  // namespace quorvane::testing
