#include <gtest/gtest.h>

#include <optional>
#include <regex>
#include <set>

#include "quorvane/TextRules.hpp"

namespace quorvane {
namespace {

struct CountCase {
    const char* name;
    std::string text;
    std::size_t characters;
};

TEST(TextRules, CountsUserPerceivedCharacters)
{
    const CountCase cases[] = {
        { "empty", "", 0 },
        { "ascii", "Hello", 5 },
        { "crlf is one", "a\r\nb", 3 },
        { "lone cr and lf", "a\rb\n", 4 },
        { "family joined with zwj", "\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7", 1 },
        { "flag", "\xF0\x9F\x87\xAB\xF0\x9F\x87\xB7", 1 },
        { "two flags", "\xF0\x9F\x87\xAB\xF0\x9F\x87\xB7\xF0\x9F\x87\xA9\xF0\x9F\x87\xAA", 2 },
        { "e with two combining marks", "e\xCC\x81\xCC\xA7x", 2 },
        { "cjk", "\xE4\xBD\xA0\xE5\xA5\xBD", 2 },
        { "skin tone modifier", "\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD!", 2 },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(characterCount(c.text), c.characters);
    }
}

TEST(TextRules, CutsAtCharacterBoundaries)
{
    const std::string family = "\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7";
    struct Case {
        const char* name;
        std::string text;
        std::size_t count;
        std::string expected;
    } cases[] = {
        { "zero", "abc", 0, "" },
        { "shorter than count", "abc", 10, "abc" },
        { "exact", "abc", 3, "abc" },
        { "ascii", "abcdef", 2, "ab" },
        { "crlf kept whole", "a\r\nb", 2, "a\r\n" },
        { "emoji cluster kept whole", "a" + family + "b", 2, "a" + family },
        { "combining marks stay with their letter", "e\xCC\x81xyz", 1, "e\xCC\x81" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(prefixCharacters(c.text, c.count), c.expected);
    }
}

TEST(TextRules, TrimsWhiteSpaceAndNewlinesOnly)
{
    struct Case {
        const char* name;
        std::string text;
        std::string expected;
    } cases[] = {
        { "nothing to trim", "a b", "a b" },
        { "ascii white space", " \t\r\n a b \n\t ", "a b" },
        { "only white space", " \n ", "" },
        { "no-break and ideographic spaces", "\xC2\xA0x\xE3\x80\x80", "x" },
        { "line separator and NEL", "\xE2\x80\xA8x\xC2\x85", "x" },
        { "zero-width space is not white space", "\xE2\x80\x8Bx", "\xE2\x80\x8Bx" },
        { "multibyte content kept", " \xC3\xA9t\xC3\xA9 ", "\xC3\xA9t\xC3\xA9" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(trimmed(c.text), c.expected);
    }
}

TEST(TextRules, LowercasesUnicode)
{
    EXPECT_EQ(lowercased("MuSe"), "muse");
    EXPECT_EQ(lowercased("\xC3\x89LAN"), "\xC3\xA9lan");  // ÉLAN
}

TEST(TextRules, MakesUpperCaseVersionFourUUIDs)
{
    const std::regex shape("^[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}$");
    std::set<std::string> seen;
    for (int i = 0; i < 100; ++i) {
        std::string uuid = newUUID();
        EXPECT_TRUE(std::regex_match(uuid, shape)) << uuid;
        seen.insert(uuid);
    }
    EXPECT_EQ(seen.size(), 100u);
}

TEST(TextRules, ReadsUUIDsInEitherCaseOnly)
{
    const struct {
        const char* text;
        std::optional<std::string> canonical;
    } cases[] = {
        { "0F8FAD5B-D9CB-469F-A165-70867728950E", "0F8FAD5B-D9CB-469F-A165-70867728950E" },
        { "0f8fad5b-d9cb-469f-a165-70867728950e", "0F8FAD5B-D9CB-469F-A165-70867728950E" },
        { "", std::nullopt },
        { "0F8FAD5B-D9CB-469F-A165-70867728950", std::nullopt },
        { "0F8FAD5B-D9CB-469F-A165-70867728950EE", std::nullopt },
        { "0F8FAD5BD-9CB-469F-A165-70867728950E", std::nullopt },
        { "0F8FAD5B-D9CB-469F-A165-70867728950G", std::nullopt },
        { "{0F8FAD5B-D9CB-469F-A165-70867728950}", std::nullopt },
        { "../../../../etc/passwd-aaaaaaaaaaaaaaaaa", std::nullopt },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(canonicalUUID(c.text), c.canonical);
    }
    const std::string made = newUUID();
    EXPECT_EQ(canonicalUUID(made), made);
}

TEST(TextRules, DecodesMalformedUTF8AsReplacementWithProgress)
{
    constexpr char32_t bad = 0xFFFD;
    const struct {
        const char* name;
        std::string text;
        std::vector<char32_t> decoded;
    } cases[] = {
        { "mixed", "a\xC3\xA9\xFF\xE2\x82", { U'a', U'\u00E9', bad, bad, bad } },
        { "largest lead byte F4", "\xF4\x8F\xBF\xBF", { 0x10FFFF } },
        // Bytes F5 to FF never start a sequence: each one, and each byte after it, stands alone.
        { "lead F5", "\xF5\x80\x80\x80", { bad, bad, bad, bad } },
        { "lead F8 with two continuations", "\xF8\x80\x80", { bad, bad, bad } },
        { "lead FC", "\xFC\x80\x80\x80\x80\x80", { bad, bad, bad, bad, bad, bad } },
        { "lead FF then text", "\xFF\x80\x80z", { bad, bad, bad, U'z' } },
        { "lead C0 and C1", "\xC0\x80\xC1\xBF", { bad, bad, bad, bad } },
        { "overlong three bytes", "\xE0\x80\x80", { bad, bad, bad } },
        { "surrogate", "\xED\xA0\x80", { bad, bad, bad } },
        { "past U+10FFFF", "\xF4\x90\x80\x80", { bad, bad, bad, bad } },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<char32_t> decoded;
        for (std::size_t pos = 0; pos < c.text.size();)
            decoded.push_back(decodeUTF8(c.text, pos));
        EXPECT_EQ(decoded, c.decoded);
    }
}

}  // namespace
}  // namespace quorvane
