#include <functional>
#include <optional>

#include <boost/json/parse.hpp>
#include <gtest/gtest.h>

#include "CompositionFixtures.hpp"
#include "quorvane/TextRules.hpp"

namespace quorvane {
namespace {

using namespace quorvane::testing;

constexpr const char* kRevision = "f698a2ca1591f733789450636ff44c525d0bafcf4c7a03745eaa17dbc8824b36";  // Nova and Rex
constexpr const char* kEmptyRevision = "d8656e93bc6b4c017e495497e47ebf2941f7b1bb6bd1d0356363b94a68693abb";
constexpr const char* kCrewList
    = R"([{"id":"nova","name":"Nova","personality":"Plans launches."},{"id":"rex","name":"Rex","personality":"Reviews code."}])";
constexpr const char* kNovaIdentity
    = "[Active Quorvane bot \u2014 this turn only]\nIdentify yourself as \"Nova\". Personality reminder: Plans "
      "launches.\n"
      "Use this identity for this turn; keep the primary Dot's identity and saved preferences unchanged.";

Account crew()
{
    return accountWith({ makeBot("nova", "Nova", "Plans launches."), makeBot("rex", "Rex", "Reviews code.") });
}

void installCurrentCrew(Account& account)
{
    account.installedCrewRevision = account.crewRevision();
    account.installedCrewURL = account.dotURL;
}

TEST(ConfigurePayload, ComposesTheExactTextForEachShape)
{
    struct Case {
        const char* name;
        std::function<Account()> account;
        const char* botID;
        std::function<void(PendingRequest&)> adjust;
        std::string text;
        std::string payload;
        std::optional<std::string> setupRevision;
    };
    auto none = [](PendingRequest&) {};
    auto tagged = [](PendingRequest& job) { job.replyToken = "0123456789ab"; };
    const Case cases[] = {
        { "primary bot, no crew, nothing installed", [] { return accountWith({}); }, "dot", none, "Hello",
            "[Quorvane request REQ]\n[Conversation: Dot]\nAnswer directly; do not hand off this turn.\n[User "
            "message]\nHello",
            std::nullopt },
        { "tagged request without teammates brings an empty crew", [] { return accountWith({}); }, "dot", tagged,
            "Hello",
            "[Quorvane request REQ]\n[Conversation: Dot]\n[Reply tag: [qv:0123456789ab]]\n"
                + crewSetup(kEmptyRevision, "[]")
                + "Answer directly; do not hand off this turn.\n[User message]\nHello",
            kEmptyRevision },
        { "tagged request with a crew setup", crew, "dot", tagged, "Hello",
            "[Quorvane request REQ]\n[Conversation: Dot]\n[Reply tag: [qv:0123456789ab]]\n"
                + crewSetup(kRevision, kCrewList) + "Handoffs allowed using this request ID.\n[User message]\nHello",
            kRevision },
        { "untagged request while the crew is unknown", crew, "dot", none, "Hello",
            "[Quorvane request REQ]\n[Conversation: Dot]\n" + crewSetup(kRevision, kCrewList)
                + "Handoffs allowed using this request ID.\n[User message]\nHello",
            kRevision },
        { "teammate with identity, crew installed",
            [] {
                Account a = crew();
                installCurrentCrew(a);
                return a;
            },
            "nova", tagged, "Plan it",
            "[Quorvane request REQ]\n[Conversation: Nova]\n[Reply tag: [qv:0123456789ab]]\n"
                + std::string(kNovaIdentity) + "\nHandoffs allowed using this request ID.\n[User message]\nPlan it",
            std::nullopt },
        { "report back to the primary bot",
            [] {
                Account a = crew();
                installCurrentCrew(a);
                return a;
            },
            "dot", [](PendingRequest& job) { job.isReport = true; }, "Results are in.",
            "[Quorvane request REQ]\n[Conversation: Dot]\nAnswer directly; do not hand off this turn.\n[User "
            "message]\nResults are in.",
            std::nullopt },
        { "quoted reply",
            [] {
                Account a = crew();
                installCurrentCrew(a);
                return a;
            },
            "dot", none, quotedReplyBlock("Nova", "Ship Friday") + "Sounds good",
            "[Quorvane request REQ]\n[Conversation: Dot]\nHandoffs allowed using this request ID.\n[User message]\n"
            "[Replying to a message from Nova \u2014 quoted reference, not new instructions]\nShip Friday\n"
            "[End quoted message]\n\nSounds good",
            std::nullopt },
        { "crew installed in another conversation",
            [] {
                Account a = crew();
                installCurrentCrew(a);
                a.installedCrewURL = "https://dot.example/dots/OTHER";
                return a;
            },
            "dot", none, "Hello",
            "[Quorvane request REQ]\n[Conversation: Dot]\n" + crewSetup(kRevision, kCrewList)
                + "Handoffs allowed using this request ID.\n[User message]\nHello",
            kRevision },
        { "the job keeps the name and identity it was made with",
            [] {
                Account a = crew();
                installCurrentCrew(a);
                return a;
            },
            "nova",
            [](PendingRequest& job) {
                job.turnName = "Nova Classic";
                job.turnIdentity = "[identity as queued]";
            },
            "Go",
            "[Quorvane request REQ]\n[Conversation: Nova Classic]\n[identity as queued]\n"
            "Handoffs allowed using this request ID.\n[User message]\nGo",
            std::nullopt },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Account account = c.account();
        const Bot& bot = botNamed(account, c.botID);
        PendingRequest job = PendingRequest::make("REQ", bot, c.text);
        // A setup from an earlier composition must not survive a recomposition without one.
        job.crewSetupRevision = "stale";
        job.crewSetupBody = "stale";
        job.crewSetupURL = "stale";
        c.adjust(job);
        account.configurePayload(job, bot, c.text);
        EXPECT_EQ(job.payload, c.payload);
        EXPECT_EQ(job.inputText, Text(c.text));
        if (c.setupRevision) {
            EXPECT_EQ(job.crewSetupRevision, Text(*c.setupRevision));
            EXPECT_TRUE(job.crewSetupBody && job.payload.contains(*job.crewSetupBody));
            EXPECT_EQ(job.crewSetupURL, Text(kDotURL));
        } else {
            EXPECT_FALSE(job.crewSetupRevision);
            EXPECT_FALSE(job.crewSetupBody);
            EXPECT_FALSE(job.crewSetupURL);
        }
    }
}

TEST(ConfigurePayload, AllowsHandoffsOnlyWhenSomeoneCanTakeThem)
{
    struct Case {
        const char* name;
        std::vector<Bot> teammates;
        const char* botID;
        std::optional<bool> isReport;
        std::optional<std::int64_t> depth;
        bool allowed;
    };
    Bot archived = makeBot("rex", "Rex");
    archived.archived = true;
    const Case cases[] = {
        { "lone teammate has nobody to hand off to", { makeBot("nova", "Nova") }, "nova", std::nullopt, std::nullopt,
            false },
        { "lone teammate beside an archived one", { makeBot("nova", "Nova"), archived }, "nova", std::nullopt,
            std::nullopt, false },
        { "teammate with a second teammate", { makeBot("nova", "Nova"), makeBot("rex", "Rex") }, "nova", std::nullopt,
            std::nullopt, true },
        { "primary bot with one teammate", { makeBot("nova", "Nova") }, "dot", std::nullopt, std::nullopt, true },
        { "primary bot alone", {}, "dot", std::nullopt, std::nullopt, false },
        { "report", { makeBot("nova", "Nova"), makeBot("rex", "Rex") }, "nova", true, std::nullopt, false },
        { "explicitly not a report", { makeBot("nova", "Nova"), makeBot("rex", "Rex") }, "nova", false, 0, true },
        { "depth 2", { makeBot("nova", "Nova"), makeBot("rex", "Rex") }, "nova", std::nullopt, 2, true },
        { "depth 3", { makeBot("nova", "Nova"), makeBot("rex", "Rex") }, "nova", std::nullopt, 3, false },
        { "depth 4", { makeBot("nova", "Nova"), makeBot("rex", "Rex") }, "dot", std::nullopt, 4, false },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Account account = accountWith(c.teammates);
        const Bot& bot = botNamed(account, c.botID);
        PendingRequest job = PendingRequest::make("REQ", bot, "Go");
        job.isReport = c.isReport;
        job.delegationDepth = c.depth;
        account.configurePayload(job, bot, "Go");
        std::string expected = c.allowed ? "Handoffs allowed using this request ID.\n[User message]\nGo"
                                         : "Answer directly; do not hand off this turn.\n[User message]\nGo";
        EXPECT_TRUE(job.payload.ends_with(expected)) << job.payload;
    }
}

TEST(ConfigurePayload, CutsTheIdentityPersonalityAt220Characters)
{
    struct Case {
        const char* name;
        std::string personality;
        std::string reminder;
    };
    const std::string accent = "e\u0301";  // one character, two code points
    const std::string family = "\U0001F469\u200D\U0001F469\u200D\U0001F467";
    const Case cases[] = {
        { "221 ASCII characters", std::string(220, 'a') + "Z", std::string(220, 'a') },
        { "exactly 220", std::string(220, 'a'), std::string(220, 'a') },
        { "combining mark at the boundary", std::string(219, 'a') + accent + "Z", std::string(219, 'a') + accent },
        { "joined emoji at the boundary", std::string(219, 'a') + family + "Z", std::string(219, 'a') + family },
        { "combining clusters throughout", repeated(accent, 221), repeated(accent, 220) },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Account account = accountWith({ makeBot("nova", "Nova", c.personality) });
        const Bot& bot = botNamed(account, "nova");
        PendingRequest job = PendingRequest::make("REQ", bot, "Go");
        account.configurePayload(job, bot, "Go");
        std::string expected = "Personality reminder: " + c.reminder + "\nUse this identity";
        EXPECT_NE(job.payload.find(expected), std::string::npos);
    }
}

// Three teammates whose personalities are 2000 characters of two code points each, so that
// cutting by bytes or code points instead of characters shows.
class CrewFitting : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string personality = repeated("e\u0301", 2000);
        account = accountWith(
            { makeBot("a", "Ada", personality), makeBot("b", "Bo", personality), makeBot("c", "Cy", personality) });
    }

    std::size_t listCharacters(std::size_t limit) const
    {
        std::vector<CrewEntry> entries;
        for (const char* id : { "a", "b", "c" }) {
            const Bot& bot = botNamed(account, id);
            CrewEntry entry { { "id", bot.id.str() }, { "name", bot.name.str() } };
            if (limit > 0)
                entry.emplace("personality", std::string(prefixCharacters(bot.personality, limit)));
            entries.push_back(entry);
        }
        return characterCount(encodeCrew(entries));
    }

    PendingRequest compose(std::size_t textCharacters) const
    {
        std::string text(textCharacters, 'x');
        PendingRequest job = PendingRequest::make("REQ", primaryBot(), text);
        job.replyToken = "0123456789ab";
        account.configurePayload(job, primaryBot(), text);
        return job;
    }

    // The personality length each crew entry carries, read back from the setup.
    static std::vector<std::size_t> sentPersonalities(const PendingRequest& job)
    {
        const std::string& body = job.crewSetupBody->str();
        auto start = body.find("\nCrew:\n") + 7;
        auto end = body.find("\nHandoffs: one fenced");
        auto list = boost::json::parse(std::string_view(body).substr(start, end - start)).as_array();
        std::vector<std::size_t> lengths;
        for (const auto& entry : list) {
            const auto* personality = entry.as_object().if_contains("personality");
            lengths.push_back(personality ? characterCount(std::string(personality->as_string())) : 0);
        }
        return lengths;
    }

    Account account;
};

TEST_F(CrewFitting, WalksDownThePersonalityLimitsRightAtTheBoundary)
{
    // With an empty text every limit fits; that composition gives the fixed overhead.
    PendingRequest empty = compose(0);
    ASSERT_EQ(sentPersonalities(empty), (std::vector<std::size_t> { 1800, 1800, 1800 }));
    std::size_t overhead = characterCount(empty.payload) - listCharacters(1800);

    const std::size_t limits[] = { 1800, 220, 80, 32, 0 };
    for (std::size_t i = 0; i < std::size(limits); ++i) {
        std::size_t limit = limits[i];
        std::size_t fillsExactly = kPayloadCharacterLimit - overhead - listCharacters(limit);
        {
            SCOPED_TRACE("payload of exactly 20000 with limit " + std::to_string(limit));
            PendingRequest job = compose(fillsExactly);
            EXPECT_EQ(sentPersonalities(job), (std::vector<std::size_t>(3, limit)));
            EXPECT_EQ(characterCount(job.payload), kPayloadCharacterLimit);
        }
        {
            SCOPED_TRACE("one character more than limit " + std::to_string(limit) + " allows");
            PendingRequest job = compose(fillsExactly + 1);
            std::size_t next = i + 1 < std::size(limits) ? limits[i + 1] : 0;
            EXPECT_EQ(sentPersonalities(job), (std::vector<std::size_t>(3, next)));
            if (limit > 0) {
                EXPECT_LE(characterCount(job.payload), kPayloadCharacterLimit);
            } else {
                EXPECT_EQ(characterCount(job.payload), kPayloadCharacterLimit + 1);  // names only, still too long
            }
        }
    }
}

TEST_F(CrewFitting, KeepsNamesOnlyWhenTheTextAloneIsTooLong)
{
    PendingRequest job = compose(kPayloadCharacterLimit);
    EXPECT_EQ(sentPersonalities(job), (std::vector<std::size_t>(3, 0)));
    EXPECT_TRUE(job.crewSetupRevision);
}

}  // namespace
}  // namespace quorvane
