// Stopping the wait for a reply (at once between turns, queued while a turn runs, keeping what
// the reply showed so far), and reconciliation after an account switch or when the number of
// reply watches changes while the page stays the same.

#include <gtest/gtest.h>

#include "RunLoopHarness.hpp"

namespace quorvane::testing {
namespace {

class StopAndSwitchTest : public RunLoopTest {
protected:
    // A request whose reply is being written: "Half of an answer" so far, the page busy.
    std::string requestWithPartialReply()
    {
        startConnected();
        const std::string id = send("Tell me everything");
        advance(1);
        page().state.busy = true;
        answer(id, "Half of an answer");
        advance(0.5);
        EXPECT_TRUE(controller->liveReply);
        return id;
    }
};

TEST_F(StopAndSwitchTest, StopWhileATurnRunsIsFinishedAtItsEndKeepingThePartialReply)
{
    const std::string id = requestWithPartialReply();
    page().inspectDelay = 0.2;
    advance(0.55);  // the next turn is waiting for its snapshot
    ASSERT_TRUE(controller->busy);
    // What "stopWaiting" does while a turn runs: it only queues the request.
    controller->stopRequests.insert(id);
    EXPECT_TRUE(job(id));
    advance(0.2);
    EXPECT_FALSE(controller->busy);
    EXPECT_FALSE(job(id));
    EXPECT_TRUE(controller->stopRequests.empty());
    EXPECT_EQ(statusOf(id), "unconfirmed");
    ASSERT_TRUE(message(id + "-reply"));
    EXPECT_EQ(message(id + "-reply")->text, "Half of an answer");
    EXPECT_FALSE(controller->liveReply);
    EXPECT_EQ(controller->candidate, "");
    EXPECT_FALSE(published.back().liveReply);
}

TEST_F(StopAndSwitchTest, StopBetweenTurnsAndStopOfARequestThatCannotStop)
{
    const std::string id = requestWithPartialReply();
    const std::string queued = send("Next one");
    controller->stopRequests = { id, queued, "no such request" };
    controller->finishStopRequests();
    EXPECT_FALSE(job(id));
    EXPECT_EQ(message(id + "-reply")->text, "Half of an answer");
    EXPECT_TRUE(job(queued)) << "a queued request is not waiting for anything";
    EXPECT_EQ(controller->issue, "This message is still being processed. Check its status first.");
    EXPECT_TRUE(controller->stopRequests.empty());
}

// A finished request stays watched; a part that its bot adds later is filed as well, found by
// reconciliation. Reconciliation runs when the page changed, and also when only the number of
// watches did.
TEST_F(StopAndSwitchTest, ChangedWatchCountReconcilesAnUnchangedPage)
{
    startConnected();
    const std::string id = send("Two parts, please");
    advance(1);
    answer(id, "Part one");
    answer(id, "Part two");
    advance(1);
    ASSERT_TRUE(controller->lastRemoteMessages);
    // The page stays as it is; the watch of a request that is already answered on it appears
    // (as when a stopped request's watch is restored).
    PendingRequest watched = *job(id);
    controller->transaction([&](Vault& vault) {
        Account& account = vault.account();
        std::erase_if(account.jobs, [&](const PendingRequest& j) { return j.id == id; });
        account.replyWatches = CowVector<ReplyWatch> { ReplyWatch { watched, {}, false } };
    });
    EXPECT_FALSE(message(id + "-reply"));
    advance(0.5);
    ASSERT_TRUE(message(id + "-reply"));
    EXPECT_EQ(message(id + "-reply")->text, "Part one\n\nPart two");
    EXPECT_EQ(controller->lastWatchCount, 1);
}

TEST_F(StopAndSwitchTest, AfterAnAccountSwitchTheFirstTurnReconciles)
{
    // The second account has a finished request whose later part is on its page.
    Vault vault = connectedVault();
    Account second = Account::fresh();
    second.connectedOnce = true;
    second.dotURL = kConversation;
    PendingRequest earlier = PendingRequest::make("R9", second.bots.front(), "Earlier");
    earlier.replyToken = "0a0b0c0d0e0f";
    earlier.payload = "[Quorvane request R9]\n[Reply tag: [qv:0a0b0c0d0e0f]]\nEarlier";
    earlier.phase = JobPhase::waiting;
    second.messages = CowVector<ChatMessage> { ChatMessage { "R9", "dot", MessageRole::user, "Earlier", kOrigin, MessageStatus::sent } };
    second.replyWatches = CowVector<ReplyWatch> { ReplyWatch { earlier, {}, false } };
    vault.accounts.push_back(second);
    startConnected(vault);
    advance(1);

    transports.prepare = [&](FakePage& page) {
        page.state.url = kConversation;
        page.add("user", earlier.payload.str());
        page.add("assistant", "[qv:0a0b0c0d0e0f]\n\nA part that came later");
    };
    controller->transaction([&](Vault& v) { v.selectAccount(second.id); });
    controller->resetForActiveAccount();
    EXPECT_EQ(controller->lastWatchCount, -1);
    EXPECT_FALSE(controller->lastRemoteMessages);
    controller->connect();
    advance(0.5);
    ASSERT_TRUE(message("R9-reply"));
    EXPECT_EQ(message("R9-reply")->text, "A part that came later");
    EXPECT_EQ(controller->lastWatchCount, 1);
}

}  // namespace
}  // namespace quorvane::testing
