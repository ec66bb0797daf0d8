#pragma once

// The scripted conversation that the scenarios and the headless demo share: the user's side
// of a chat, done in the interface page as a person does it (typing into the composer, pressing
// Send), and the waits that follow a message down its road.

#include <string>

#include <boost/json/value.hpp>

#include "AppProcess.hpp"

namespace quorvane::testing {

class Conversation {
public:
    explicit Conversation(AppProcess& app)
        : app_(app)
    {
    }

    // The selected bot of the page's state: its id and name.
    std::string selectedBotID();
    std::string botName(const std::string& botID);

    // Types `text` into the composer (as input events do) without sending it.
    void type(const std::string& text);
    // What the composer holds now.
    std::string composerText();
    // Presses Send once it is enabled.
    void pressSend();

    // Types and sends `text` to the selected bot; waits until the page holds the user's
    // message, and answers its id.
    std::string send(const std::string& text);
    // Waits until the reply to the user's message `messageID` (the bot's first answer after
    // it) is filed with status "sent"; answers that reply.
    boost::json::value awaitFiledReply(const std::string& messageID, double seconds = 120);

private:
    AppProcess& app_;
};

}  // namespace quorvane::testing
