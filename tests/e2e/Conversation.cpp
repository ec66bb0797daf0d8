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

}  // namespace quorvane::testing
