#include <algorithm>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "OrchestrationFixture.hpp"
#include "quorvane/ConversationContext.hpp"
#include "quorvane/Orchestration.hpp"

namespace quorvane {
namespace {

using namespace quorvane::testing;

constexpr Date kNow = 5000;
const std::string kRequest = "6F1C2B4A-0000-4000-8000-00000000A001";

// Alpha is answering the user's request kRequest; another user request waits behind it.
class HandoffAcceptance : public ::testing::Test {
public:
    void SetUp() override
    {
        account = Account::fresh();
        account.bots = crew();
        account.messages.push_back(
            message(kRequest, "alpha", MessageRole::user, MessageStatus::waiting, "Plan the launch"));
        job = userJob(account, kRequest, "alpha");
        account.jobs.push_back(job);
        account.messages.push_back(message("LATER", "gamma", MessageRole::user, MessageStatus::queued));
        account.jobs.push_back(userJob(account, "LATER", "gamma", JobPhase::queued));
    }

    // Plain filler jobs so that the queue holds `total` jobs in all.
    void fillQueue(std::size_t total)
    {
        while (account.jobs.size() < total)
            account.jobs.push_back(
                userJob(account, "FILL-" + std::to_string(account.jobs.size()), "zeta", JobPhase::queued));
    }

    void addRootHandoffs(std::size_t count, const std::string& root)
    {
        if (!account.handoffs)
            account.handoffs.emplace();
        for (std::size_t i = 0; i < count; ++i)
            account.handoffs->push_back(
                handoff(root + "-H" + std::to_string(i), root, "alpha", "theta", HandoffStatus::complete, root));
    }

    const PendingRequest* findJob(std::string_view id) const
    {
        auto found = std::find_if(account.jobs.begin(), account.jobs.end(), [&](const auto& j) { return j.id == id; });
        return found == account.jobs.end() ? nullptr : &*found;
    }

    const ChatMessage* findMessage(std::string_view id) const
    {
        auto found
            = std::find_if(account.messages.begin(), account.messages.end(), [&](const auto& m) { return m.id == id; });
        return found == account.messages.end() ? nullptr : &*found;
    }

    Account account;
    PendingRequest job;
};

std::vector<std::pair<std::string, std::string>> toEach(std::initializer_list<const char*> bots)
{
    std::vector<std::pair<std::string, std::string>> out;
    for (const char* bot : bots)
        out.emplace_back(bot, std::string("Work for ") + bot);
    return out;
}

TEST_F(HandoffAcceptance, AcceptsOnlyDirectivesThatPassEveryCheck)
{
    const std::string ok = fenced(listDirective(kRequest, toEach({ "beta" })));
    const std::string accent = "e\u0301";  // one character, three bytes, two code points
    struct Case {
        const char* name;
        std::function<void(HandoffAcceptance&)> setup;
        std::string reply;
        bool accepted;
    };
    const Case cases[] = {
        { "one assignment", {}, ok, true },
        { "single form", {}, fenced(R"({"request_id":")" + kRequest + R"(","to":"beta","task":"Draft"})"), true },
        { "no block", {}, "Sure, here is the plan.", false },
        { "incomplete block", {}, "```quorvane-handoff\n{\"request_id\":\"" + kRequest + "\"", false },
        { "invalid block", {}, fenced("{\"request_id\":1}"), false },
        { "two labels", {}, ok + "\n" + ok, false },
        { "delegating job is a report", [](auto& t) { t.job.isReport = true; }, ok, false },
        { "report flag false", [](auto& t) { t.job.isReport = false; }, ok, true },
        { "depth 2 may delegate", [](auto& t) { t.job.delegationDepth = 2; }, ok, true },
        { "depth 3 may not", [](auto& t) { t.job.delegationDepth = 3; }, ok, false },
        { "request id in another case", {},
            fenced(listDirective("6f1c2b4a-0000-4000-8000-00000000a001", toEach({ "beta" }))), false },
        { "another request's id", {}, fenced(listDirective("LATER", toEach({ "beta" }))), false },
        { "both handoffs and to", {},
            fenced(R"({"request_id":")" + kRequest + R"(","to":"beta","handoffs":[{"to":"beta","task":"A"}]})"),
            false },
        { "empty handoffs", {}, fenced(listDirective(kRequest, {})), false },
        { "to without task", {}, fenced(R"({"request_id":")" + kRequest + R"(","to":"beta"})"), false },
        { "six assignments", {},
            fenced(listDirective(kRequest, toEach({ "beta", "gamma", "delta", "epsilon", "zeta", "eta" }))), true },
        { "seven assignments", {},
            fenced(listDirective(kRequest, toEach({ "beta", "gamma", "delta", "epsilon", "zeta", "eta", "theta" }))),
            false },
        { "five handoffs of the root exist, one more", [](auto& t) { t.addRootHandoffs(5, kRequest); }, ok, true },
        { "six handoffs of the root exist, one more", [](auto& t) { t.addRootHandoffs(6, kRequest); }, ok, false },
        { "six handoffs of another root exist", [](auto& t) { t.addRootHandoffs(6, "OTHER-ROOT"); }, ok, true },
        { "20 jobs after the handoff", [](auto& t) { t.fillQueue(20); }, ok, true },
        { "21 jobs after the handoff", [](auto& t) { t.fillQueue(21); }, ok, false },
        { "20 jobs with two assignments", [](auto& t) { t.fillQueue(19); },
            fenced(listDirective(kRequest, toEach({ "beta", "delta" }))), true },
        { "21 jobs with two assignments", [](auto& t) { t.fillQueue(20); },
            fenced(listDirective(kRequest, toEach({ "beta", "delta" }))), false },
        { "duplicate target", {},
            fenced(listDirective(kRequest, { { "beta", "A" }, { "gamma", "B" }, { "beta", "C" } })), false },
        { "the primary bot", {}, fenced(listDirective(kRequest, toEach({ "dot" }))), false },
        { "the delegating bot itself", {}, fenced(listDirective(kRequest, toEach({ "alpha" }))), false },
        { "an archived bot", {}, fenced(listDirective(kRequest, toEach({ "retired" }))), false },
        { "an unknown bot", {}, fenced(listDirective(kRequest, toEach({ "nobody" }))), false },
        { "a bot id in another case", {}, fenced(listDirective(kRequest, toEach({ "Beta" }))), false },
        { "a bad target after good ones", {}, fenced(listDirective(kRequest, toEach({ "beta", "gamma", "dot" }))),
            false },
        { "an empty task", {}, fenced(listDirective(kRequest, { { "beta", "" } })), false },
        { "a task of white space and newlines", {},
            fenced(listDirective(kRequest, { { "beta", " \n\t\u2029\u00A0" } })), false },
        { "a task of 4000 characters", {}, fenced(listDirective(kRequest, { { "beta", repeated(accent, 4000) } })),
            true },
        { "a task of 4001 characters", {}, fenced(listDirective(kRequest, { { "beta", repeated(accent, 4001) } })),
            false },
        { "a long task after a good one", {},
            fenced(listDirective(kRequest, { { "gamma", "fine" }, { "beta", repeated("x", 4001) } })), false },
        { "a role-label job", [](auto& t) { t.job.roleTargets = std::vector<RoleTarget> {}; }, ok, false },
        { "the delegating bot is gone",
            [](auto& t) { std::erase_if(t.account.bots, [](const Bot& b) { return b.id == "alpha"; }); }, ok, false },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        if (c.setup) {
            c.setup(*this);
            std::replace_if(
                account.jobs.begin(), account.jobs.end(), [](const auto& j) { return j.id == kRequest; }, job);
        }
        const Account before = account;
        bool accepted = account.acceptHandoff(job, c.reply, false, kNow);
        EXPECT_EQ(accepted, c.accepted);
        if (!c.accepted) {
            expectSameAccount(before, account);
            continue;
        }
        EXPECT_EQ(findJob(kRequest), nullptr);
        EXPECT_EQ(findMessage(kRequest)->status, MessageStatus::delegated);
        auto envelope = handoffEnvelope(c.reply);
        std::size_t added = envelope.directive->assignments().size();
        EXPECT_EQ(account.handoffs->size(), (before.handoffs ? before.handoffs->size() : 0) + added);
        EXPECT_EQ(account.jobs.size(), before.jobs.size() - 1 + added);
        EXPECT_EQ(account.messages.size(), before.messages.size() + 2 * added);
    }
}

TEST_F(HandoffAcceptance, OneAssignmentBuildsTheHandoffItsMessagesAndItsRequest)
{
    // A job already being typed stays ahead; the teammate goes before the waiting user request.
    account.jobs.insert(account.jobs.begin(), userJob(account, "TYPING", "delta", JobPhase::preparing));
    ASSERT_TRUE(account.acceptHandoff(
        job, fenced(listDirective(kRequest, { { "beta", "Draft the launch email" } })), false, kNow));

    ASSERT_TRUE(account.handoffs.has_value());
    ASSERT_EQ(account.handoffs->size(), 1u);
    const Handoff& h = account.handoffs->front();
    EXPECT_EQ(h.id.size(), 36u);
    EXPECT_TRUE(std::none_of(h.id.begin(), h.id.end(), [](char c) { return c >= 'a' && c <= 'z'; })) << h.id;
    EXPECT_EQ(h,
        (Handoff { h.id, kRequest, "alpha", "beta", "Draft the launch email", HandoffStatus::working, Text(kRequest),
            false }));

    ASSERT_EQ(account.jobs.size(), 3u);
    EXPECT_EQ(account.jobs[0].id, "TYPING");
    EXPECT_EQ(account.jobs[2].id, "LATER");
    const PendingRequest& request = account.jobs[1];
    EXPECT_EQ(request.id, h.id);
    EXPECT_EQ(request.botID, "beta");
    EXPECT_EQ(request.phase, JobPhase::queued);
    EXPECT_EQ(request.rootRequestID, Text(kRequest));
    EXPECT_EQ(request.parentRequestID, Text(kRequest));
    EXPECT_EQ(request.returnBotID, Text("alpha"));
    EXPECT_EQ(request.delegationDepth, 1);
    EXPECT_EQ(request.turnName, Text("Beta"));
    EXPECT_EQ(request.inputText, Text("Draft the launch email"));
    EXPECT_TRUE(request.payload.ends_with("[User message]\nDraft the launch email")) << request.payload;
    EXPECT_FALSE(request.isReport.has_value());

    ChatMessage note
        = message(kRequest + "-handoff", "alpha", MessageRole::event, MessageStatus::delegated, "Asked Beta to help.");
    note.date = kNow;
    note.replyToID = Text(kRequest);
    note.handoffID = h.id;
    ChatMessage task = message(h.id, "beta", MessageRole::handoff, MessageStatus::queued, "Draft the launch email");
    task.date = kNow;
    task.sourceBotID = Text("alpha");
    task.replyToID = Text(kRequest);
    ASSERT_EQ(account.messages.size(), 4u);
    EXPECT_EQ(account.messages[2], note);
    EXPECT_EQ(account.messages[3], task);
    EXPECT_EQ(findMessage(kRequest)->status, MessageStatus::delegated);
}

TEST_F(HandoffAcceptance, SeveralAssignmentsKeepDirectiveOrderAndNameNotesByHandoff)
{
    account.jobs.pop_back();  // nothing queued: the teammates go to the end
    account.jobs.insert(account.jobs.begin(), userJob(account, "WAITING", "delta", JobPhase::waiting));
    ASSERT_TRUE(account.acceptHandoff(
        job, fenced(listDirective(kRequest, { { "gamma", "First" }, { "beta", "Second" } })), false, kNow));

    ASSERT_EQ(account.handoffs->size(), 2u);
    const Handoff& first = (*account.handoffs)[0];
    const Handoff& second = (*account.handoffs)[1];
    EXPECT_NE(first.id, second.id);
    EXPECT_EQ(first.targetBotID, "gamma");
    EXPECT_EQ(second.targetBotID, "beta");

    ASSERT_EQ(account.jobs.size(), 3u);
    EXPECT_EQ(account.jobs[0].id, "WAITING");
    EXPECT_EQ(account.jobs[1].id, first.id);
    EXPECT_EQ(account.jobs[2].id, second.id);

    EXPECT_EQ(findMessage(kRequest + "-handoff"), nullptr);
    const ChatMessage* firstNote = findMessage(first.id + "-handoff");
    const ChatMessage* secondNote = findMessage(second.id + "-handoff");
    ASSERT_NE(firstNote, nullptr);
    ASSERT_NE(secondNote, nullptr);
    EXPECT_EQ(firstNote->text, "Asked Gamma to help.");
    EXPECT_EQ(secondNote->text, "Asked Beta to help.");
    EXPECT_EQ(firstNote->handoffID, first.id);
    EXPECT_EQ(findMessage(second.id)->text, "Second");
}

TEST_F(HandoffAcceptance, DirectMentionCarriesTheUsersQuoteIntoTheTask)
{
    QuotedReply quote { "Q-1", std::nullopt, "Muse", "An earlier idea" };
    struct Case {
        const char* name;
        bool directMention;
        bool quoted;
        std::string expectedText;
    };
    const Case cases[] = {
        { "direct mention with a quote", true, true, quotedReplyBlock("Muse", "An earlier idea") + "Refine it" },
        { "direct mention without a quote", true, false, "Refine it" },
        { "a bot's handoff ignores the quote", false, true, "Refine it" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        if (c.quoted)
            account.messages.mutableAt(0).quotedReply = quote;
        ASSERT_TRUE(account.acceptHandoff(
            job, fenced(listDirective(kRequest, { { "beta", "Refine it" } })), c.directMention, kNow));
        const Handoff& h = account.handoffs->front();
        EXPECT_EQ(h.directMention, c.directMention);
        EXPECT_EQ(h.task, "Refine it");
        EXPECT_EQ(findMessage(h.id)->text, "Refine it");
        EXPECT_EQ(findJob(h.id)->inputText, Text(c.expectedText));
        EXPECT_TRUE(findJob(h.id)->payload.ends_with(c.expectedText));
    }
}

TEST_F(HandoffAcceptance, TakesTheDelegatingJobStraightFromTheQueue)
{
    // The queue entry itself is removed while the handoff is built from it.
    ASSERT_EQ(account.jobs.front().id, kRequest);
    ASSERT_TRUE(
        account.acceptHandoff(account.jobs.front(), fenced(listDirective(kRequest, toEach({ "beta" }))), false, kNow));
    EXPECT_EQ(findMessage(kRequest)->status, MessageStatus::delegated);
    EXPECT_EQ(findMessage("LATER")->status, MessageStatus::queued);
    ASSERT_NE(findMessage(kRequest + "-handoff"), nullptr);
    const PendingRequest* request = findJob(account.handoffs->front().id);
    ASSERT_NE(request, nullptr);
    EXPECT_EQ(request->parentRequestID, Text(kRequest));
    EXPECT_EQ(request->returnBotID, Text("alpha"));
    EXPECT_NE(findJob("LATER"), nullptr);
}

TEST_F(HandoffAcceptance, TeammatesDelegateOnlyUpToTheThirdLevel)
{
    // alpha (user request) -> beta (depth 1) -> gamma (depth 2) -> delta (depth 3) -> refused.
    const char* chain[] = { "beta", "gamma", "delta" };
    PendingRequest current = job;
    for (std::size_t level = 0; level < 3; ++level) {
        SCOPED_TRACE(chain[level]);
        ASSERT_TRUE(
            account.acceptHandoff(current, fenced(listDirective(current.id, toEach({ chain[level] }))), false, kNow));
        const Handoff& h = account.handoffs->back();
        EXPECT_EQ(h.rootRequestID, kRequest);
        EXPECT_EQ(h.parentRequestID, current.id);
        const PendingRequest* next = findJob(h.id);
        ASSERT_NE(next, nullptr);
        EXPECT_EQ(next->delegationDepth, static_cast<std::int64_t>(level + 1));
        EXPECT_EQ(next->returnBotID, current.botID);
        // The payload is composed after the depth is known: the deepest teammate is told not to
        // hand off.
        EXPECT_TRUE(next->payload.contains(
            level < 2 ? "Handoffs allowed using this request ID.\n" : "Answer directly; do not hand off this turn.\n"))
            << next->payload;
        current = *next;
    }
    EXPECT_EQ(account.replyDestinations(current), (std::vector<Text> { "gamma", "beta", "alpha" }));

    const Account before = account;
    EXPECT_FALSE(account.acceptHandoff(current, fenced(listDirective(current.id, toEach({ "epsilon" }))), false, kNow));
    expectSameAccount(before, account);

    // The deepest teammate answers; the whole tree settles and the user's message is sent.
    std::erase_if(account.jobs, [&](const auto& j) { return j.id == current.id; });
    account.finishHandoffStatuses(kRequest);
    for (const auto& h : *account.handoffs)
        EXPECT_EQ(h.status, HandoffStatus::complete) << h.targetBotID;
    EXPECT_EQ(findMessage(kRequest)->status, MessageStatus::sent);
}

}  // namespace
}  // namespace quorvane
