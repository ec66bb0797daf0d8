// Which page changes let a turn skip reconciliation, and the property that makes skipping safe:
// after every turn of a streaming reply, the account is exactly what a full reconciliation of the
// page would leave, also when a watched request's late part arrives while the reply streams.

#include <gtest/gtest.h>

#include "PageChange.hpp"
#include "RunLoopHarness.hpp"
#include "quorvane/ReplyCorrelation.hpp"

namespace quorvane::testing {
namespace {

PendingRequest request(std::string id, std::optional<std::string> token, std::string turn)
{
    PendingRequest job;
    job.id = id;
    job.botID = "dot";
    job.payload = "[Quorvane request " + id + "]\n" + (token ? "[Reply tag: [qv:" + *token + "]]\n" : "") + "Hello";
    if (token)
        job.replyToken = *token;
    job.userMessageID = turn;
    job.phase = JobPhase::waiting;
    return job;
}

DotMessage user(std::string id, const PendingRequest& job) { return { id, "user", job.payload }; }
DotMessage tagged(std::string id, const std::string& token, std::string text)
{
    return { id, "assistant", "[qv:" + token + "]\n\n" + text };
}

TEST(PageChange, WhatSkipsReconciliation)
{
    const PendingRequest live = request("LIVE", "aaaaaaaaaaaa", "t2");
    const PendingRequest watched = request("OLD", std::nullopt, "t1");
    const std::vector<DotMessage> before = {
        user("t1", watched),
        { "a1", "assistant", "An untagged answer" },
        user("t2", live),
        tagged("r1", "aaaaaaaaaaaa", "Begin"),
    };
    Account account;
    account.jobs = { live };
    account.replyWatches = CowVector<ReplyWatch> { ReplyWatch { watched, { "a1" }, false } };

    struct Case {
        const char* name;
        std::function<void(std::vector<DotMessage>&, Account&)> change;
        PageChange expected;
    };
    const std::vector<Case> cases = {
        { "nothing", [](auto&, auto&) {}, PageChange::none },
        { "the reply grew", [](auto& page, auto&) { page[3].text = page[3].text.str() + " and more"; },
            PageChange::firstReplyOnly },
        { "a reply part appended",
            [](auto& page, auto&) { page.push_back(tagged("r2", "aaaaaaaaaaaa", "Second part")); },
            PageChange::firstReplyOnly },
        { "a watched reply changed", [](auto& page, auto&) { page[1].text = "An untagged answer, edited"; },
            PageChange::other },
        { "another request's tagged part appended",
            [](auto& page, auto&) { page.push_back(tagged("x9", "bbbbbbbbbbbb", "Not ours")); }, PageChange::other },
        { "an untagged message appended",
            [](auto& page, auto&) {
                page.push_back({ "s1", "assistant", "A stray" });
            },
            PageChange::other },
        { "a message gone", [](auto& page, auto&) { page.erase(page.begin() + 1); }, PageChange::other },
        { "a user turn appended",
            [](auto& page, auto&) {
                page.push_back({ "u9", "user", "Typed in Dot" });
            },
            PageChange::other },
        { "the reply was offered as unassigned",
            [](auto& page, auto& account) {
                page[3].text = page[3].text.str() + "!";
                account.unassignedReplies = std::vector<UnassignedReply> { UnassignedReply { "r1", page[3], 0 } };
            },
            PageChange::other },
        { "the first request is watched too",
            [&](auto& page, auto& account) {
                page[3].text = page[3].text.str() + "!";
                account.replyWatches->push_back(ReplyWatch { live, {}, false });
            },
            PageChange::other },
        { "no request in the queue",
            [](auto& page, auto& account) {
                page[3].text = page[3].text.str() + "!";
                account.jobs.clear();
            },
            PageChange::other },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<DotMessage> now = before;
        Account changed = account;
        c.change(now, changed);
        EXPECT_EQ(pageChange(changed, before, now), c.expected);
    }
}

class StreamingReconciliationTest : public RunLoopTest {
protected:
    // The account is what a full reconciliation of the page it sees would leave.
    void expectReconciled(const char* when)
    {
        SCOPED_TRACE(when);
        Account full = controller->vault().account();
        full.reconcileReplies(uniqueDotMessages(page().state.messages), now());
        full.collectUnassignedReplies(uniqueDotMessages(page().state.messages), now());
        EXPECT_EQ(full, controller->vault().account());
    }
};

TEST_F(StreamingReconciliationTest, AccountStaysReconciledWhileAReplyStreams)
{
    startConnected();
    // An earlier request, answered and watched.
    const std::string earlier = send("First question");
    advance(1);
    answer(earlier, "First answer");
    advance(4);
    ASSERT_FALSE(job(earlier));

    // The next one streams for a while.
    const std::string current = send("Second question");
    advance(1);
    page().state.busy = true;
    const std::string part = answer(current, "Second");
    std::string text = "Second";
    for (int turn = 0; turn < 8; ++turn) {
        text += " answer";
        grow(part, text);
        advance(0.5);
        expectReconciled("while the reply streams");
    }
    // The earlier request's bot adds a late part while the reply still streams: it is filed at once.
    const std::string tag = "[qv:" + controller->vault().account().replyWatches->front().job.replyToken->str() + "]";
    page().add("assistant", tag + "\n\nA late addition", "<p>" + tag + "</p><p>A late addition</p>");
    grow(part, text + " still going");
    advance(0.5);
    expectReconciled("after a late part");
    EXPECT_EQ(message(earlier + "-reply")->text, "First answer\n\nA late addition");
    ASSERT_TRUE(controller->liveReply);
    EXPECT_EQ(controller->liveReply->text, text + " still going");

    page().state.busy = false;
    advance(4);
    EXPECT_FALSE(job(current));
    expectReconciled("after acceptance");
}

}  // namespace
}  // namespace quorvane::testing
