// A handoff through the run loop and the real engine: the primary bot's reply is a handoff
// block that is still being written (it must not be taken for a finished reply after 3 s), then
// finished; the teammate's request runs on the page; its answer shows in both conversations
// while it streams and reaches the delegating bot when accepted; and the user's message settles.

#include <gtest/gtest.h>

#include "RunLoopHarness.hpp"

namespace quorvane::testing {
namespace {

class HandoffRunTest : public RunLoopTest {
protected:
    // Waits for the first request to be followed on the page (its turn found).
    std::string waitForTurnOfFirstRequest()
    {
        advanceUntil(
            [&] {
                const auto& jobs = controller->vault().account().jobs;
                return !jobs.empty() && jobs.front().phase == JobPhase::waiting;
            },
            10);
        return controller->vault().account().jobs.front().id.str();
    }
};

TEST_F(HandoffRunTest, TeammateRunsAndItsAnswerReachesTheDelegatingBot)
{
    startConnected(vaultWithMuse());
    const std::string root = send("Please get me a haiku about the sea");
    EXPECT_EQ(waitForTurnOfFirstRequest(), root);

    // The primary bot starts a handoff block and pauses in the middle of it.
    const std::string opening = "I\u2019ll ask Muse.\n\n```quorvane-handoff\n{\"request_id\":\"" + root + "\"";
    const std::string part = answer(root, opening);
    advance(10);
    EXPECT_TRUE(job(root)) << "an unfinished handoff block is not a finished reply";
    ASSERT_TRUE(controller->liveReply);
    EXPECT_EQ(controller->liveReply->isRouting, std::optional<bool>(true));

    grow(part, opening + ",\"handoffs\":[{\"to\":\"muse\",\"task\":\"Write a haiku about the sea\"}]}\n```");
    advanceUntil([&] { return !job(root); }, 5);
    ASSERT_FALSE(job(root)) << "the finished block is accepted";
    EXPECT_EQ(statusOf(root), "delegated");

    // The teammate's request runs next, on the page.
    const std::string teammate = waitForTurnOfFirstRequest();
    ASSERT_NE(teammate, root);
    EXPECT_EQ(job(teammate)->botID, "muse");
    EXPECT_NE(page().state.messages.back().text.find("Write a haiku about the sea"), std::string::npos);

    page().state.busy = true;
    answer(teammate, "Waves fold into foam");
    advance(0.5);
    ASSERT_TRUE(published.back().liveReply);
    ASSERT_EQ(published.back().liveReplies.size(), 2u) << "the teammate's answer shows for Dot too";
    EXPECT_EQ(published.back().liveReplies[1].botID, "dot");

    page().state.busy = false;
    advanceUntil([&] { return controller->vault().account().jobs.empty(); }, 10);
    // Whatever the engine queues after the teammate (a report back, say) runs the same way.
    for (int round = 0; round < 3 && !controller->vault().account().jobs.empty(); ++round) {
        const std::string next = waitForTurnOfFirstRequest();
        answer(next, "All done.");
        advanceUntil([&] { return !job(next); }, 10);
    }
    EXPECT_TRUE(controller->vault().account().jobs.empty());

    ASSERT_TRUE(message(teammate + "-reply"));
    EXPECT_EQ(message(teammate + "-reply")->botID, "muse");
    EXPECT_EQ(message(teammate + "-reply")->text, "Waves fold into foam");
    const ChatMessage* copy = message(teammate + "-reply-handoff-result-dot");
    ASSERT_TRUE(copy) << "the delegating bot receives the teammate's answer";
    EXPECT_EQ(copy->botID, "dot");
    EXPECT_EQ(copy->text, "Waves fold into foam");
    EXPECT_EQ(statusOf(root), "sent");
    const auto& handoffs = controller->vault().account().handoffs;
    ASSERT_TRUE(handoffs && handoffs->size() == 1);
    EXPECT_EQ((*handoffs)[0].status, HandoffStatus::complete);
}

// A handoff block that is never finished is not waited for forever: once it has stayed the same
// for more than 30 s with the page at rest, it is taken as the reply it is.
TEST_F(HandoffRunTest, UnfinishedHandoffBlockIsTakenAfterMoreThan30Seconds)
{
    startConnected(vaultWithMuse());
    const std::string root = send("Please get me a haiku about the sea");
    EXPECT_EQ(waitForTurnOfFirstRequest(), root);
    const std::string opening = "I\u2019ll ask Muse.\n\n```quorvane-handoff\n{\"request_id\":\"" + root + "\"";
    answer(root, opening);
    advanceUntil([&] { return controller->liveReply.has_value(); }, 1);
    ASSERT_TRUE(controller->liveReply);
    const Date firstRead = controller->candidateSince;
    EXPECT_EQ(firstRead, now());

    advance(30);  // a turn runs exactly 30 s after the first reading
    EXPECT_TRUE(job(root)) << "30 s are not more than 30 s";
    EXPECT_TRUE(controller->liveReply);
    advance(0.5);
    EXPECT_FALSE(job(root));
    EXPECT_FALSE(controller->liveReply);
    ASSERT_TRUE(message(root + "-reply"));
    EXPECT_EQ(message(root + "-reply")->botID, "dot");
    EXPECT_FALSE(controller->vault().account().handoffs) << "no teammate was asked";
    EXPECT_TRUE(controller->vault().account().jobs.empty());
}

}  // namespace
}  // namespace quorvane::testing
