// A crew at work: two teammates added as the bot editor saves them, the primary bot asked to
// involve one of them; the handoff runs, the teammate answers in its own conversation, the
// copy reaches the primary bot and the root request settles. Then an answer that belongs to no
// request appears as an unassigned reply and is filed under a bot from the page.

#include <boost/json/serialize.hpp>

#include "Conversation.hpp"
#include "EndToEndTest.hpp"

namespace quorvane::testing {

using CrewTest = EndToEndTest;

TEST_F(CrewTest, AHandoffRunsThroughATeammateAndAnUnassignedReplyIsFiledFromThePage)
{
    launch();
    Conversation chat(*app);
    chat.connect();
    const std::string muse = chat.addTeammate("Muse", "A poet who answers in short verse.");
    const std::string sage = chat.addTeammate("Sage", "A careful reviewer who checks facts.");
    // The primary bot, "dot", is the one asked; the editor left the last teammate selected.
    const std::string primary = "dot";
    chat.select(primary);
    const std::string root = chat.send("Please ask Muse to write a haiku about the sea.");
    const auto museAnswer = chat.awaitHandoff(root, primary, muse);
    EXPECT_NE(stringAt(museAnswer, "text").find("Muse"), std::string::npos) << boost::json::serialize(museAnswer);

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
