// Whole snapshots rebuilt from the adapter's answers of what changed, and what a malformed or
// oversized answer does.

#include <string>

#include <boost/json.hpp>
#include <gtest/gtest.h>

#include "quorvane/AppFailure.hpp"
#include "quorvane/Json.hpp"
#include "quorvane/browser/SnapshotAssembler.hpp"

namespace quorvane {
namespace {

const boost::json::object kPage { { "url", "https://dot.example/dots/home" }, { "ready", true }, { "busy", false },
    { "reason", "" }, { "draft", "" } };

boost::json::object message(const std::string& key, const std::string& id, const std::string& text)
{
    return { { "key", key }, { "id", id }, { "role", "assistant" }, { "text", text } };
}

std::string answer(const std::string& base, const std::string& generation, boost::json::array changed,
    std::optional<boost::json::array> order, boost::json::object page = kPage)
{
    boost::json::object out { { "base", base }, { "generation", generation }, { "page", std::move(page) },
        { "changed", std::move(changed) } };
    if (order)
        out["order"] = std::move(*order);
    return boost::json::serialize(out);
}

std::vector<std::string> texts(const DotSnapshot& snapshot)
{
    std::vector<std::string> out;
    for (const auto& m : snapshot.messages)
        out.push_back(m.id.str() + "=" + m.text.str());
    return out;
}

// What apply() throws, as "<kind>: <message>".
std::string failureOf(SnapshotAssembler& assembler, std::string_view text)
{
    try {
        assembler.apply(text);
        return "ok";
    } catch (const StaleSnapshotBase&) {
        return "stale";
    } catch (const AppFailure& failure) {
        return "AppFailure: " + failure.message;
    } catch (const JsonDecodeError& error) {
        return std::string("JsonDecodeError: ") + error.what();
    }
}

TEST(SnapshotAssemblerTest, ChangesApplyToTheSnapshotHeld)
{
    SnapshotAssembler assembler;
    EXPECT_EQ(assembler.since(), "");
    auto whole = assembler.apply(answer("", "k:1",
        { message("a", "a", "Hello"), message("b", "b", "Partial"),
            message(std::string("b\0"
                                "1",
                        3),
                "b", "Partial answer") },
        boost::json::array { "a", "b",
            std::string("b\0"
                        "1",
                3) }));
    EXPECT_EQ(assembler.since(), "k:1");
    EXPECT_EQ(whole.url, "https://dot.example/dots/home");
    EXPECT_EQ(texts(whole), (std::vector<std::string> { "a=Hello", "b=Partial answer" }))
        << "an id shown twice reaches uniqueDotMessages as shown";

    // Nothing changed: the page fields alone.
    boost::json::object busy = kPage;
    busy["busy"] = true;
    auto same = assembler.apply(answer("k:1", "k:2", {}, std::nullopt, busy));
    EXPECT_TRUE(same.busy);
    EXPECT_EQ(same.messages, whole.messages);

    // One message grows, one leaves, one arrives.
    auto next = assembler.apply(answer(
        "k:2", "k:3", { message("c", "c", "New"), message("a", "a", "Hello again") }, boost::json::array { "a", "c" }));
    EXPECT_EQ(texts(next), (std::vector<std::string> { "a=Hello again", "c=New" }));
    EXPECT_EQ(assembler.since(), "k:3");

    // A message that left and comes back must be sent again.
    EXPECT_EQ(failureOf(assembler, answer("k:3", "k:4", {}, boost::json::array { "a", "b", "c" })),
        "JsonDecodeError: order: the page named a message it never sent");
    EXPECT_EQ(assembler.since(), "") << "after a failure the next answer is asked for whole";
}

TEST(SnapshotAssemblerTest, AnAnswerForAnotherSnapshotIsStale)
{
    SnapshotAssembler assembler;
    assembler.apply(answer("", "k:1", { message("a", "a", "Hello") }, boost::json::array { "a" }));
    EXPECT_EQ(failureOf(assembler, answer("k:7", "k:8", {}, std::nullopt)), "stale");
    EXPECT_EQ(assembler.since(), "");
    auto whole = assembler.apply(answer("", "k:9", { message("b", "b", "Fresh") }, boost::json::array { "b" }));
    EXPECT_EQ(texts(whole), (std::vector<std::string> { "b=Fresh" }));
}

TEST(SnapshotAssemblerTest, MalformedTextIsReplacedNotRefused)
{
    const struct {
        const char* name;
        std::string json;  // the inside of a JSON string, as the page sent it
        std::string text;  // what the snapshot holds
    } cases[] = {
        { "a lone leading surrogate", "cut \\ud83d here", "cut \xEF\xBF\xBD here" },
        { "a lone trailing surrogate", "\\ude00 first", "\xEF\xBF\xBD first" },
        { "a leading surrogate at the very end", "end \\uD83D", "end \xEF\xBF\xBD" },
        { "a leading surrogate before another escape", "\\ud83d\\u0041",
            "\xEF\xBF\xBD"
            "A" },
        { "two leading surrogates", "\\ud83d\\ud83d\\ude00", "\xEF\xBF\xBD\xF0\x9F\x98\x80" },
        { "a pair, which is fine", "\\ud83d\\ude00", "\xF0\x9F\x98\x80" },
        { "an escaped backslash before a u", "\\\\ud83d", "\\ud83d" },
        { "invalid UTF-8", "bad \xC3\x28 byte", "bad \xEF\xBF\xBD( byte" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SnapshotAssembler assembler;
        std::string text = R"({"base":"","generation":"k:1","page":{"url":"u","ready":true,"busy":false,"reason":"",)"
                           R"("draft":""},"order":["a"],"changed":[{"key":"a","id":"a","role":"user","text":")"
            + c.json + R"("}]})";
        DotSnapshot snapshot;
        ASSERT_NO_THROW(snapshot = assembler.apply(text));
        ASSERT_EQ(snapshot.messages.size(), 1u);
        EXPECT_EQ(snapshot.messages[0].text, c.text);
    }
    EXPECT_EQ(wellFormedJSON(R"({"a":"\ud83d\ude00 \n \" \\"})"), R"({"a":"\ud83d\ude00 \n \" \\"})");
}

TEST(SnapshotAssemblerTest, AnswersOverTheSizeBoundAreRefusedBeforeParsing)
{
    std::string head
        = R"({"base":"","generation":"k:1","page":{"url":"u","ready":true,"busy":false,"reason":"","draft":")";
    std::string tail = R"("},"order":[],"changed":[]})";
    std::string atBound
        = head + std::string(SnapshotAssembler::kMaxAnswerBytes - head.size() - tail.size(), 'x') + tail;
    ASSERT_EQ(atBound.size(), SnapshotAssembler::kMaxAnswerBytes);
    SnapshotAssembler assembler;
    EXPECT_EQ(assembler.apply(atBound).draft.size(), SnapshotAssembler::kMaxAnswerBytes - head.size() - tail.size());
    std::string over = head + "x" + atBound.substr(head.size());
    EXPECT_EQ(failureOf(assembler, over), "AppFailure: The Dot page is too large to read.");
    EXPECT_EQ(assembler.since(), "");
}

TEST(SnapshotAssemblerTest, AnswersThatAreNotSnapshotsFailWithTheDecodingError)
{
    boost::json::object badPage = kPage;
    badPage["ready"] = "yes";
    boost::json::object withoutURL = kPage;
    withoutURL.erase("url");
    boost::json::object noText = message("a", "a", "x");
    noText.erase("text");
    const struct {
        std::string text;
        std::string expected;
    } cases[] = {
        { "not json", "JsonDecodeError: The Dot page snapshot is not valid JSON: syntax error" },
        { "[]", "JsonDecodeError: expected an object" },
        { R"({"generation":"k:1","page":{},"changed":[]})", "JsonDecodeError: missing key \"base\"" },
        { answer("", "k:1", {}, boost::json::array {}, badPage),
            "JsonDecodeError: page.ready: expected a boolean, found a string" },
        { answer("", "k:1", {}, boost::json::array {}, withoutURL), "JsonDecodeError: page: missing key \"url\"" },
        { answer("", "k:1", { noText }, boost::json::array { "a" }),
            "JsonDecodeError: changed.0: missing key \"text\"" },
        { answer("", "k:1", { message("a", "a", "x") }, std::nullopt), "JsonDecodeError: missing key \"order\"" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        SnapshotAssembler assembler;
        assembler.apply(answer("", "k:0", {}, boost::json::array {}));
        EXPECT_EQ(failureOf(assembler, c.text), c.expected);
        EXPECT_EQ(assembler.since(), "");
    }
}

}  // namespace
}  // namespace quorvane
