// The reply-tag scanners against ICU's own regular-expression engine, over a large set of texts
// built from the pieces where the two could part ways: every kind of white space and line end,
// near-miss tags, and the HTML wrappers a page puts around a tag.

#include <gtest/gtest.h>

#include <memory>

#include <unicode/regex.h>
#include <unicode/utext.h>

#include "CorrelationSupport.hpp"
#include "quorvane/TextRules.hpp"

namespace quorvane {
namespace {

using namespace quorvane::testing;

struct Match {
    std::size_t end;
    std::string group;
};

// The expression matched by ICU over UTF-8, so offsets are byte offsets.
std::optional<Match> icuMatch(const std::u16string& expression, const std::string& text)
{
    UErrorCode status = U_ZERO_ERROR;
    UParseError parse {};
    std::unique_ptr<icu::RegexPattern> pattern(icu::RegexPattern::compile(
        icu::UnicodeString(expression.data(), static_cast<int32_t>(expression.size())), 0, parse, status));
    EXPECT_TRUE(U_SUCCESS(status));
    UText input = UTEXT_INITIALIZER;
    utext_openUTF8(&input, text.data(), static_cast<int64_t>(text.size()), &status);
    std::unique_ptr<icu::RegexMatcher> matcher(pattern->matcher(status));
    matcher->reset(&input);
    std::optional<Match> found;
    if (matcher->find(status)) {
        std::size_t end = static_cast<std::size_t>(matcher->end64(status));
        std::string group;
        if (matcher->groupCount() > 0) {
            auto from = static_cast<std::size_t>(matcher->start64(1, status));
            group = text.substr(from, static_cast<std::size_t>(matcher->end64(1, status)) - from);
        }
        found = Match { end, group };
    }
    utext_close(&input);
    return found;
}

const std::u16string kTagExpression = u"^\\s*\\[qv:([a-f0-9]{12})\\](?:\\s*\\n|\\s*$)";

std::u16string htmlExpression(const std::string& token)
{
    std::u16string t(token.begin(), token.end());
    return u"^(?:\\s|<p>|<div>|<span>)*\\[qv:" + t + u"\\](?:</p>|</div>|</span>|<br\\s*/?>|\\s)*";
}

const std::vector<std::string> kSpaces = { "", " ", "\t", "\n", "\r", "\r\n", "\v", "\f", "\xC2\x85", "\xC2\xA0",
    "\xE2\x80\xA8", "\xE2\x80\xA9", "\xE3\x80\x80", "\xE2\x80\x8B", " \n ", "\n\n", "\xE1\x9A\x80" };
const std::vector<std::string> kTags
    = { kTag, "[qv:0123456789AB]", "[qv:0123456789a]", "[qv:0123456789abc]", "[qv:0123456789ab", "qv:0123456789ab]" };

TEST(TagScanner, AgreesWithTheRegularExpressionOnText)
{
    const std::vector<std::string> tails = { "", "Hello", "x\n", "\xF0\x9F\x98\x80" };
    std::size_t compared = 0;
    for (const auto& before : kSpaces)
        for (const auto& tag : kTags)
            for (const auto& between : kSpaces)
                for (const auto& between2 : kSpaces)
                    for (const auto& tail : tails) {
                        const std::string text = before + tag + between + between2 + tail;
                        std::optional<Match> expected = icuMatch(kTagExpression, text);
                        DotMessage cleaned = cleanReply(assistant("m", text));
                        SCOPED_TRACE(::testing::PrintToString(text));
                        ASSERT_EQ(
                            replyToken(text), expected ? std::optional<std::string>(expected->group) : std::nullopt);
                        std::string expectedText
                            = expected ? std::string(trimmed(std::string_view(text).substr(expected->end))) : text;
                        ASSERT_EQ(cleaned.text, expectedText);
                        ++compared;
                    }
    EXPECT_GT(compared, 10000u);
}

TEST(TagScanner, AgreesWithTheRegularExpressionOnHTML)
{
    const std::vector<std::string> openings
        = { "", "<p>", "<div><span>", " <p>\n", "<P>", "<p >", "\xC2\xA0<div>", "<br>" };
    const std::vector<std::string> closings = { "", "</p>", "<br>", "<br/>", "<br />", "<br\n/>", "<br/ >", "<br x>",
        "</span></div>", " \xC2\xA0</p><p>Hi</p>", "</P>", "<br", "</p" };
    std::size_t compared = 0;
    for (const auto& opening : openings)
        for (const auto& tag : kTags)
            for (const auto& closing : closings)
                for (const auto& space : kSpaces) {
                    const std::string html = opening + space + tag + closing + space + closing + "<p>Rest</p>";
                    std::optional<Match> expected = icuMatch(htmlExpression(std::string(kToken)), html);
                    DotMessage cleaned = cleanReply(assistant("m", kTag + "\nHi", html));
                    SCOPED_TRACE(::testing::PrintToString(html));
                    if (expected)
                        ASSERT_EQ(cleaned.html, Text(std::string_view(html).substr(expected->end)));
                    else
                        ASSERT_FALSE(cleaned.html);
                    ++compared;
                }
    EXPECT_GT(compared, 5000u);
}

}  // namespace
}  // namespace quorvane
