// Reply tags, envelope text, tag stripping, reply content and text normalisation.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <unicode/regex.h>
#include <unicode/unistr.h>

#include "CorrelationSupport.hpp"
#include "quorvane/TextRules.hpp"

namespace quorvane {
namespace {

using namespace quorvane::testing;

std::string utf8(char32_t c)
{
    std::string out;
    icu::UnicodeString(static_cast<UChar32>(c)).toUTF8String(out);
    return out;
}

TEST(ReplyToken, FollowsTheTagGrammar)
{
    struct Case {
        const char* name;
        std::string text;
        std::optional<std::string> token;
    };
    const std::vector<Case> cases = {
        { "white space before, line break after", "  " + kTag + "  \nHello", "0123456789ab" },
        { "tag alone", kTag, "0123456789ab" },
        { "tag then only white space", kTag + " \t ", "0123456789ab" },
        { "tag then CR LF", kTag + "\r\nHi", "0123456789ab" },
        { "Unicode white space before", "\u3000\u2028\u00A0" + kTag + "\nHi", "0123456789ab" },
        { "text on the same line", kTag + " Hello", std::nullopt },
        { "emoji on the same line", kTag + " \U0001F44B\nHi", std::nullopt },
        { "paragraph separator is not a line break", kTag + "\u2029Hi", std::nullopt },
        { "upper-case digits", "[qv:0123456789AB]\nHi", std::nullopt },
        { "eleven digits", "[qv:0123456789a]\nHi", std::nullopt },
        { "thirteen digits", "[qv:0123456789abc]\nHi", std::nullopt },
        { "non-hex letter", "[qv:0123456789ag]\nHi", std::nullopt },
        { "not at the start of the text", "Hi\n" + kTag + "\nThere", std::nullopt },
        { "after an emoji", "\U0001F600" + kTag + "\nHi", std::nullopt },
        { "after a zero-width space", "\u200B" + kTag + "\nHi", std::nullopt },
        { "after an invalid byte", "\xFF" + kTag + "\nHi", std::nullopt },
        { "invalid bytes after the tag line", kTag + "\n\xFF\xFE", "0123456789ab" },
        { "empty text", "", std::nullopt },
        { "other token", "[qv:ffffffffffff]\n\u6F22\u5B57", "ffffffffffff" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(replyToken(c.text), c.token);
    }
}

// Texts are turned away by a quick look at their first characters before the expression runs;
// that look must skip exactly the white space that ICU's "\s" matches.
TEST(ReplyToken, LeadingWhiteSpaceIsWhatTheExpressionCallsWhiteSpace)
{
    UErrorCode status = U_ZERO_ERROR;
    UParseError parseError {};
    std::unique_ptr<icu::RegexPattern> space(icu::RegexPattern::compile(u"\\s", 0, parseError, status));
    ASSERT_TRUE(U_SUCCESS(status));
    auto isRegexSpace = [&](char32_t c) {
        icu::UnicodeString text(static_cast<UChar32>(c));
        UErrorCode matchStatus = U_ZERO_ERROR;
        std::unique_ptr<icu::RegexMatcher> matcher(space->matcher(text, matchStatus));
        return bool(matcher->matches(matchStatus));
    };
    for (char32_t c = 0; c < 0x3100; ++c) {
        if (c >= 0xD800 && c <= 0xDFFF)
            continue;
        SCOPED_TRACE(::testing::Message() << "U+" << std::hex << static_cast<unsigned>(c));
        bool tagged = replyToken(utf8(c) + kTag + "\nHi").has_value();
        ASSERT_EQ(tagged, isRegexSpace(c));
    }
}

TEST(RequestEnvelope, RecognisesOurOwnPrompts)
{
    struct Case {
        const char* name;
        std::string text;
        bool envelope;
    };
    const std::vector<Case> cases = {
        { "request envelope", "[Quorvane request 1A2B]\nHello", true },
        { "after white space", " \n\t[Quorvane request 1A2B]", true },
        { "identity banner", "[Active Quorvane bot \u2014 this turn only]\nYou are Muse.", true },
        { "banner with a hyphen", "[Active Quorvane bot - this turn only]\nYou are Muse.", false },
        { "banner with an en dash", "[Active Quorvane bot \u2013 this turn only]", false },
        { "crew setup", "[Quorvane crew setup]\nCrew:", true },
        { "lower case", "[quorvane crew setup]", false },
        { "envelope without its space", "[Quorvane request]", false },
        { "after a reply tag", kTag + "\n[Quorvane request 1A2B]\nHello", true },
        { "after a tag and blank lines", "  " + kTag + " \n\n  [Quorvane crew setup]", true },
        { "after a tag on the same line", kTag + " [Quorvane request 1A2B]", false },
        { "after an upper-case tag", "[qv:0123456789AB]\n[Quorvane request 1A2B]", false },
        { "after two tags", kTag + "\n" + kTag + "\n[Quorvane request 1A2B]", false },
        { "in the middle", "Hello [Quorvane request 1A2B]", false },
        { "plain reply", "Hello there", false },
        { "tag alone", kTag, false },
        { "empty", "", false },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(isQuorvaneRequestEnvelope(c.text), c.envelope);
    }
}

TEST(CleanReply, StripsTheLeadingTagFromTextAndHTML)
{
    struct Case {
        const char* name;
        std::string text;
        std::optional<std::string> html;
        std::string cleanText;
        std::optional<std::string> cleanHTML;
    };
    const std::vector<Case> cases = {
        { "white space around the tag", "  " + kTag + "  \nHello", std::nullopt, "Hello", std::nullopt },
        { "text trimmed after the tag", kTag + "\n\n  Hello world \n", std::nullopt, "Hello world", std::nullopt },
        { "tag alone", kTag, std::nullopt, "", std::nullopt },
        { "paragraph-wrapped tag", kTag + "\nHi", "<p>" + kTag + "</p><p>Hi</p>", "Hi", "<p>Hi</p>" },
        { "nested wrappers and breaks", kTag + "\nHi", "<div>\n <span>" + kTag + "</span><br/>\n<br >Hi</div>", "Hi",
            "Hi</div>" },
        { "HTML not starting with the tag", kTag + "\nHi", "<p>Intro</p><p>" + kTag + "</p>", "Hi", std::nullopt },
        { "HTML with another token", kTag + "\nHi", "<p>[qv:ffffffffffff]</p><p>Hi</p>", "Hi", std::nullopt },
        { "HTML wrapper with attributes", kTag + "\nHi", "<p class=\"x\">" + kTag + "</p>Hi", "Hi", std::nullopt },
        { "HTML without any tag", kTag + "\nHi", "<p>Hi</p>", "Hi", std::nullopt },
        { "empty HTML", kTag + "\nHi", "", "Hi", std::nullopt },
        { "untagged text keeps its HTML", "Hello " + kTag, "<p>" + kTag + "</p>", "Hello " + kTag,
            "<p>" + kTag + "</p>" },
        { "multi-byte text after the tag",
            "\u3000" + kTag + "\n\U0001F469\u200D\U0001F469\u200D\U0001F467 cafe\u0301 \u6F22\u5B57",
            "\u00A0<p>" + kTag + "</p>\u2003<p>\u6F22\u5B57 \U0001F469\u200D\U0001F469\u200D\U0001F467</p>",
            "\U0001F469\u200D\U0001F469\u200D\U0001F467 cafe\u0301 \u6F22\u5B57",
            "<p>\u6F22\u5B57 \U0001F469\u200D\U0001F469\u200D\U0001F467</p>" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<MessageAttachment> files = { attachment("f1") };
        DotMessage clean = cleanReply(assistant("p1", c.text, c.html, files));
        EXPECT_EQ(clean.text, c.cleanText);
        EXPECT_EQ(clean.html, c.cleanHTML ? std::optional<Text>(Text(*c.cleanHTML)) : std::nullopt);
        EXPECT_EQ(clean.id, "p1");
        EXPECT_EQ(clean.role, "assistant");
        EXPECT_EQ(clean.attachments, std::optional(files));
    }
}

TEST(HasReplyContent, NeedsSomethingWorthShowing)
{
    const std::string envelope = "[Quorvane request 1A2B]\nHello";
    struct Case {
        const char* name;
        DotMessage message;
        bool content;
    };
    const std::vector<Case> cases = {
        { "text", assistant("a", "Hi"), true },
        { "white space only", assistant("a", "  \n"), true },
        { "envelope text with HTML", assistant("a", envelope, "<p>Hi</p>"), false },
        { "tagged envelope text", assistant("a", kTag + "\n" + envelope), false },
        { "nothing at all", assistant("a", ""), false },
        { "an attachment", assistant("a", "", std::nullopt, std::vector { attachment("f1") }), true },
        { "attachment titled like an envelope",
            assistant("a", "", std::nullopt, std::vector { attachment("f1", envelope) }), false },
        { "second attachment titled like an envelope",
            assistant(
                "a", "", std::nullopt, std::vector { attachment("f1"), attachment("f2", "[Quorvane crew setup]") }),
            false },
        { "envelope title under real text",
            assistant("a", "Hi", std::nullopt, std::vector { attachment("f1", envelope) }), true },
        { "empty attachments and no HTML", assistant("a", "", std::nullopt, std::vector<MessageAttachment> {}), false },
        { "empty attachments and HTML", assistant("a", "", "<p>x</p>", std::vector<MessageAttachment> {}), true },
        { "HTML only", assistant("a", "", "<img src=\"x.png\">"), true },
        { "empty HTML", assistant("a", "", ""), false },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(hasReplyContent(c.message), c.content);
    }
}

TEST(Normalized, FoldsQuotesAndWhiteSpaceOnly)
{
    struct Case {
        const char* name;
        std::string text;
        std::string expected;
    };
    const std::vector<Case> cases = {
        { "runs of white space", "  a \t b\n\nc  ", "a b c" },
        { "curly quotes", "\u201Cx\u201D \u2018y\u2019", "\"x\" 'y'" },
        { "Unicode white space", "\u2028a\u00A0b\u3000c\u0085d\u2029", "a b c d" },
        { "zero-width space is kept", "a\u200Bb", "a\u200Bb" },
        { "case and composition kept", "Cafe\u0301 CAF\u00C9", "Cafe\u0301 CAF\u00C9" },
        { "emoji and CJK", " \U0001F44B\n\u6F22\u5B57 ", "\U0001F44B \u6F22\u5B57" },
        { "only white space", " \n\t ", "" },
        { "empty", "", "" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(normalized(c.text), c.expected);
    }
}

}  // namespace
}  // namespace quorvane
