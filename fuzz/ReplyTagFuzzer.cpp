// Reply tag scanning against ICU's own regular-expression engine: the tag a reply starts with,
// the text without it, and the HTML without it, exactly as the expressions the scanners stand in
// for would have them (the same oracle as tests/correlation/TagOracleTests.cpp).
//
// The page hands over valid UTF-8 only (its JSON is mended before it is read), so the oracle is
// asked about valid UTF-8; other bytes still go through the scanners, for the sanitizers.

#include <memory>
#include <optional>

#include <unicode/regex.h>
#include <unicode/ustring.h>
#include <unicode/utext.h>

#include "FuzzSupport.hpp"
#include "quorvane/ReplyCorrelation.hpp"
#include "quorvane/TextRules.hpp"

using namespace quorvane;

namespace {

const std::string kTag = "[qv:0123456789ab]";

struct Match {
    std::size_t end;
    std::string group;
};

class Expression {
public:
    explicit Expression(const std::u16string& expression)
    {
        UErrorCode status = U_ZERO_ERROR;
        UParseError parse {};
        pattern_.reset(icu::RegexPattern::compile(
            icu::UnicodeString(expression.data(), static_cast<int32_t>(expression.size())), 0, parse, status));
        if (U_FAILURE(status))
            fuzz::propertyBroken("the oracle's expression does not compile");
    }

    // The match at the start of `text`, matched over UTF-8 so that offsets are byte offsets.
    std::optional<Match> match(std::string_view text) const
    {
        UErrorCode status = U_ZERO_ERROR;
        UText input = UTEXT_INITIALIZER;
        utext_openUTF8(&input, text.data(), static_cast<int64_t>(text.size()), &status);
        std::unique_ptr<icu::RegexMatcher> matcher(pattern_->matcher(status));
        matcher->reset(&input);
        std::optional<Match> found;
        if (matcher->find(status)) {
            auto end = static_cast<std::size_t>(matcher->end64(status));
            std::string group;
            if (matcher->groupCount() > 0) {
                auto from = static_cast<std::size_t>(matcher->start64(1, status));
                group = std::string(text.substr(from, static_cast<std::size_t>(matcher->end64(1, status)) - from));
            }
            found = Match { end, group };
        }
        utext_close(&input);
        if (U_FAILURE(status))
            fuzz::propertyBroken("the oracle failed to match");
        return found;
    }

private:
    std::unique_ptr<icu::RegexPattern> pattern_;
};

bool isValidUTF8(std::string_view text)
{
    UErrorCode status = U_ZERO_ERROR;
    int32_t length = 0;
    u_strFromUTF8(nullptr, 0, &length, text.data(), static_cast<int32_t>(text.size()), &status);
    return status == U_BUFFER_OVERFLOW_ERROR || U_SUCCESS(status);
}

DotMessage assistant(std::string_view text, std::optional<std::string_view> html)
{
    DotMessage message { Text("m"), Text("assistant"), Text(text), std::nullopt, std::nullopt };
    if (html)
        message.html = Text(*html);
    return message;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const Expression kText(u"^\\s*\\[qv:([a-f0-9]{12})\\](?:\\s*\\n|\\s*$)");
    static const Expression kHTML(
        u"^(?:\\s|<p>|<div>|<span>)*\\[qv:0123456789ab\\](?:</p>|</div>|</span>|<br\\s*/?>|\\s)*");
    std::string_view input = fuzz::asText(data, size);

    std::optional<std::string> token = replyToken(input);
    DotMessage asText = cleanReply(assistant(input, std::nullopt));
    DotMessage asHTML = cleanReply(assistant(kTag + "\nHi", input));
    if (size > 4096 || !isValidUTF8(input))
        return 0;

    std::optional<Match> expected = kText.match(input);
    if (token != (expected ? std::optional<std::string>(expected->group) : std::nullopt))
        fuzz::propertyBroken("replyToken disagrees with the expression", input);
    std::string expectedText = expected ? std::string(trimmed(input.substr(expected->end))) : std::string(input);
    if (asText.text.view() != expectedText)
        fuzz::propertyBroken("cleanReply's text disagrees with the expression", input);

    std::optional<Match> expectedHTML = kHTML.match(input);
    if (expectedHTML ? !asHTML.html || asHTML.html->view() != input.substr(expectedHTML->end) : asHTML.html.has_value())
        fuzz::propertyBroken("cleanReply's HTML disagrees with the expression", input);
    return 0;
}
