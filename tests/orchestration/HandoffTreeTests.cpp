#include <algorithm>
#include <map>
#include <string>

#include <gtest/gtest.h>

#include "OrchestrationFixture.hpp"
#include "quorvane/Orchestration.hpp"

namespace quorvane {
namespace {

using namespace quorvane::testing;

std::string statusOf(const Account& account, std::string_view id)
{
    for (const auto& m : account.messages)
        if (m.id == id)
            return std::string(toString(m.status));
    return "(none)";
}

std::string handoffStatus(const Account& account, std::string_view id)
{
    for (const auto& h : *account.handoffs)
        if (h.id == id)
            return std::string(toString(h.status));
    return "(none)";
}

TEST(FinishHandoffStatuses, SettlesTheTreeFromTheLeavesUp)
{
    struct Case {
        const char* name;
        std::vector<Handoff> handoffs;
        std::vector<std::pair<std::string, std::string>> jobs;  // id, root
        std::map<std::string, std::string> expectedHandoffs;  // id -> status
        std::map<std::string, std::string> expectedMessages;  // id -> status
    };
    // H1 (alpha -> beta) asked for H2 (beta -> gamma), which asked for H3 (gamma -> delta). The
    // parents come first, so completion can only climb one level per pass.
    auto chain = [](HandoffStatus leafStatus) {
        return std::vector<Handoff> {
            handoff("H1", "R", "alpha", "beta", HandoffStatus::working, "R"),
            handoff("H2", "R", "beta", "gamma", HandoffStatus::working, "H1"),
            handoff("H3", "R", "gamma", "delta", leafStatus, "H2"),
        };
    };
    const Case cases[] = {
        { "a finished chain completes to the root", chain(HandoffStatus::working), {},
            { { "H1", "complete" }, { "H2", "complete" }, { "H3", "complete" } },
            { { "R", "sent" }, { "H1", "sent" }, { "H2", "sent" }, { "H3", "sent" } } },
        { "a leaf still queued holds the whole chain", chain(HandoffStatus::working), { { "H3", "R" } },
            { { "H1", "working" }, { "H2", "working" }, { "H3", "working" } },
            { { "R", "delegated" }, { "H1", "waiting" }, { "H2", "waiting" }, { "H3", "waiting" } } },
        { "a stopped leaf stops its ancestors", chain(HandoffStatus::stopped), {},
            { { "H1", "stopped" }, { "H2", "stopped" }, { "H3", "stopped" } },
            { { "R", "unconfirmed" }, { "H1", "unconfirmed" }, { "H2", "unconfirmed" }, { "H3", "waiting" } } },
        { "a stopped sibling makes the root unconfirmed",
            { handoff("H1", "R", "alpha", "beta", HandoffStatus::stopped, "R"),
                handoff("H2", "R", "alpha", "gamma", HandoffStatus::working, "R") },
            {}, { { "H1", "stopped" }, { "H2", "complete" } }, { { "R", "unconfirmed" }, { "H2", "sent" } } },
        { "another job of the root keeps the root delegated", chain(HandoffStatus::working), { { "REPORT", "R" } },
            { { "H1", "complete" }, { "H2", "complete" }, { "H3", "complete" } }, { { "R", "delegated" } } },
        { "other roots are left alone",
            { handoff("H1", "R", "alpha", "beta", HandoffStatus::working, "R"),
                handoff("X1", "X", "alpha", "beta", HandoffStatus::working, "X") },
            {}, { { "H1", "complete" }, { "X1", "working" } },
            { { "R", "sent" }, { "X", "delegated" }, { "X1", "waiting" } } },
        { "a root without handoffs is sent", {}, {}, {}, { { "R", "sent" } } },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Account account = Account::fresh();
        account.bots = crew();
        account.messages.push_back(message("R", "alpha", MessageRole::user, MessageStatus::delegated));
        account.messages.push_back(message("X", "alpha", MessageRole::user, MessageStatus::delegated));
        for (const auto& h : c.handoffs)
            account.messages.push_back(message(h.id, h.targetBotID, MessageRole::handoff, MessageStatus::waiting));
        account.handoffs = c.handoffs;
        for (const auto& [id, root] : c.jobs) {
            PendingRequest job = userJob(account, id, "epsilon");
            job.rootRequestID = Text(root);
            account.jobs.push_back(job);
        }

        account.finishHandoffStatuses("R");

        for (const auto& [id, status] : c.expectedHandoffs)
            EXPECT_EQ(handoffStatus(account, id), status) << id;
        for (const auto& [id, status] : c.expectedMessages)
            EXPECT_EQ(statusOf(account, id), status) << id;
    }
}

TEST(FinishHandoffStatuses, LeavesListsSharedWhenNothingSettles)
{
    // Copies of an account share their lists until one of them changes; a pass that settles
    // nothing must not split them.
    Account account = Account::fresh();
    account.bots = crew();
    account.messages.push_back(message("R", "alpha", MessageRole::user, MessageStatus::delegated));
    account.handoffs = std::vector<Handoff> { handoff("H1", "R", "alpha", "beta", HandoffStatus::working, "R") };
    account.jobs.push_back(userJob(account, "H1", "beta"));
    const Account copy = account;
    account.finishHandoffStatuses("R");
    EXPECT_TRUE(account.handoffs->sharesElementsWith(*copy.handoffs));
    EXPECT_TRUE(account.messages.sharesElementsWith(copy.messages));
}

TEST(ReplyDestinations, WalksTheDelegatingBotsNearestFirst)
{
    struct Case {
        const char* name;
        std::optional<std::vector<Handoff>> handoffs;
        std::optional<const char*> returnBot;
        std::optional<const char*> parent;
        std::vector<Text> expected;
    };
    const std::vector<Handoff> chain {
        handoff("H1", "R", "alpha", "beta", HandoffStatus::working, "R"),
        handoff("H2", "R", "beta", "gamma", HandoffStatus::working, "H1"),
    };
    const Case cases[] = {
        { "a user request has none", chain, std::nullopt, std::nullopt, {} },
        { "a direct teammate of the user request", chain, "alpha", "R", { "alpha" } },
        { "no handoffs recorded", std::nullopt, "alpha", "R", { "alpha" } },
        { "up a nested chain", chain, "gamma", "H2", { "gamma", "beta", "alpha" } },
        { "no parent", chain, "gamma", std::nullopt, { "gamma" } },
        { "stops at the job's own bot",
            std::vector<Handoff> { handoff("H1", "R", "delta", "beta", HandoffStatus::working, "R"),
                handoff("H2", "R", "beta", "gamma", HandoffStatus::working, "H1") },
            "gamma", "H2", { "gamma", "beta" } },
        { "a handoff that is its own parent",
            std::vector<Handoff> { handoff("L", "R", "beta", "gamma", HandoffStatus::working, "L") }, "alpha", "L",
            { "alpha", "beta" } },
        { "a two-handoff loop",
            std::vector<Handoff> { handoff("A", "R", "beta", "gamma", HandoffStatus::working, "B"),
                handoff("B", "R", "gamma", "beta", HandoffStatus::working, "A") },
            "alpha", "A", { "alpha", "beta", "gamma" } },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Account account = Account::fresh();
        account.bots = crew();
        account.handoffs = c.handoffs;
        PendingRequest job = userJob(account, "J", "delta");
        if (c.returnBot)
            job.returnBotID = Text(*c.returnBot);
        if (c.parent)
            job.parentRequestID = Text(*c.parent);
        EXPECT_EQ(account.replyDestinations(job), c.expected);
    }
}

PendingRequest report(const Account& account, std::string_view id, std::string_view botID, JobPhase phase,
    std::optional<std::string_view> root = "R")
{
    PendingRequest job = userJob(account, id, botID, phase);
    job.isReport = true;
    job.rootRequestID.reset();
    if (root)
        job.rootRequestID = Text(*root);
    job.returnBotID = Text("dot");
    job.parentRequestID = Text("R");
    job.payload = std::string(id) + " payload";
    return job;
}

TEST(IsRedundantHandoffReport, NeedsAReportWhoseBotDelegatedUnderTheSameRoot)
{
    Account account = Account::fresh();
    account.bots = crew();
    account.handoffs = std::vector<Handoff> {
        handoff("H1", "R", "alpha", "beta", HandoffStatus::working, "R"),
        handoff("X1", "X", "gamma", "beta", HandoffStatus::working, "X"),
    };
    PendingRequest plain = userJob(account, "P", "alpha");
    plain.rootRequestID = Text("R");
    struct Case {
        const char* name;
        PendingRequest job;
        bool expected;
    };
    const Case cases[] = {
        { "a report of a bot that delegated in the root", report(account, "A", "alpha", JobPhase::queued), true },
        { "not a report", plain, false },
        { "a report without a root", report(account, "A", "alpha", JobPhase::queued, std::nullopt), false },
        { "a report of a bot that was only a target", report(account, "B", "beta", JobPhase::queued), false },
        { "a report of a bot that delegated in another root", report(account, "G", "gamma", JobPhase::queued), false },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(account.isRedundantHandoffReport(c.job), c.expected);
    }
    account.handoffs.reset();
    EXPECT_FALSE(account.isRedundantHandoffReport(report(account, "A", "alpha", JobPhase::queued)));
}

// Alpha delegated under the user request R; some of its report requests are left over.
class RetireReports : public ::testing::Test {
public:
    void SetUp() override
    {
        account = Account::fresh();
        account.bots = crew();
        account.messages.push_back(message("R", "alpha", MessageRole::user, MessageStatus::delegated));
        account.handoffs = std::vector<Handoff> {
            handoff("H1", "R", "alpha", "beta", HandoffStatus::working, "R"),
            handoff("H2", "R", "alpha", "gamma", HandoffStatus::complete, "R"),
            handoff("X1", "X", "zeta", "beta", HandoffStatus::working, "X"),
        };
        PendingRequest typed = report(account, "TYPED", "alpha", JobPhase::queued);
        typed.attempts = 1;
        PendingRequest failed = report(account, "FAILED", "alpha", JobPhase::failed);
        PendingRequest sent = report(account, "SENT", "alpha", JobPhase::waiting);
        sent.attempts = 1;
        PendingRequest other = report(account, "OTHER", "delta", JobPhase::queued);
        other.attempts = 1;
        account.jobs = { typed, failed, sent, other };
        ReplyWatch watch;
        watch.job = report(account, "WATCHED", "alpha", JobPhase::waiting);
        account.replyWatches.emplace();
        account.replyWatches->push_back(watch);
        for (const char* id : { "TYPED", "FAILED", "SENT", "OTHER", "WATCHED" }) {
            std::string r = id;
            account.messages.push_back(message(r, "alpha", MessageRole::assistant, MessageStatus::sent));
            account.messages.push_back(message(r + "-reply", "alpha", MessageRole::assistant, MessageStatus::sent));
            account.messages.push_back(
                message(r + "-reply-handoff-result-dot", "dot", MessageRole::assistant, MessageStatus::sent));
            account.messages.push_back(
                message(r + "-handoff-result-dot", "dot", MessageRole::assistant, MessageStatus::sent));
            account.messages.push_back(
                message(r + "-reply-handoff-result-beta", "beta", MessageRole::assistant, MessageStatus::sent));
        }
    }

    std::vector<std::string> messageIDs() const
    {
        std::vector<std::string> ids;
        for (const auto& m : account.messages)
            ids.push_back(m.id.str());
        return ids;
    }

    Account account;
};

TEST_F(RetireReports, RemovesRedundantReportsTheirRepliesAndCopies)
{
    account.retireRedundantHandoffReports();

    std::vector<std::string> jobIDs;
    for (const auto& job : account.jobs)
        jobIDs.push_back(job.id.str());
    EXPECT_EQ(jobIDs, (std::vector<std::string> { "SENT", "OTHER" }));

    // Only the copies for actual destinations go; beta is not on any report's chain.
    EXPECT_EQ(messageIDs(),
        (std::vector<std::string> { "R", "TYPED-reply-handoff-result-beta", "FAILED-reply-handoff-result-beta",
            "SENT-reply-handoff-result-beta", "OTHER", "OTHER-reply", "OTHER-reply-handoff-result-dot",
            "OTHER-handoff-result-dot", "OTHER-reply-handoff-result-beta", "WATCHED-reply-handoff-result-beta" }));

    EXPECT_EQ(statusOf(account, "R"), "sent");
    EXPECT_EQ(handoffStatus(account, "H1"), "complete");
    EXPECT_EQ(handoffStatus(account, "H2"), "complete");
    EXPECT_EQ(handoffStatus(account, "X1"), "working");
    EXPECT_EQ(account.replyWatches->size(), 1u);
}

TEST_F(RetireReports, ListsTypedPayloadsForCleanupOnce)
{
    struct Case {
        const char* name;
        std::optional<std::vector<Text>> before;
        std::optional<std::vector<Text>> after;
    };
    const Case cases[] = {
        { "no list yet", std::nullopt, std::vector<Text> { "TYPED payload" } },
        { "already listed", std::vector<Text> { "TYPED payload" }, std::vector<Text> { "TYPED payload" } },
        { "other payloads listed", std::vector<Text> { "older" }, std::vector<Text> { "older", "TYPED payload" } },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        account.pendingDraftCleanup = c.before;
        account.retireRedundantHandoffReports();
        EXPECT_EQ(account.pendingDraftCleanup, c.after);
    }
}

TEST_F(RetireReports, ChangesNothingWithoutRedundantReports)
{
    erase_if(*account.handoffs, [](const Handoff& h) { return h.sourceBotID == "alpha"; });
    account.replyWatches.reset();
    const Account before = account;
    account.retireRedundantHandoffReports();
    expectSameAccount(before, account);
}

}  // namespace
}  // namespace quorvane
