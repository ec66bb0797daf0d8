// Two Dot connections: a second account added from the page, a switch refused while a request
// of the active account is pending, and each account keeping its own profile (the primary bot's
// name and picture) and its own conversation. The simulator serves one Dot user at a time, so
// its profile is set to the user of the account that is about to connect.

#include <boost/json/serialize.hpp>

#include "Conversation.hpp"
#include "EndToEndTest.hpp"

namespace quorvane::testing {

namespace {

const boost::json::value& primaryBot(const boost::json::value& state)
{
    for (const auto& bot : state.at("account").at("bots").as_array()) {
        if (stringAt(bot, "id") == "dot")
            return bot;
    }
    throw std::runtime_error("The account has no primary bot.");
}

bool holdsText(const boost::json::value& state, const std::string& words)
{
    for (const auto& m : messagesOf(state)) {
        if (stringAt(m, "text").find(words) != std::string::npos)
            return true;
    }
    return false;
}

}  // namespace

using AccountsTest = EndToEndTest;

TEST_F(AccountsTest, TwoConnectionsKeepTheirOwnProfileAndConversationAndNoSwitchWhileARequestIsPending)
{
    launch();
    Conversation chat(*app);
    chat.connect();
    const std::string first = "Note for the first account.";
    chat.awaitFiledReply(chat.send(first));
    ASSERT_TRUE(waitFor("the first account's picture", [](const boost::json::value& s) {
        return !stringAt(primaryBot(s), "image").empty() && stringAt(primaryBot(s), "name") == "Dot";
    }));
    const auto before = state();
    const std::string firstAccount = stringAt(before.at("account"), "id");
    const std::string firstPicture = stringAt(primaryBot(before), "image");

    // A second Dot user, and a second connection for it.
    sim->control("profile", R"({"name": "Nova", "color": "#2a9d8f"})");
    EXPECT_EQ(chat.command("switch"), boost::json::value(nullptr));
    ASSERT_TRUE(waitFor("the second account connected with its own profile", [&](const boost::json::value& s) {
        const auto& bot = primaryBot(s);
        return stringAt(s.at("account"), "id") != firstAccount && stringAt(s, "connection") == "connected"
            && stringAt(bot, "name") == "Nova" && !stringAt(bot, "image").empty()
            && stringAt(bot, "image") != firstPicture && s.at("accounts").as_array().size() == 2;
    }));
    const std::string secondAccount = stringAt(state().at("account"), "id");
    EXPECT_FALSE(holdsText(state(), first)) << "the second account starts with a conversation of its own";

    // No switch while its request waits for the answer.
    sim->control("next-answer", R"({"firstDelayMs": 3000, "durationMs": 3000})");
    const std::string second = "Note for the second account.";
    const std::string pending = chat.send(second);
    EXPECT_EQ(chat.command("switch", { { "id", firstAccount } }),
        boost::json::value("Wait for pending replies before switching accounts."));
    chat.awaitFiledReply(pending);

    sim->control("profile", R"({"name": "Dot", "color": "#6d5efc"})");
    EXPECT_EQ(chat.command("switch", { { "id", firstAccount } }), boost::json::value(nullptr));
    EXPECT_TRUE(waitFor("the first account back with its own conversation", [&](const boost::json::value& s) {
        return stringAt(s.at("account"), "id") == firstAccount && stringAt(s, "connection") == "connected"
            && holdsText(s, first) && !holdsText(s, second) && stringAt(primaryBot(s), "name") == "Dot";
    }));
    const auto back = state();
    EXPECT_EQ(stringAt(primaryBot(back), "image"), firstPicture);
    for (const auto& account : back.at("accounts").as_array())
        EXPECT_EQ(account.at("active").as_bool(), stringAt(account, "id") == firstAccount);

    // The second account's conversation is still its own.
    sim->control("profile", R"({"name": "Nova", "color": "#2a9d8f"})");
    EXPECT_EQ(chat.command("switch", { { "id", secondAccount } }), boost::json::value(nullptr));
    EXPECT_TRUE(waitFor("the second account back with its own conversation", [&](const boost::json::value& s) {
        return stringAt(s.at("account"), "id") == secondAccount && stringAt(s, "connection") == "connected"
            && holdsText(s, second) && !holdsText(s, first) && stringAt(primaryBot(s), "name") == "Nova";
    }));
}

}  // namespace quorvane::testing
