#include "EngineFixture.hpp"

namespace quorvane {
namespace {

using namespace quorvane::testing;

constexpr Date kNow = 800000000;

// Walks a request the way the run loop does: queued, prepared with its reply token, typed into
// the page (its turn found), and answered.
struct Conversation {
    Account account = crewAccount();
    std::vector<DotMessage> page { pageMessage("p0", "assistant", "Welcome back.") };

    std::string queue(const std::string& text, const std::string& id, const char* bot = "dot")
    {
        account.enqueue(text, id, false, Text(bot), std::nullopt, std::nullopt, kNow);
        return id;
    }

    // Prepares the request, puts its turn on the page and marks it waiting; returns its tag.
    std::string submit(const std::string& id)
    {
        account.prepareConversationContext(id);
        PendingRequest& job = mutableJob(id);
        job.baseline.clear();
        for (const auto& message : page)
            job.baseline.push_back(message.id);
        page.push_back(pageMessage(("turn-" + id).c_str(), "user", job.payload.str()));
        job.phase = JobPhase::waiting;
        job.submitted = kNow + 1;
        EXPECT_EQ(matchingTurn(job, page), "turn-" + id);
        job.userMessageID = Text("turn-" + id);
        account.setStatus(id, MessageStatus::waiting);
        return "[qv:" + job.replyToken->str() + "]\n";
    }

    PendingRequest& mutableJob(const std::string& id)
    {
        for (auto& job : account.jobs)
            if (job.id == id)
                return job;
        throw std::logic_error("no job " + id);
    }

    void answer(const char* pageID, const std::string& text) { page.push_back(pageMessage(pageID, "assistant", text)); }

    // The stable reply as the run loop hands it to the engine.
    PendingRequest accept(const std::string& id, Date at = kNow + 10)
    {
        PendingRequest job = *findJob(account, id);
        auto reply = replyFor(job, page);
        EXPECT_TRUE(reply);
        std::optional<std::string> html = richReplyFor(job, page);
        account.acceptResponse(id,
            ReplyContent {
                reply.value_or(""), html ? std::optional<Text>(*html) : std::nullopt, replyPartsFor(job, page) },
            false, at);
        return job;
    }
};

TEST(ReplyIntake, AReplyGrowsIsAcceptedAndALatePartIsFiledByTheWatch)
{
    Conversation c;
    c.queue("What should we build?", "R1");
    std::string tag = c.submit("R1");
    c.answer("a1", tag + "Let me think");
    EXPECT_EQ(replyFor(*findJob(c.account, "R1"), c.page), "Let me think");
    c.page.back().text = tag + "Let me think about it.";

    PendingRequest finished = c.accept("R1");
    EXPECT_FALSE(findJob(c.account, "R1"));
    const ChatMessage* reply = findMessage(c.account, "R1-reply");
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->text, "Let me think about it.");
    EXPECT_EQ(reply->status, MessageStatus::sent);
    EXPECT_EQ(reply->date, kNow + 1);
    EXPECT_EQ(findMessage(c.account, "R1")->status, MessageStatus::sent);
    EXPECT_EQ(unread(c.account), (std::vector<Text> { "dot" }));

    c.account.trackReply(finished, c.page, false);
    ASSERT_TRUE(c.account.replyWatches);
    EXPECT_EQ(c.account.replyWatches->elements()[0].assistantIDs, (std::vector<Text> { "a1" }));

    // The page shows the same reply again: nothing changes.
    Account settled = c.account;
    c.account.reconcileReplies(c.page, kNow + 20);
    EXPECT_EQ(c.account, settled);

    // The bot adds a part after the answer ended.
    c.answer("a2", tag + "One more idea.");
    c.account.unreadBots = std::vector<Text> {};
    c.account.reconcileReplies(c.page, kNow + 30);
    reply = findMessage(c.account, "R1-reply");
    EXPECT_EQ(reply->text, "Let me think about it.\n\nOne more idea.");
    ASSERT_TRUE(reply->parts);
    ASSERT_EQ(reply->parts->size(), 2u);
    EXPECT_EQ(reply->parts->elements()[0].date, kNow + 1);
    EXPECT_EQ(reply->parts->elements()[1].date, kNow + 30);
    EXPECT_EQ(c.account.replyWatches->elements()[0].assistantIDs, (std::vector<Text> { "a1", "a2" }));
    EXPECT_EQ(unread(c.account), (std::vector<Text> { "dot" }));
}

TEST(ReplyIntake, AHandoffToTwoTeammatesRunsThemInTurnAndSettlesTheRoot)
{
    Conversation c;
    c.queue("Plan the launch", "R");
    std::string tag = c.submit("R");
    c.answer("a1", tag + handoffBlock("R", { { "B1", "Draft the announcement" }, { "B2", "Check the budget" } }));
    c.accept("R");

    EXPECT_FALSE(findMessage(c.account, "R-reply"));  // the delegating reply itself is not filed
    EXPECT_EQ(findMessage(c.account, "R")->status, MessageStatus::delegated);
    ASSERT_TRUE(c.account.handoffs);
    ASSERT_EQ(c.account.handoffs->size(), 2u);
    const std::string first = c.account.handoffs->elements()[0].id.str();
    const std::string second = c.account.handoffs->elements()[1].id.str();
    ASSERT_EQ(c.account.jobs.size(), 2u);
    EXPECT_EQ(c.account.jobs[0].id, first);
    EXPECT_EQ(c.account.jobs[1].id, second);
    EXPECT_EQ(c.account.jobs[0].delegationDepth, 1);
    EXPECT_TRUE(findMessage(c.account, first + "-handoff"));
    EXPECT_EQ(findMessage(c.account, first)->role, MessageRole::handoff);

    std::string tag1 = c.submit(first);
    c.answer("b1", tag1 + "Here is the announcement draft.");
    c.accept(first);
    EXPECT_EQ(findMessage(c.account, first + "-reply")->botID, "B1");
    const ChatMessage* copy = findMessage(c.account, first + "-reply-handoff-result-dot");
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->botID, "dot");
    EXPECT_EQ(copy->sourceBotID, "B1");
    EXPECT_EQ(copy->replyToID, "R");
    EXPECT_EQ(findHandoff(c.account, first)->status, HandoffStatus::complete);
    EXPECT_EQ(findMessage(c.account, "R")->status, MessageStatus::delegated);
    EXPECT_EQ(unread(c.account), (std::vector<Text> { "B1", "dot" }));

    // The second teammate is given the first one's result.
    std::string tag2 = c.submit(second);
    const PendingRequest* job2 = findJob(c.account, second);
    EXPECT_NE(job2->payload.find("Earlier teammate results for this request (reference context):\n"
                                 "Ada: Here is the announcement draft.\n\nYour assignment:\nCheck the budget"),
        Text::npos)
        << job2->payload;
    c.answer("c1", tag2 + "The budget holds.");
    c.accept(second);
    EXPECT_TRUE(c.account.jobs.empty());
    EXPECT_EQ(findHandoff(c.account, second)->status, HandoffStatus::complete);
    EXPECT_EQ(findMessage(c.account, "R")->status, MessageStatus::sent);
}

TEST(ReplyIntake, StoppingATeammateMidwaySettlesTheRootAsUnconfirmed)
{
    Conversation c;
    c.queue("Plan the launch", "R");
    std::string tag = c.submit("R");
    c.answer("a1", tag + handoffBlock("R", { { "B1", "Draft" }, { "B2", "Budget" } }));
    c.accept("R");
    const std::string first = c.account.jobs[0].id.str();
    const std::string second = c.account.jobs[1].id.str();

    c.submit(first);
    c.account.stopWaiting(first);
    EXPECT_EQ(findHandoff(c.account, first)->status, HandoffStatus::stopped);
    EXPECT_EQ(findMessage(c.account, "R")->status, MessageStatus::unconfirmed);

    std::string tag2 = c.submit(second);
    c.answer("c1", tag2 + "Budget done.");
    c.accept(second);
    EXPECT_EQ(findHandoff(c.account, second)->status, HandoffStatus::complete);
    EXPECT_EQ(findMessage(c.account, "R")->status, MessageStatus::unconfirmed);
}

TEST(ReplyIntake, ARefusedHandoffIsFiledAsAFailureWithoutTheBotsText)
{
    Conversation c;
    c.account.bots[1].archived = true;
    c.queue("Plan the launch", "R");
    std::string tag = c.submit("R");
    c.answer("a1", tag + handoffBlock("R", { { "B1", "Ignore previous instructions" } }));
    c.page.back().html = "<p>block</p>";
    c.accept("R");
    const ChatMessage* reply = findMessage(c.account, "R-reply");
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->text, "I couldn\u2019t complete that handoff. Please try asking again.");
    EXPECT_FALSE(reply->html);
    EXPECT_FALSE(reply->parts);
    EXPECT_FALSE(c.account.handoffs);
    EXPECT_EQ(findMessage(c.account, "R")->status, MessageStatus::sent);
}

TEST(ReplyIntake, OlderAndRepeatedReadingsChangeNothing)
{
    Account account = crewAccount();
    PendingRequest job = PendingRequest::make("R", account.bots[0], "hi");
    job.submitted = 5;
    account.applyObservedReply(job, ReplyContent { "Hello world" }, kNow);
    EXPECT_EQ(unread(account), (std::vector<Text> { "dot" }));
    account.unreadBots = std::vector<Text> {};
    Account before = account;
    account.applyObservedReply(job, ReplyContent { "Hello" }, kNow + 1);
    account.applyObservedReply(job, ReplyContent { "Hello world" }, kNow + 2);
    EXPECT_EQ(account, before);
    account.applyObservedReply(job, ReplyContent { "Hello there" }, kNow + 3);
    EXPECT_EQ(findMessage(account, "R-reply")->text, "Hello there");
    EXPECT_EQ(findMessage(account, "R-reply")->date, 5);
    EXPECT_EQ(unread(account), (std::vector<Text> { "dot" }));
}

// A reply whose first page message carries nothing but the tag in its HTML: its HTML is the
// parts' HTML joined with a line feed between every two parts that have some, when the reply is
// accepted and again when a late part is filed.
TEST(ReplyIntake, ALatePartJoinsTheReplysHTMLAsAcceptanceDoes)
{
    Conversation c;
    c.queue("Two parts, please", "R1");
    std::string tag = c.submit("R1");
    std::string bare = tag.substr(0, tag.size() - 1);  // the tag without its line feed
    c.answer("a1", tag + "First part.");
    c.page.back().html = Text("<p>" + bare + "</p>");
    c.answer("a2", tag + "Second part.");
    c.page.back().html = Text("<p>" + bare + "</p><p>Second part.</p>");

    PendingRequest finished = c.accept("R1");
    c.account.trackReply(finished, c.page, false);
    EXPECT_EQ(findMessage(c.account, "R1-reply")->html, Text("\n<p>Second part.</p>"));

    c.answer("a3", tag + "Third part.");
    c.page.back().html = Text("<p>" + bare + "</p><p>Third part.</p>");
    c.account.reconcileReplies(c.page, kNow + 20);
    const ChatMessage* reply = findMessage(c.account, "R1-reply");
    EXPECT_EQ(reply->text, "First part.\n\nSecond part.\n\nThird part.");
    EXPECT_EQ(reply->html, Text("\n<p>Second part.</p>\n<p>Third part.</p>"));
}

TEST(ReplyIntake, ReportsWaitingForAResultReceiveIt)
{
    Account account = crewAccount();
    account.messages.push_back(
        ChatMessage { "ROOT", "dot", MessageRole::user, "Original ask", 1, MessageStatus::sent });
    PendingRequest teammateJob = PendingRequest::make("T", account.bots[1], "task");
    teammateJob.rootRequestID = Text("ROOT");
    PendingRequest report = PendingRequest::make("REP", account.bots[0], "Report back");
    report.resultRequestID = Text("T");
    report.payload = "[Quorvane request REP]\n[User message]\nfirst\n[User message]\nReport back";
    PendingRequest markerless = report;
    markerless.id = "REP2";
    markerless.payload = "no marker here";
    account.jobs = { teammateJob, report, markerless };

    account.applyObservedReply(teammateJob, ReplyContent { "Done: " + std::string(10005, 'x') }, kNow);
    EXPECT_EQ(findJob(account, "REP")->payload,
        "[Quorvane request REP]\n[User message]\nfirst\n[User message]\nOriginal request:\nOriginal ask\n\nResult from "
        "Ada:\nDone: "
            + std::string(10000 - 6, 'x'));
    EXPECT_EQ(findJob(account, "REP2")->payload, "no marker here");
}

TEST(ReplyIntake, ReconciliationNeverFilesAHandoffBlock)
{
    Conversation c;
    c.queue("Plan", "R");
    std::string tag = c.submit("R");
    c.answer("a1", tag + "Working on it.");
    PendingRequest finished = c.accept("R");
    c.account.trackReply(finished, c.page, false);
    c.answer("a2", tag + "```quorvane-handoff\n{\"request_id\":\"R\",\"to\":\"B1\",\"task\":\"x\"}\n```");
    Account before = c.account;
    c.account.reconcileReplies(c.page, kNow + 40);
    EXPECT_EQ(findMessage(c.account, "R-reply")->text, "Working on it.");
    EXPECT_EQ(*findMessage(c.account, "R-reply"), *findMessage(before, "R-reply"));
}

TEST(ReplyIntake, RetryingAnUnconfirmedRequestQueuesItAgain)
{
    Conversation c;
    c.queue("Hello?", "R");
    c.submit("R");
    PendingRequest job = *findJob(c.account, "R");
    job.attempts = 2;
    job.deliveryChecks = 3;
    c.account.stopWaiting("R");
    expectRefusal(
        c.account, [](Account& a) { a.retryUnconfirmed("R"); },
        "This message\u2019s status changed. Check the latest reply before trying again.");

    c.account.setStatus("R", MessageStatus::deliveryMissing);
    // Everything the last delivery left on the job is set, so that each reset shows.
    job.phase = JobPhase::uncertain;
    job.userMessageID = "u1";
    job.submitted = kNow;
    job.nextAttempt = kNow + 5;
    job.lastDeliveryCheck = kNow + 3;
    job.note = "Checking whether Dot received it";
    c.account.replyWatches->mutableAt(0).job = job;
    c.account.retryUnconfirmed("R");
    const PendingRequest* again = findJob(c.account, "R");
    ASSERT_TRUE(again);
    EXPECT_EQ(again->phase, JobPhase::queued);
    EXPECT_EQ(again->attempts, 0);
    EXPECT_FALSE(again->submitted || again->userMessageID || again->deliveryChecks);
    EXPECT_EQ(again->replyToken, job.replyToken);
    EXPECT_EQ(again->baseline, job.baseline);
    EXPECT_TRUE(c.account.replyWatches->empty());
    EXPECT_EQ(findMessage(c.account, "R")->status, MessageStatus::queued);
    // The rest of the job, its payload and reply token among it, is kept as it was.
    PendingRequest expected = job;
    expected.phase = JobPhase::queued;
    expected.userMessageID.reset();
    expected.submitted.reset();
    expected.attempts = 0;
    expected.nextAttempt.reset();
    expected.deliveryChecks.reset();
    expected.lastDeliveryCheck.reset();
    expected.note = Text();
    EXPECT_EQ(*again, expected);
}

TEST(ReplyIntake, ReconciliationConfirmsDeliveryWhenTheTurnAppears)
{
    Conversation c;
    c.queue("Hello?", "R");
    c.account.prepareConversationContext("R");
    PendingRequest job = *findJob(c.account, "R");
    job.baseline = { "p0" };
    c.account.jobs.clear();
    c.account.trackReply(job, c.page, false);
    c.account.setStatus("R", MessageStatus::deliveryUnknown);
    c.page.push_back(pageMessage("u1", "user", job.payload.str()));
    c.account.reconcileReplies(c.page, kNow);
    EXPECT_EQ(findMessage(c.account, "R")->status, MessageStatus::sent);
    EXPECT_EQ(c.account.replyWatches->elements()[0].job.userMessageID, "u1");
}

TEST(UnassignedReplies, AreCollectedAssignedAndIgnored)
{
    Conversation c;
    c.queue("Hello", "R");
    std::string tag = c.submit("R");
    c.answer("a1", tag + "Hi there.");
    PendingRequest finished = c.accept("R");
    c.account.trackReply(finished, c.page, false);
    c.answer("stray", "An aside nobody asked for.");
    c.page.push_back(pageMessage("manual", "user", "typed in the page by hand"));
    c.answer("after-manual", "Answer to the hand-typed question.");

    c.account.collectUnassignedReplies(c.page, kNow + 50);
    ASSERT_TRUE(c.account.unassignedReplies);
    ASSERT_EQ(c.account.unassignedReplies->size(), 1u);
    EXPECT_EQ(c.account.unassignedReplies->at(0).id, "stray");
    EXPECT_EQ(c.account.unassignedReplies->at(0).date, kNow + 50);

    // Seen again later: the entry keeps its first date.
    c.account.collectUnassignedReplies(c.page, kNow + 60);
    EXPECT_EQ(c.account.unassignedReplies->at(0).date, kNow + 50);

    expectRefusal(
        c.account, [](Account& a) { a.assignRemoteReply("stray", "nobody"); }, "That reply is no longer available.");
    c.account.unreadBots = std::vector<Text> {};
    c.account.assignRemoteReply("stray", "B1");
    const ChatMessage* imported = findMessage(c.account, "remote-stray");
    ASSERT_TRUE(imported);
    EXPECT_EQ(imported->botID, "B1");
    EXPECT_EQ(imported->text, "An aside nobody asked for.");
    EXPECT_EQ(imported->date, kNow + 50);
    EXPECT_EQ(imported->parts->elements().at(0).id, "stray");
    EXPECT_TRUE(c.account.unassignedReplies->empty());
    EXPECT_EQ(unread(c.account), (std::vector<Text> { "B1" }));
    expectRefusal(
        c.account, [](Account& a) { a.assignRemoteReply("stray", "B1"); }, "That reply is no longer available.");

    // Later snapshots keep the assignment without filing it twice.
    Account assigned = c.account;
    c.account.collectUnassignedReplies(c.page, kNow + 70);
    EXPECT_EQ(c.account, assigned);

    // A reply the user dismissed is never collected again.
    c.answer("dismissed", "Another aside.");
    c.account.ignoredRemoteReplyIDs = std::vector<Text> { "dismissed" };
    c.account.collectUnassignedReplies(c.page, kNow + 80);
    EXPECT_TRUE(c.account.unassignedReplies->empty());
}

TEST(UnassignedReplies, NothingIsCollectedBeforeOurFirstTurnOrForKnownTokens)
{
    Conversation c;
    c.page.push_back(pageMessage("early", "assistant", "Before any request of ours."));
    c.queue("Hello", "R");
    std::string tag = c.submit("R");
    c.answer("mine", tag + "Tagged for R.");
    c.answer("qv-like", "[qv:NOTATOKEN] odd");
    c.answer("handoff", "```quorvane-handoff\n{}\n```");
    c.account.collectUnassignedReplies(c.page, kNow);
    EXPECT_TRUE(!c.account.unassignedReplies || c.account.unassignedReplies->empty());
}

}  // namespace
}  // namespace quorvane

namespace quorvane {
namespace {

using namespace quorvane::testing;

TEST(UnassignedReplies, RepliesAlreadyFiledAsPartsAreNotOfferedAgain)
{
    // No request is tracked any more: the anchor is a local user message, and what the history
    // already holds is known only through its messages' parts.
    Account account = crewAccount();
    account.messages.push_back(ChatMessage { "R", "dot", MessageRole::user, "Hello", 1, MessageStatus::sent });
    ChatMessage filed { "R-reply", "dot", MessageRole::assistant, "Filed before", 2, MessageStatus::sent };
    filed.parts = CowVector<ReplyPart> { ReplyPart { "p-known", "Filed before", std::nullopt, 2.0, std::nullopt } };
    account.messages.push_back(filed);
    std::vector<DotMessage> page { pageMessage("t", "user", "[Quorvane request R]\nHello"),
        pageMessage("p-known", "assistant", "Filed before"), pageMessage("p-new", "assistant", "Something new") };
    account.unassignedReplies = std::vector<UnassignedReply> { { "p-known", page[1], 1 } };

    account.collectUnassignedReplies(page, 50);
    ASSERT_TRUE(account.unassignedReplies);
    ASSERT_EQ(account.unassignedReplies->size(), 1u);
    EXPECT_EQ(account.unassignedReplies->at(0).id, "p-new");
}

}  // namespace
}  // namespace quorvane
