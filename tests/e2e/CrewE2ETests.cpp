// A crew at work: two teammates added as the bot editor saves them, the primary bot asked to
// involve one of them; the handoff runs, the teammate answers in its own conversation, the
// copy reaches the primary bot and the root request settles. Then an answer that belongs to no
// request appears as an unassigned reply and is filed under a bot from the page.

#include <boost/json/serialize.hpp>

#include "Conversation.hpp"
#include "EndToEndTest.hpp"

namespace quorvane::testing {

namespace {

std::string botNamed(const boost::json::value& state, const std::string& name)
{
    for (const auto& bot : state.at("account").at("bots").as_array()) {
        if (stringAt(bot, "name") == name)
            return stringAt(bot, "id");
    }
    return "";
}

// An array member of the account that may be absent.
const boost::json::array& accountList(const boost::json::value& state, const char* key)
{
    static const boost::json::array none;
    const auto* list = state.at("account").as_object().if_contains(key);
    return list && list->is_array() ? list->as_array() : none;
}

}  // namespace

using CrewTest = EndToEndTest;

TEST_F(CrewTest, AHandoffRunsThroughATeammateAndAnUnassignedReplyIsFiledFromThePage)
{
    launch();
    EXPECT_EQ(answer(post("connect")), boost::json::value(nullptr));
    ASSERT_TRUE(waitFor("the connection \"connected\"",
        [](const boost::json::value& s) { return stringAt(s, "connection") == "connected"; }));
    for (const auto& [name, personality] : { std::pair { "Muse", "A poet who answers in short verse." },
             std::pair { "Sage", "A careful reviewer who checks facts." } }) {
        EXPECT_EQ(
            answer(post("saveBot", { { "name", name }, { "personality", personality } })), boost::json::value(nullptr));
    }
    ASSERT_TRUE(waitFor("both teammates in the state",
        [](const boost::json::value& s) { return !botNamed(s, "Muse").empty() && !botNamed(s, "Sage").empty(); }));
    const auto before = state();
    const std::string muse = botNamed(before, "Muse"), sage = botNamed(before, "Sage");

    Conversation chat(*app);
    const std::string primary = chat.selectedBotID();
    const std::string root = chat.send("Please ask Muse to write a haiku about the sea.");

    std::string museAnswerText;
    EXPECT_TRUE(waitFor(
        "Muse's answer in its own conversation and its copy with the primary bot, the root settled",
        [&](const boost::json::value& s) {
            bool handedOver = false, answered = false, copied = false, settled = false;
            for (const auto& m : messagesOf(s)) {
                const auto bot = stringAt(m, "botID"), role = stringAt(m, "role");
                handedOver = handedOver || (bot == muse && role == "handoff");
                if (bot == muse && role == "assistant" && stringAt(m, "status") == "sent") {
                    answered = true;
                    museAnswerText = stringAt(m, "text");
                }
                copied = copied || (bot == primary && stringAt(m, "sourceBotID") == muse);
                if (stringAt(m, "id") == root)
                    settled = stringAt(m, "status") == "sent";
            }
            return handedOver && answered && copied && settled && accountList(s, "jobs").empty();
        },
        180));
    EXPECT_NE(museAnswerText.find("Muse"), std::string::npos) << museAnswerText;

    // An answer that no request asked for.
    const auto simState = sim->controlGet("state");
    ASSERT_EQ(simState.at("conversations").as_array().size(), 1u);
    const auto conversation = stringAt(simState.at("conversations").as_array()[0], "id");
    sim->control("inject",
        boost::json::serialize(
            boost::json::object { { "conversation", conversation }, { "text", "A note that nobody asked for." } }));
    std::string unassigned;
    ASSERT_TRUE(waitFor("the unassigned reply in the page", [&](const boost::json::value& s) {
        for (const auto& reply : accountList(s, "unassignedReplies")) {
            if (stringAt(reply.at("message"), "text").find("nobody asked") != std::string::npos)
                unassigned = stringAt(reply, "id");
        }
        return !unassigned.empty();
    }));
    const std::string accountID = stringAt(state().at("account"), "id");
    EXPECT_EQ(answer(post("assignReply", { { "accountID", accountID }, { "id", unassigned }, { "botID", sage } })),
        boost::json::value(nullptr));
    EXPECT_TRUE(waitFor("the reply filed under Sage", [&](const boost::json::value& s) {
        bool filed = false;
        for (const auto& m : messagesOf(s))
            filed = filed
                || (stringAt(m, "botID") == sage && stringAt(m, "text").find("nobody asked") != std::string::npos);
        return filed && accountList(s, "unassignedReplies").empty();
    }));
}

}  // namespace quorvane::testing
