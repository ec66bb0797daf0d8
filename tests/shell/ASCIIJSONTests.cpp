// The page's state text made ASCII-only: the escapes it writes, what it does with bytes that are
// not UTF-8, and that any text still parses to the same JSON value.

#include <gtest/gtest.h>

#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>
#include <random>

#include "quorvane/shell/ASCIIJSON.hpp"

namespace quorvane {
namespace {

TEST(ASCIIJSON, WritesEveryOtherCharacterAsAnEscape)
{
    struct Case {
        const char* name;
        std::string text;
        std::string expected;
    };
    const Case cases[] = {
        { "ASCII stays as it is", R"({"a":"b\n\u00e9","n":[1,2.5]})", R"({"a":"b\n\u00e9","n":[1,2.5]})" },
        { "two bytes", "\"caf\xC3\xA9\"", R"("caf\u00e9")" },
        { "three bytes", "\"\xE2\x80\x94 \xE6\x9D\xB1\xE4\xBA\xAC\"", R"("\u2014 \u6771\u4eac")" },
        { "four bytes become a surrogate pair", "\"\xF0\x9F\x98\x80!\"", R"("\ud83d\ude00!")" },
        { "the last code point", "\"\xF4\x8F\xBF\xBF\"", R"("\udbff\udfff")" },
        { "a stray continuation byte", "\"a\x80z\"", R"("a\ufffdz")" },
        { "a sequence cut short at the end", "\"\xE2\x80", R"("\ufffd\ufffd)" },
        { "a sequence cut short by ASCII", "\"\xE2\x80z\"", R"("\ufffd\ufffdz")" },
        { "an overlong form", "\"\xC0\xAF\"", R"("\ufffd\ufffd")" },
        { "an encoded surrogate", "\"\xED\xA0\x80\"", R"("\ufffd\ufffd\ufffd")" },
        { "beyond the last code point", "\"\xF4\x90\x80\x80\"", R"("\ufffd\ufffd\ufffd\ufffd")" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string text = c.text;
        makeASCIIJSON(text);
        EXPECT_EQ(text, c.expected);
    }
}

// Random strings over every plane (ASCII runs, accents, CJK, emoji, the edges of the surrogate
// gap), in JSON written by Boost.JSON: the ASCII text parses to the same value.
TEST(ASCIIJSON, ParsesToTheSameValue)
{
    std::mt19937 random(20261210);
    const std::pair<char32_t, char32_t> ranges[]
        = { { 0x20, 0x7E }, { 0x80, 0x7FF }, { 0x800, 0xD7FF }, { 0xE000, 0xFFFF }, { 0x10000, 0x10FFFF } };
    auto append = [](std::string& out, char32_t point) {
        if (point < 0x80) {
            out.push_back(char(point));
        } else if (point < 0x800) {
            out.push_back(char(0xC0 | (point >> 6)));
            out.push_back(char(0x80 | (point & 0x3F)));
        } else if (point < 0x10000) {
            out.push_back(char(0xE0 | (point >> 12)));
            out.push_back(char(0x80 | ((point >> 6) & 0x3F)));
            out.push_back(char(0x80 | (point & 0x3F)));
        } else {
            out.push_back(char(0xF0 | (point >> 18)));
            out.push_back(char(0x80 | ((point >> 12) & 0x3F)));
            out.push_back(char(0x80 | ((point >> 6) & 0x3F)));
            out.push_back(char(0x80 | (point & 0x3F)));
        }
    };
    for (int round = 0; round < 300; ++round) {
        boost::json::array strings;
        for (int n = 0; n < 8; ++n) {
            std::string s;
            for (int k = int(random() % 40); k > 0; --k) {
                auto [low, high] = ranges[random() % std::size(ranges)];
                append(s, char32_t(low + random() % (high - low + 1)));
            }
            strings.emplace_back(s);
        }
        const boost::json::value original { { "strings", strings } };
        std::string text = boost::json::serialize(original);
        makeASCIIJSON(text);
        for (unsigned char c : text)
            ASSERT_LT(c, 0x80) << text;
        ASSERT_EQ(boost::json::parse(text), original) << text;
    }
}

}  // namespace
}  // namespace quorvane
