#include <functional>

#include <gtest/gtest.h>

#include "CompositionFixtures.hpp"
#include "quorvane/TextRules.hpp"

namespace quorvane {
namespace {

using namespace quorvane::testing;

bool isReplyToken(std::string_view token)
{
    return token.size() == 12 && std::all_of(token.begin(), token.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
    });
}

// A crew of two and three queued user requests; the middle one is the one prepared.
class PrepareConversationContext : public ::testing::Test {
protected:
    void SetUp() override
    {
        account = accountWith({ makeBot("nova", "Nova", "Plans launches."), makeBot("rex", "Rex", "Reviews code.") });
        for (const char* id : { "R1", "R2", "R3" }) {
            account.messages.push_back(makeMessage(id, "nova", MessageRole::user, std::string("text of ") + id));
            account.messages.mutableAt(account.messages.size() - 1).status = MessageStatus::queued;
            PendingRequest job = PendingRequest::make(id, botNamed(account, "nova"), std::string("text of ") + id);
            account.configurePayload(job, botNamed(account, "nova"), *job.inputText);
            account.jobs.push_back(job);
        }
    }

    PendingRequest& job(std::size_t i) { return account.jobs[i]; }

    Account account;
};

TEST_F(PrepareConversationContext, GivesANewTokenAndTheCrewSetup)
{
    account.prepareConversationContext("R2");
    const PendingRequest& prepared = account.jobs[1];
    ASSERT_EQ(prepared.id, "R2");
    ASSERT_TRUE(prepared.replyToken);
    EXPECT_TRUE(isReplyToken(*prepared.replyToken)) << *prepared.replyToken;
    EXPECT_TRUE(prepared.payload.starts_with("[Quorvane request R2]\n[Conversation: Nova]\n[Reply tag: [qv:"
        + *prepared.replyToken + "]]\n[Quorvane crew setup]\n"));
    EXPECT_TRUE(prepared.payload.ends_with("[User message]\ntext of R2"));
    EXPECT_EQ(prepared.crewSetupRevision, Text(account.crewRevision()));
    EXPECT_EQ(prepared.phase, JobPhase::queued);

    // Tokens come from a random source: another request gets another one.
    account.prepareConversationContext("R3");
    ASSERT_TRUE(account.jobs[2].replyToken);
    EXPECT_NE(*account.jobs[2].replyToken, *prepared.replyToken);
    EXPECT_TRUE(isReplyToken(*account.jobs[2].replyToken));
}

TEST_F(PrepareConversationContext, KeepsAnExistingTokenAndDropsASetupNoLongerNeeded)
{
    account.prepareConversationContext("R2");
    Text token = *account.jobs[1].replyToken;
    account.installedCrewRevision = account.crewRevision();
    account.installedCrewURL = account.dotURL;

    account.prepareConversationContext("R2");
    const PendingRequest& prepared = account.jobs[1];
    EXPECT_EQ(prepared.replyToken, token);
    EXPECT_FALSE(prepared.crewSetupBody);
    EXPECT_EQ(prepared.payload.find("[Quorvane crew setup]"), std::string::npos);
    EXPECT_TRUE(prepared.payload.contains("[Reply tag: [qv:" + token + "]]\n"));
}

TEST_F(PrepareConversationContext, ReadsTheTextFromTheMessageWhenTheJobHasNone)
{
    job(1).inputText.reset();
    account.messages.mutableAt(1).text = "edited text";
    account.prepareConversationContext("R2");
    EXPECT_TRUE(account.jobs[1].payload.ends_with("[User message]\nedited text"));
    EXPECT_EQ(account.jobs[1].inputText, Text("edited text"));
}

TEST_F(PrepareConversationContext, LeavesJobsItMustNotTouchAsTheyWere)
{
    struct Case {
        const char* name;
        std::function<void(Account&)> arrange;
    };
    const Case cases[] = {
        { "unknown id", [](Account&) {} },
        { "already preparing", [](Account& a) { a.jobs[1].phase = JobPhase::preparing; } },
        { "failed", [](Account& a) { a.jobs[1].phase = JobPhase::failed; } },
        { "attempted before", [](Account& a) { a.jobs[1].attempts = 1; } },
        { "role-label job", [](Account& a) { a.jobs[1].roleTargets = std::vector<RoleTarget> {}; } },
        { "its bot is gone", [](Account& a) { a.jobs[1].botID = "ghost"; } },
        { "no text anywhere",
            [](Account& a) {
                a.jobs[1].inputText.reset();
                a.messages.erase(a.messages.begin() + 1);
            } },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Account arranged = account;
        c.arrange(arranged);
        Account before = arranged;
        arranged.prepareConversationContext(std::string_view(c.name) == "unknown id" ? "R9" : "R2");
        EXPECT_EQ(arranged, before);
    }
}

TEST_F(PrepareConversationContext, FailsARequestThatCannotFitWithItsCrewSetup)
{
    // Queued while the crew was installed: it fitted without a setup, but the crew has changed since.
    std::string text(kPayloadCharacterLimit - 500, 'x');
    job(1).inputText = text;
    account.prepareConversationContext("R2");

    const PendingRequest& failed = account.jobs[1];
    EXPECT_EQ(failed.phase, JobPhase::failed);
    EXPECT_EQ(failed.note, "The crew setup and message are too long. Return this message to draft and shorten it.");
    EXPECT_GT(characterCount(failed.payload), kPayloadCharacterLimit);
    EXPECT_EQ(account.messages[1].status, MessageStatus::failed);
    EXPECT_EQ(account.messages[0].status, MessageStatus::queued);
    EXPECT_EQ(account.jobs[0].phase, JobPhase::queued);
    EXPECT_EQ(account.jobs[2].phase, JobPhase::queued);
}

}  // namespace
}  // namespace quorvane
