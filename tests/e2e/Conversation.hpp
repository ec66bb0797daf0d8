#pragma once

// The scripted conversation that the scenarios and the headless demo share: the user's side
// of a chat, done in the interface page as a person does it (typing into the composer, pressing
// Send), and the waits that follow a message down its road.

#include <string>

#include <boost/json/object.hpp>
#include <boost/json/value.hpp>

#include "AppProcess.hpp"

namespace quorvane::testing {

class Conversation {
public:
    explicit Conversation(AppProcess& app)
        : app_(app)
    {
    }

    // Posts `command` as the page does and waits for the shell's answer: null or the sentence.
    boost::json::value command(const std::string& name, const boost::json::object& data = {});
    // Connects and waits for the connection "connected".
    void connect();
    // Adds a teammate as the bot editor saves one; answers its id once the state holds it.
    std::string addTeammate(const std::string& name, const std::string& personality);
    // Signs in as the user does in the Dot window (shown already): its Sign in button opens the
    // sign-in window, whose form (filled in by the service) is submitted there.
    void signInInDotWindow();
    // The id of the bot called `name` in the page's state, empty when there is none.
    std::string botNamed(const std::string& name);

    // Selects the bot `botID` as the page does, and waits until the state shows it selected.
    void select(const std::string& botID);

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

    // Waits until the request `rootID` to `primaryID` has handed over to `teammateID` and settled:
    // the handoff is in the teammate's conversation, the teammate's answer is filed there, its
    // copy reached the primary bot, the request is "sent" and no job is left. Answers the
    // teammate's answer.
    boost::json::value awaitHandoff(
        const std::string& rootID, const std::string& primaryID, const std::string& teammateID, double seconds = 180);

private:
    AppProcess& app_;
};

}  // namespace quorvane::testing
