// One message to the primary bot, down the whole road: typed into the page's composer, typed
// by Quorvane into the Dot page with its envelope, answered by the simulator in pieces that the
// page shows as a live reply, filed under the bot, and still there after a restart, read back
// from the encrypted vault.

#include <fstream>
#include <sstream>

#include <boost/json/serialize.hpp>

#include "Conversation.hpp"
#include "EndToEndTest.hpp"

namespace quorvane::testing {

namespace {

std::string fileText(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
}

// Every text the Dot page's composer sent, over all of the simulator's conversations.
std::vector<std::string> typedIntoDot(Simulator& sim)
{
    std::vector<std::string> typed;
    const auto state = sim.controlGet("state");
    for (const auto& summary : state.at("conversations").as_array()) {
        auto id = stringAt(summary, "id");
        const auto conversation = sim.controlGet("conversations/" + id);
        for (const auto& message : conversation.at("messages").as_array()) {
            if (stringAt(message, "role") == "user")
                typed.push_back(stringAt(message, "typed"));
        }
    }
    return typed;
}

}  // namespace

using MessageRoadTest = EndToEndTest;

TEST_F(MessageRoadTest, AMessageIsAnsweredLiveFiledAndStillThereAfterARestart)
{
    launch();
    EXPECT_EQ(answer(post("connect")), boost::json::value(nullptr));
    ASSERT_TRUE(waitFor("the connection \"connected\"",
        [](const boost::json::value& s) { return stringAt(s, "connection") == "connected"; }));

    Conversation chat(*app);
    const std::string botID = chat.selectedBotID();
    const std::string name = chat.botName(botID);
    // A slow answer, so that the page sees it grow.
    sim->control("next-answer", R"({"firstDelayMs": 300, "durationMs": 6000})");
    const std::string words = "What grows in a quiet garden?";
    const std::string messageID = chat.send(words);

    EXPECT_TRUE(waitFor("a live reply from " + name, [&](const boost::json::value& s) {
        const auto* live = s.as_object().if_contains("liveReplies");
        if (!live || !live->is_array())
            return false;
        for (const auto& reply : live->as_array()) {
            if (stringAt(reply, "botID") == botID && stringAt(reply, "status") == "streaming"
                && !stringAt(reply, "text").empty())
                return true;
        }
        return false;
    }));
    auto reply = chat.awaitFiledReply(messageID);
    EXPECT_EQ(stringAt(reply, "botID"), botID);
    EXPECT_NE(stringAt(reply, "text").find(words), std::string::npos) << boost::json::serialize(reply);
    EXPECT_NE(stringAt(reply, "text").find(name), std::string::npos) << boost::json::serialize(reply);
    EXPECT_TRUE(waitFor("the user's message marked sent and no live reply left", [&](const boost::json::value& s) {
        for (const auto& m : messagesOf(s)) {
            if (stringAt(m, "id") == messageID)
                return stringAt(m, "status") == "sent" && s.at("liveReplies").as_array().empty();
        }
        return false;
    }));

    // What Quorvane typed into the Dot page: the request's envelope, the bot's conversation,
    // and the user's words after the marker.
    auto typed = typedIntoDot(*sim);
    ASSERT_EQ(typed.size(), 1u);
    EXPECT_EQ(typed[0].rfind("[Quorvane request ", 0), 0u) << typed[0];
    EXPECT_NE(typed[0].find("[Conversation: " + name + "]"), std::string::npos) << typed[0];
    EXPECT_NE(typed[0].find("[User message]\n" + words), std::string::npos) << typed[0];

    // After a restart the page gets both messages back from the vault, which holds no
    // readable copy of them.
    const std::string replyID = stringAt(reply, "id");
    restart();
    EXPECT_TRUE(waitFor("the conversation back after the restart", [&](const boost::json::value& s) {
        bool asked = false, answered = false;
        for (const auto& m : messagesOf(s)) {
            asked = asked || (stringAt(m, "id") == messageID && stringAt(m, "text") == words);
            answered = answered || (stringAt(m, "id") == replyID && stringAt(m, "status") == "sent");
        }
        return asked && answered;
    }));
    auto vault = fileText(folder / "app" / "data" / "Quorvane" / "vault.enc");
    EXPECT_FALSE(vault.empty());
    EXPECT_EQ(vault.find("quiet garden"), std::string::npos);
    EXPECT_EQ(typedIntoDot(*sim).size(), 1u) << "The restart sent the message again.";
}

}  // namespace quorvane::testing
