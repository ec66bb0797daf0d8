#include <functional>

#include <gtest/gtest.h>

#include "CompositionFixtures.hpp"

namespace quorvane {
namespace {

using namespace quorvane::testing;

Handoff makeHandoff(std::string_view id, std::string_view root, std::string_view target, HandoffStatus status)
{
    Handoff handoff;
    handoff.id = id;
    handoff.rootRequestID = root;
    handoff.sourceBotID = "dot";
    handoff.targetBotID = target;
    handoff.task = "Write the copy";
    handoff.status = status;
    handoff.parentRequestID = root;
    return handoff;
}

// The user asked Dot for a launch plan; Nova (H1) and Rex (H2) have answered, Ivy (H3) is next.
struct HandoffScene {
    HandoffScene()
    {
        account = accountWith({ makeBot("nova", "Nova"), makeBot("rex", "Rex"), makeBot("ivy", "Ivy") });
        installCrew();
        account.handoffs = std::vector<Handoff> {
            makeHandoff("H1", "ROOT", "nova", HandoffStatus::complete),
            makeHandoff("H2", "ROOT", "rex", HandoffStatus::complete),
            makeHandoff("H3", "ROOT", "ivy", HandoffStatus::working),
            makeHandoff("HX", "OTHER", "rex", HandoffStatus::complete),
            makeHandoff("HS", "ROOT", "nova", HandoffStatus::stopped),
        };
        account.messages = {
            makeMessage("ROOT", "dot", MessageRole::user, "Plan the launch"),
            makeMessage("H1", "nova", MessageRole::handoff, "Budget please"),
            makeMessage("H1-reply", "nova", MessageRole::assistant, "Budget: 10k"),
            makeMessage("HX-reply", "rex", MessageRole::assistant, "another request"),
            makeMessage("HS-reply", "nova", MessageRole::assistant, "stopped early"),
            makeMessage("H1-reply-handoff-result-dot", "dot", MessageRole::assistant, "Budget: 10k"),
            makeMessage("H2-reply", "rex", MessageRole::assistant, "Risks: none"),
        };
        PendingRequest job = PendingRequest::make("H3", botNamed(account, "ivy"), "Write the copy");
        job.rootRequestID = "ROOT";
        job.parentRequestID = "ROOT";
        job.delegationDepth = 1;
        account.jobs = { job };
    }

    // Keeps the crew known to the conversation, so payloads carry no setup.
    void installCrew()
    {
        account.installedCrewRevision = account.crewRevision();
        account.installedCrewURL = account.dotURL;
    }

    ChatMessage& message(std::string_view id)
    {
        auto& list = account.messages;
        auto found = std::find_if(list.begin(), list.end(), [&](const ChatMessage& m) { return m.id == id; });
        return list.mutableAt(static_cast<std::size_t>(found - list.begin()));
    }
    Handoff& handoff(std::string_view id)
    {
        auto& list = *account.handoffs;
        auto found = std::find_if(list.begin(), list.end(), [&](const Handoff& h) { return h.id == id; });
        return list.mutableAt(static_cast<std::size_t>(found - list.begin()));
    }

    Account account;
};

TEST(PrepareHandoffContext, GivesTheTeammateEarlierResultsWithinBudget)
{
    const std::string results = "Earlier teammate results for this request (reference context):\n";
    const std::string quote = quotedReplyBlock("Nova", "Ship Friday");
    const std::string accent = "e\u0301";
    struct Case {
        const char* name;
        std::function<void(HandoffScene&)> arrange;
        std::string input;
    };
    const Case cases[] = {
        { "finished teammates, oldest first", [](auto&) {},
            results + "Nova: Budget: 10k\nRex: Risks: none\n\nYour assignment:\nWrite the copy" },
        { "nobody finished yet",
            [](auto& f) {
                f.handoff("H1").status = HandoffStatus::working;
                f.handoff("H2").status = HandoffStatus::working;
            },
            "Write the copy" },
        { "a finished teammate's bot is gone",
            [](auto& f) { std::erase_if(f.account.bots, [](const Bot& b) { return b.id == "rex"; }); },
            results + "Nova: Budget: 10k\nTeammate: Risks: none\n\nYour assignment:\nWrite the copy" },
        { "newest result fills the budget exactly",
            [](auto& f) { f.message("H2-reply").text = std::string(3995, 'r'); },
            results + "Rex: " + std::string(3995, 'r') + "\n\nYour assignment:\nWrite the copy" },
        { "older result cut to what is left", [](auto& f) { f.message("H2-reply").text = std::string(3985, 'r'); },
            results + "Nova: Bud\nRex: " + std::string(3985, 'r') + "\n\nYour assignment:\nWrite the copy" },
        { "newest result cut by characters", [&](auto& f) { f.message("H2-reply").text = repeated(accent, 4100); },
            results + "Rex: " + repeated(accent, 3995) + "\n\nYour assignment:\nWrite the copy" },
        { "direct mention with a quote and no results",
            [](auto& f) {
                f.handoff("H1").status = HandoffStatus::working;
                f.handoff("H2").status = HandoffStatus::working;
                f.handoff("H3").directMention = true;
                f.message("ROOT").quotedReply = QuotedReply { "Q", std::nullopt, "Nova", "Ship Friday" };
            },
            quote + "Write the copy" },
        { "direct mention with a quote after the results",
            [](auto& f) {
                f.handoff("H3").directMention = true;
                f.message("ROOT").quotedReply = QuotedReply { "Q", std::nullopt, "Nova", "Ship Friday" };
            },
            results + "Nova: Budget: 10k\nRex: Risks: none\n\nYour assignment:\n" + quote + "Write the copy" },
        { "quote stays out of a handoff the user did not ask for",
            [](auto& f) {
                f.handoff("H3").directMention = false;
                f.message("ROOT").quotedReply = QuotedReply { "Q", std::nullopt, "Nova", "Ship Friday" };
            },
            results + "Nova: Budget: 10k\nRex: Risks: none\n\nYour assignment:\nWrite the copy" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        HandoffScene fixture;
        c.arrange(fixture);
        fixture.installCrew();
        fixture.account.prepareHandoffContext("H3");
        const PendingRequest& job = fixture.account.jobs.front();
        EXPECT_EQ(job.inputText, Text(c.input));
        EXPECT_EQ(job.payload,
            "[Quorvane request H3]\n[Conversation: Ivy]\n" + botNamed(fixture.account, "ivy").turnIdentityContext()
                + "\nHandoffs allowed using this request ID.\n[User message]\n" + c.input);
    }
}

TEST(PrepareHandoffContext, LeavesRequestsItDoesNotApplyToAlone)
{
    struct Case {
        const char* name;
        std::function<void(HandoffScene&)> arrange;
    };
    const Case cases[] = {
        { "already sent", [](auto& f) { f.account.jobs[0].phase = JobPhase::waiting; } },
        { "attempted", [](auto& f) { f.account.jobs[0].attempts = 2; } },
        { "not a handoff",
            [](auto& f) { erase_if(*f.account.handoffs, [](const Handoff& h) { return h.id == "H3"; }); } },
        { "no handoffs at all", [](auto& f) { f.account.handoffs.reset(); } },
        { "its bot is gone",
            [](auto& f) { std::erase_if(f.account.bots, [](const Bot& b) { return b.id == "ivy"; }); } },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        HandoffScene fixture;
        c.arrange(fixture);
        Account before = fixture.account;
        fixture.account.prepareHandoffContext("H3");
        EXPECT_EQ(fixture.account, before);
    }
}

TEST(PrepareHandoffContext, RunsWhenTheRequestIsPrepared)
{
    HandoffScene scene;
    Account& account = scene.account;
    const Account before = account;
    account.prepareConversationContext("H3");
    // Preparing only reads the history: the copy the controller compares against stays shared.
    EXPECT_TRUE(account.messages.sharesElementsWith(before.messages));
    EXPECT_TRUE(account.handoffs->sharesElementsWith(*before.handoffs));
    const PendingRequest& job = account.jobs.front();
    ASSERT_TRUE(job.replyToken);
    EXPECT_TRUE(job.payload.starts_with(
        "[Quorvane request H3]\n[Conversation: Ivy]\n[Reply tag: [qv:" + *job.replyToken + "]]\n"));
    EXPECT_TRUE(job.payload.ends_with("Nova: Budget: 10k\nRex: Risks: none\n\nYour assignment:\nWrite the copy"));
}

TEST(IsDirectMention, UsesTheRecordedFlagOrRecognisesTheMentionMessage)
{
    struct Case {
        const char* name;
        std::function<void(Account&, Handoff&)> arrange;
        bool direct;
    };
    auto root = [](Account& a) -> ChatMessage& { return a.messages.mutableAt(0); };
    const Case cases[] = {
        { "mention message", [](Account&, Handoff&) {}, true },
        { "recorded as direct",
            [&](Account& a, Handoff& h) {
                h.directMention = true;
                root(a).text = "unrelated";
            },
            true },
        { "recorded as not direct", [](Account&, Handoff& h) { h.directMention = false; }, false },
        { "mention in other case", [&](Account& a, Handoff&) { root(a).text = "@REX   check the numbers  "; }, true },
        { "name whose lower case is longer",
            [&](Account& a, Handoff&) {
                botNamed(a, "rex").name = "\u0130pek\u0130";
                root(a).text = "@\u0130pek\u0130 check the numbers";
            },
            true },
        { "task differs", [](Account&, Handoff& h) { h.task = "check numbers"; }, false },
        { "name is only a prefix", [](Account& a, Handoff&) { botNamed(a, "rex").name = "Re"; }, false },
        { "no mention", [&](Account& a, Handoff&) { root(a).text = "Rex check the numbers"; }, false },
        { "handed off by a bot's reply", [](Account&, Handoff& h) { h.parentRequestID = "ROOT-other"; }, false },
        { "no parent recorded", [](Account&, Handoff& h) { h.parentRequestID.reset(); }, false },
        { "root is not the user's", [&](Account& a, Handoff&) { root(a).role = MessageRole::assistant; }, false },
        { "root message gone", [](Account& a, Handoff&) { a.messages.clear(); }, false },
        { "target bot gone", [](Account&, Handoff& h) { h.targetBotID = "ghost"; }, false },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Account account = accountWith({ makeBot("rex", "Rex") });
        account.messages = { makeMessage("ROOT", "dot", MessageRole::user, "@Rex check the numbers") };
        Handoff handoff = makeHandoff("H", "ROOT", "rex", HandoffStatus::working);
        handoff.task = "check the numbers";
        c.arrange(account, handoff);
        EXPECT_EQ(account.isDirectMention(handoff), c.direct);
    }
}

}  // namespace
}  // namespace quorvane
