// The export files and the reply notice's text: Markdown as the user reads it (authors, parts in
// order, handoff copies and requests, failed and stopped messages, archived and vanished bots),
// JSON that decodes back to the very records, file names, local dates, and the first line of a
// reply cut at a character boundary.

#include <cstdlib>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <boost/json/value_to.hpp>
#include <gtest/gtest.h>

#include "quorvane/controller/ConversationExport.hpp"
#include "quorvane/controller/ReplyNotifier.hpp"

namespace quorvane {
namespace {

Bot bot(const char* id, const char* name, bool archived = false)
{
    Bot b;
    b.id = id;
    b.name = name;
    b.kind = "robot";
    b.archived = archived;
    return b;
}

ChatMessage message(const char* id, const char* botID, MessageRole role, const char* text, Date date,
    MessageStatus status = MessageStatus::sent)
{
    return ChatMessage { id, botID, role, text, date, status };
}

// Ada asked Bob for help; Bob's result came back to her as a copy. One of the user's messages
// failed and quotes Ada, one to Dot was stopped, one belongs to a bot the crew no longer lists,
// and Cy has said nothing yet.
Account fixture()
{
    Account account;
    account.id = "account-1";
    account.label = "Your Dot";
    account.bots = { bot("dot", "Dot"), bot("ada", "Ada"), bot("bob", "Bob", true), bot("cy", "Cy") };
    std::vector<ChatMessage> messages;
    messages.push_back(message("m1", "ada", MessageRole::user, "What is 2+2?", 100));
    ChatMessage reply = message("m1-reply", "ada", MessageRole::assistant, "Four.\n\nReally.", 100);
    reply.parts = CowVector<ReplyPart>(
        std::vector<ReplyPart> { { .id = "p1", .text = "Four." }, { .id = "p2", .text = "  Really.\n" } });
    messages.push_back(reply);
    messages.push_back(message("ev", "ada", MessageRole::event, "Asked Bob to help.", 200, MessageStatus::delegated));
    ChatMessage task = message("h1", "bob", MessageRole::handoff, "Check the sum.", 200);
    task.sourceBotID = "ada";
    messages.push_back(task);
    messages.push_back(message("h1-reply", "bob", MessageRole::assistant, "Checked: 4.", 200));
    ChatMessage copy = message("h1-reply-handoff-result-ada", "ada", MessageRole::assistant, "Checked: 4.", 200);
    copy.sourceBotID = "bob";
    messages.push_back(copy);
    ChatMessage failed = message("m2", "ada", MessageRole::user, "And 2+3?", 300, MessageStatus::failed);
    failed.quotedReply = QuotedReply { "m1-reply", std::nullopt, "Ada", "Four.\nReally." };
    messages.push_back(failed);
    messages.push_back(message("m3", "dot", MessageRole::user, "Hello?", 400, MessageStatus::unconfirmed));
    messages.push_back(message("m4", "gone", MessageRole::user, "Anyone?", 500));
    account.messages = CowVector<ChatMessage>(std::move(messages));
    return account;
}

std::string at(Date date) { return "@" + std::to_string(static_cast<long>(date)); }

TEST(MarkdownExport, ReadsAsTheConversationsDo)
{
    const std::string ada = "## Ada\n\n"
                            "**You** · @100\n\nWhat is 2+2?\n\n"
                            "**Ada** · @100\n\nFour.\n\nReally.\n\n"
                            "_@200 · Asked Bob to help._\n\n"
                            "**Bob** · @200 · _handoff copy_\n\nChecked: 4.\n\n"
                            "**You** · @300 · _failed_\n\n> Ada: Four.\n> Really.\n\nAnd 2+3?\n";
    const std::string title = "# Your Dot\n\nExported from Quorvane on @1000.\n\n";
    const struct {
        const char* name;
        std::optional<Text> botID;
        std::string expected;
    } cases[] = {
        { "one bot", Text("ada"), title + ada },
        { "an archived bot", Text("bob"),
            title
                + "## Bob\n\n**Ada** · @200 · _handoff request_\n\nCheck the sum.\n\n**Bob** · @200\n\nChecked: 4.\n" },
        { "a bot without messages", Text("cy"), title + "## Cy\n\n_No messages._\n" },
        { "a bot that is not there", Text("nobody"), "# Your Dot\n\nExported from Quorvane on @1000.\n" },
        { "the whole account", std::nullopt,
            title + "## Dot\n\n**You** · @400 · _stopped_\n\nHello?\n\n" + ada + "\n"
                + "## Bob (archived)\n\n**Ada** · @200 · _handoff request_\n\nCheck the sum.\n\n"
                  "**Bob** · @200\n\nChecked: 4.\n\n"
                + "## Cy\n\n_No messages._\n\n" + "## gone\n\n**You** · @500\n\nAnyone?\n" },
    };
    const Account account = fixture();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(exportMarkdown(account, c.botID, 1000, at), c.expected);
    }
}

TEST(MarkdownExport, NamesStayOnTheirHeadingLine)
{
    Account account = fixture();
    account.label = "Home\nDot";
    account.bots[1].name = "Ada\nLovelace";
    const std::string text = exportMarkdown(account, Text("ada"), 1000, at);
    EXPECT_TRUE(text.starts_with("# Home Dot\n\n")) << text;
    EXPECT_NE(text.find("\n## Ada Lovelace\n\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\n**Ada Lovelace** · @100\n\nFour."), std::string::npos) << text;
}

TEST(JSONExport, HoldsTheRecordsAsTheVaultEncodesThem)
{
    const Account account = fixture();
    const auto messagesOf = [&](std::optional<std::string> botID) {
        std::vector<ChatMessage> out;
        for (const ChatMessage& m : account.messages.elements())
            if (!botID || m.botID == *botID)
                out.push_back(m);
        return out;
    };
    const struct {
        std::optional<Text> botID;
        std::vector<Bot> bots;
        std::vector<ChatMessage> messages;
    } cases[] = {
        { Text("ada"), { account.bots[1] }, messagesOf("ada") },
        { Text("cy"), { account.bots[3] }, {} },
        { std::nullopt, account.bots, messagesOf(std::nullopt) },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.botID ? c.botID->str() : "whole account");
        const std::string text = exportJSON(account, c.botID);
        const boost::json::object object = boost::json::parse(text).as_object();
        ASSERT_EQ(object.size(), 2u);
        EXPECT_EQ(boost::json::value_to<std::vector<Bot>>(object.at("bots")), c.bots);
        EXPECT_EQ(boost::json::value_to<std::vector<ChatMessage>>(object.at("messages")), c.messages);
        // The vault's own encoding, indented.
        EXPECT_EQ(boost::json::parse(text),
            boost::json::parse("{\"bots\":" + encodeJSON(c.bots) + ",\"messages\":" + encodeJSON(c.messages) + "}"));
        EXPECT_TRUE(text.starts_with("{\n  \"bots\": [")) << text.substr(0, 40);
        EXPECT_TRUE(text.ends_with("\n}\n"));
    }
}

TEST(JSONExport, IndentingKeepsStringsAsTheyAre)
{
    const struct {
        const char* compact;
        const char* indented;
    } cases[] = {
        { R"({})", "{}" },
        { R"([])", "[]" },
        { R"({"a":[1,2.5],"b":{},"c":[]})", "{\n  \"a\": [\n    1,\n    2.5\n  ],\n  \"b\": {},\n  \"c\": []\n}" },
        { R"({"s":"a, b: {c} [d] \"e\" \\"})", "{\n  \"s\": \"a, b: {c} [d] \\\"e\\\" \\\\\"\n}" },
        { R"([{"x":null,"y":true}])", "[\n  {\n    \"x\": null,\n    \"y\": true\n  }\n]" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.compact);
        EXPECT_EQ(indentedJSON(c.compact), c.indented);
        EXPECT_EQ(boost::json::parse(indentedJSON(c.compact)), boost::json::parse(c.compact));
    }
}

TEST(ExportOffer, NamesTheFileAfterTheBotOrTheAccountAndTheDay)
{
    const Account account = fixture();
    auto day = [](Date) { return std::string("2026-12-10 14:34"); };
    const struct {
        std::optional<Text> botID;
        ExportFormat format;
        const char* title;
        const char* name;
        const char* type;
    } cases[] = {
        { Text("ada"), ExportFormat::markdown, "Export Conversation", "Ada 2026-12-10.md", "text/markdown" },
        { Text("bob"), ExportFormat::json, "Export Conversation", "Bob 2026-12-10.json", "application/json" },
        { std::nullopt, ExportFormat::markdown, "Export All Conversations", "Your Dot 2026-12-10.md", "text/markdown" },
        { std::nullopt, ExportFormat::json, "Export All Conversations", "Your Dot 2026-12-10.json",
            "application/json" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const FileOffer offer = exportOffer(account, c.botID, c.format, 1000, day);
        EXPECT_EQ(offer.title, c.title);
        EXPECT_EQ(offer.suggestedName, c.name);
        EXPECT_EQ(offer.mimeType, c.type);
        EXPECT_EQ(offer.notice, "The exported file is not encrypted.");
        EXPECT_EQ(offer.bytes,
            c.format == ExportFormat::markdown ? exportMarkdown(account, c.botID, 1000, day)
                                               : exportJSON(account, c.botID));
    }
}

TEST(ExportOffer, FileNameStemsTheFileSystemTakes)
{
    std::string accented;  // 100 characters of two code points each
    for (int i = 0; i < 100; ++i)
        accented += "e\u0301";
    const struct {
        std::string name;
        std::string stem;
    } cases[] = {
        { "Ada", "Ada" },
        { "  a/b\\c  ", "a-b-c" },
        { ".hidden", "hidden" },
        { "../up", "up" },
        { "Tab\there", "Tab-here" },
        { "name.", "name" },
        { "", "Quorvane" },
        { " \n ", "Quorvane" },
        { "/", "Quorvane" },
        { accented, accented.substr(0, 80 * 3) },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(fileNameStem(c.name), c.stem);
    }
}

// Dates are written in the local time zone; a zone given as a POSIX rule needs no zone files.
TEST(ExportDates, LocalTimeFollowsTheZone)
{
    const char* saved = std::getenv("TZ");
    const std::optional<std::string> previous = saved ? std::optional<std::string>(saved) : std::nullopt;
    const Date noonUTC = 818598896;  // 2026-12-10 12:34:56 UTC
    const struct {
        const char* zone;
        const char* expected;
    } cases[] = {
        { "UTC0", "2026-12-10 12:34" },
        { "XST-2", "2026-12-10 14:34" },
        { "YST11", "2026-12-10 01:34" },
        { "ZST-12", "2026-12-11 00:34" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.zone);
        setenv("TZ", c.zone, 1);
        tzset();
        EXPECT_EQ(localDateText(noonUTC), c.expected);
    }
    if (previous)
        setenv("TZ", previous->c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}

TEST(ReplyNoticeBody, FirstLineCutAtACharacterBoundary)
{
    std::string thumbs;  // 130 characters of two code points each (a thumb and a skin tone)
    for (int i = 0; i < 130; ++i)
        thumbs += "\U0001F44D\U0001F3FD";
    std::string accented;  // exactly 120 characters
    for (int i = 0; i < 120; ++i)
        accented += "e\u0301";
    const struct {
        const char* name;
        std::string text;
        std::string body;
    } cases[] = {
        { "first line", "Hello\nworld", "Hello" },
        { "blank lines first", "\n  \n\t First line  \nSecond", "First line" },
        { "nothing", "", "" },
        { "only white space", " \n \n", "" },
        { "long", std::string(200, 'a'), std::string(119, 'a') + "\u2026" },
        { "exactly the length", accented, accented },
        { "clusters stay whole", thumbs, thumbs.substr(0, 119 * 8) + "\u2026" },
        { "no space before the ellipsis", std::string(118, 'a') + "   bbb", std::string(118, 'a') + "\u2026" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(replyNoticeBody(c.text), c.body);
    }
}

}  // namespace
}  // namespace quorvane
