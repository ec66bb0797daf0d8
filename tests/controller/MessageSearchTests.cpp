// Finding messages by what they say: the matching rules (case, accents, folding, every word),
// the scope, the order and the limit, the snippets, and the kept search forms staying right
// while the history changes.

#include <glib.h>
#include <gtest/gtest.h>

#include "quorvane/Vault.hpp"
#include "quorvane/controller/MessageSearch.hpp"

namespace quorvane {
namespace {

ChatMessage message(const char* id, const char* bot, const char* text, Date date)
{
    ChatMessage m;
    m.id = id;
    m.botID = bot;
    m.role = MessageRole::assistant;
    m.status = MessageStatus::sent;
    m.text = text;
    m.date = date;
    return m;
}

std::vector<std::string> ids(const SearchResults& results)
{
    std::vector<std::string> out;
    for (const auto& hit : results.hits)
        out.push_back(hit.messageID.str());
    return out;
}

class MessageSearchTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        account = Vault::fresh().account();
        account.messages.push_back(message("m1", "dot", "We met at the Café Müller on Tuesday.", 100));
        account.messages.push_back(message("m2", "ada", "The STRASSE was closed, take the ring road.", 200));
        account.messages.push_back(message("m3", "dot", "Straße names: Hauptstraße and Bahnhofstraße.", 300));
        ChatMessage parts = message("m4", "ada", "", 400);
        ReplyPart first;
        first.id = "p1";
        first.text = "Nothing here.";
        ReplyPart second;
        second.id = "p2";
        second.text = "The naïve plan: ship it on Friday.";
        parts.parts = std::vector<ReplyPart> { first, second };
        account.messages.push_back(parts);
        account.messages.push_back(message("m5", "dot", "ΣΊΣΥΦΟΣ and the boulder", 500));
    }

    Account account;
    MessageSearch search;
};

TEST_F(MessageSearchTest, MatchesWithoutCaseOrAccentsAndNeedsEveryWord)
{
    struct Case {
        const char* query;
        std::optional<const char*> bot;
        std::vector<std::string> expected;  // newest first
    };
    const Case cases[] = {
        { "cafe muller", std::nullopt, { "m1" } },
        { "CAFÉ", std::nullopt, { "m1" } },
        { "strasse", std::nullopt, { "m3", "m2" } },  // full case folding: ß is ss
        { "straße", std::nullopt, { "m3", "m2" } },
        { "naive friday", std::nullopt, { "m4" } },  // a reply part's text
        { "naive monday", std::nullopt, {} },  // every word must be there
        { "σίσυφος", std::nullopt, { "m5" } },  // final sigma and tonos
        { "  the  ", std::nullopt, { "m5", "m4", "m2", "m1" } },
        { "the", "dot", { "m5", "m1" } },  // one conversation only
        { "strasse", "ada", { "m2" } },
        { "", std::nullopt, {} },
        { " \n\t", std::nullopt, {} },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.query);
        std::optional<Text> bot;
        if (c.bot)
            bot = Text(*c.bot);
        SearchResults results = search.find(account, c.query, bot);
        EXPECT_EQ(ids(results), c.expected);
        EXPECT_FALSE(results.more);
        EXPECT_EQ(results.query, Text(c.query));
        EXPECT_EQ(results.botID, bot);
    }
}

TEST_F(MessageSearchTest, HitsCarryTheBotTheDateAndASnippetAroundTheMatch)
{
    SearchResults results = search.find(account, "NAIVE", std::nullopt);
    ASSERT_EQ(results.hits.size(), 1u);
    EXPECT_EQ(results.hits[0].botID, "ada");
    EXPECT_EQ(results.hits[0].date, 400);
    EXPECT_EQ(results.hits[0].snippet, "The naïve plan: ship it on Friday.");

    // A long text is cut around the match, on whole characters, with line breaks as spaces.
    std::string text;
    for (int i = 0; i < 30; ++i)
        text += "é filler ";
    text += "needle\nin the haystack";
    for (int i = 0; i < 30; ++i)
        text += " more words";
    account.messages.push_back(message("long", "dot", text.c_str(), 600));
    results = search.find(account, "needle haystack", std::nullopt);
    ASSERT_EQ(ids(results), std::vector<std::string> { "long" });
    const std::string snippet = results.hits[0].snippet.str();
    EXPECT_TRUE(snippet.starts_with("…")) << snippet;
    EXPECT_TRUE(snippet.ends_with("…")) << snippet;
    EXPECT_NE(snippet.find("needle in the haystack"), std::string::npos) << snippet;
    EXPECT_LT(snippet.size(), 160u);
    EXPECT_TRUE(g_utf8_validate(snippet.data(), gssize(snippet.size()), nullptr)) << "cut inside a character";
}

TEST_F(MessageSearchTest, StopsAtTheLimitAndSaysThereIsMore)
{
    for (int i = 0; i < 120; ++i)
        account.messages.push_back(message(("n" + std::to_string(i)).c_str(), "dot", "a common word", 1000 + i));
    SearchResults results = search.find(account, "common", std::nullopt);
    ASSERT_EQ(results.hits.size(), MessageSearch::kDefaultLimit);
    EXPECT_TRUE(results.more);
    EXPECT_EQ(results.hits.front().messageID, "n119");
    EXPECT_EQ(results.hits.back().messageID, "n70");
    results = search.find(account, "common", std::nullopt, 120);
    EXPECT_EQ(results.hits.size(), 120u);
    EXPECT_FALSE(results.more);
}

// The kept forms follow the history: an edited text is searched as it is now, even when the new
// text is put where the old one was.
TEST_F(MessageSearchTest, FindsWhatTheHistorySaysNowAfterChanges)
{
    EXPECT_EQ(ids(search.find(account, "boulder", std::nullopt)), std::vector<std::string> { "m5" });
    for (int round = 0; round < 200; ++round) {
        account.messages.mutableAt(4).text = Text("round " + std::to_string(round) + " pebble");
        SearchResults results = search.find(account, "pebble", std::nullopt);
        ASSERT_EQ(ids(results), std::vector<std::string> { "m5" }) << round;
        ASSERT_NE(results.hits[0].snippet.find("round " + std::to_string(round) + " "), Text::npos);
        ASSERT_TRUE(search.find(account, "boulder", std::nullopt).hits.empty());
    }
}

}  // namespace
}  // namespace quorvane
