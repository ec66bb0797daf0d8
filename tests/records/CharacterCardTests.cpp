#include <gtest/gtest.h>

#include <string>

#include "CardPNGs.hpp"
#include "quorvane/AppFailure.hpp"
#include "quorvane/CharacterCard.hpp"
#include "quorvane/TextRules.hpp"

namespace quorvane {
namespace {

namespace cards = testing::cards;

std::string refusal(const std::string& png)
{
    try {
        readCharacterCard(png);
    } catch (const AppFailure& failure) {
        return failure.what();
    }
    return "read";
}

std::string repeated(std::string_view unit, std::size_t count)
{
    std::string out;
    for (std::size_t i = 0; i < count; ++i)
        out += unit;
    return out;
}

// JSON string text for raw UTF-8 without quotes or backslashes.
std::string jsonString(std::string_view text) { return "\"" + std::string(text) + "\""; }

const std::string kThumbsUpMedium = "\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD";  // 👍 + skin tone: one character
const std::string kFamily = "\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7";
const std::string kAcuteE = "e\xCC\x81";  // e + combining acute: one character

struct ReadCase {
    const char* name;
    std::string png;
    std::string expectedName;
    std::string expectedPersonality;
};

TEST(CharacterCard, ReadsVersionsAndComposesThePersonality)
{
    const std::string ada = R"({"name":"Ada","personality":"Exact.","description":"Counts things."})";
    const ReadCase cases[] = {
        { "version 2 in chara", cards::png({ cards::chara(cards::v2(ada)) }), "Ada", "Exact.\n\nCounts things." },
        { "version 3 in ccv3", cards::png({ cards::ccv3(cards::v3(ada)) }), "Ada", "Exact.\n\nCounts things." },
        { "version 3 in chara", cards::png({ cards::chara(cards::v3(ada)) }), "Ada", "Exact.\n\nCounts things." },
        { "spec_version 3.1", cards::png({ cards::ccv3(cards::cardJSON("chara_card_v3", "3.1", ada)) }), "Ada",
            "Exact.\n\nCounts things." },
        { "ccv3 wins over an earlier chara",
            cards::png({ cards::chara(cards::v2(R"({"name":"Old","personality":"Before."})")),
                cards::ccv3(cards::v3(R"({"name":"New","personality":"After."})")) }),
            "New", "After." },
        { "after IDAT too",
            std::string(cards::kSignature) + cards::ihdr() + cards::idat() + cards::ccv3(cards::v3(ada))
                + cards::iend(),
            "Ada", "Exact.\n\nCounts things." },
        { "personality, description, scenario; blanks skipped, each trimmed",
            cards::png({ cards::ccv3(cards::v3(
                R"({"name":"  Cy \n","personality":"  ","description":"\tShy.\n","scenario":"On a ship.","first_mes":"Hi"})")) }),
            "Cy", "Shy.\n\nOn a ship." },
        { "fields of another type are left out",
            cards::png(
                { cards::ccv3(cards::v3(R"({"name":"Cy","personality":7,"description":"Shy.","scenario":null})")) }),
            "Cy", "Shy." },
        { "bytes after IEND are ignored", cards::png({ cards::ccv3(cards::v3(ada)) }) + "trailing", "Ada",
            "Exact.\n\nCounts things." },
    };
    for (const ReadCase& c : cases) {
        SCOPED_TRACE(c.name);
        const CharacterCard card = readCharacterCard(c.png);
        EXPECT_EQ(card.name, c.expectedName);
        EXPECT_EQ(card.personality, c.expectedPersonality);
        EXPECT_EQ(card.picture, cards::png());
    }
}

TEST(CharacterCard, CutsLongFieldsBetweenCharacters)
{
    struct Cut {
        const char* name;
        std::string field;  // "name" or "personality"
        std::string given;
        std::string expected;
    };
    const std::string a63 = std::string(63, 'a');
    const std::string a1799 = std::string(1799, 'a');
    const Cut cases[] = {
        { "name: an emoji with a modifier fits as the 64th character", "name", a63 + kThumbsUpMedium,
            a63 + kThumbsUpMedium },
        { "name: a 65th character goes whole", "name", a63 + kFamily + kThumbsUpMedium, a63 + kFamily },
        { "name: combining marks stay with their letter", "name", repeated(kAcuteE, 70), repeated(kAcuteE, 64) },
        { "personality: modifier emoji as the 1800th character", "personality", a1799 + kThumbsUpMedium + "b",
            a1799 + kThumbsUpMedium },
        { "personality: combining marks", "personality", repeated(kAcuteE, 1801), repeated(kAcuteE, 1800) },
        { "personality: a family emoji is never split", "personality", a1799 + "!" + kFamily, a1799 + "!" },
        { "personality: a cut that ends in white space is trimmed", "personality", a1799.substr(2) + "  \\nmore",
            a1799.substr(2) },
    };
    for (const Cut& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string data = c.field == "name" ? R"({"name":)" + jsonString(c.given) + R"(,"personality":"Kind."})"
                                                   : R"({"name":"Cy","personality":)" + jsonString(c.given) + "}";
        const CharacterCard card = readCharacterCard(cards::png({ cards::ccv3(cards::v3(data)) }));
        EXPECT_EQ(c.field == "name" ? card.name : card.personality, c.expected);
    }

    // The joined fields are cut as one text: the description is cut, the scenario is lost.
    const std::string joined = R"({"name":"Cy","personality":")" + std::string(1000, 'p') + R"(","description":")"
        + repeated(kThumbsUpMedium, 1000) + R"(","scenario":"Gone."})";
    const CharacterCard card = readCharacterCard(cards::png({ cards::ccv3(cards::v3(joined)) }));
    EXPECT_EQ(card.personality, std::string(1000, 'p') + "\n\n" + repeated(kThumbsUpMedium, 798));
    EXPECT_EQ(characterCount(card.personality), 1800u);
}

TEST(CharacterCard, RefusesWithOneSentenceEach)
{
    const std::string ada = R"({"name":"Ada","personality":"Exact."})";
    const std::string good = cards::ccv3(cards::v3(ada));
    const std::string whole = cards::png({ good });
    std::string badCRC = whole;
    badCRC[badCRC.find("ccv3") + 10] ^= 0x01;  // a byte of the Base64 text, its CRC unchanged
    std::string hugeLength = cards::png({ good });
    hugeLength.replace(whole.find("tEXt") - 4, 4, cards::bigEndian(0xFFFFFFF0u));
    std::string overLength = cards::png({ good });
    overLength.replace(whole.find("tEXt") - 4, 4, cards::bigEndian(static_cast<std::uint32_t>(whole.size())));

    // A valid PNG just over the file cap: a private chunk pads it.
    const std::string padding(kCardFileByteLimit - cards::png({ good }).size() - 12 + 1, 'x');
    const std::string tooLarge = cards::png({ good, cards::chunk("prVt", padding) });
    const std::string atCap = cards::png({ good, cards::chunk("prVt", padding.substr(1)) });

    const std::string bigJSON
        = R"({"name":"Ada","personality":"Exact.","mes_example":")" + std::string(kCardJSONByteLimit, 'm') + R"("})";
    const std::string noData = R"({"spec":"chara_card_v3","spec_version":"3.0"})";

    struct Refusal {
        const char* name;
        std::string png;
        const char* sentence;
    };
    const Refusal cases[] = {
        { "empty file", "", cardSentences::notPNG },
        { "a JPEG", "\xFF\xD8\xFF\xE0" + std::string(40, '\0'), cardSentences::notPNG },
        { "signature cut short", std::string(cards::kSignature.substr(0, 6)), cardSentences::notPNG },
        { "a plain picture", cards::png(), cardSentences::notCard },
        { "other text chunks only", cards::png({ cards::text("Comment", "chara"), cards::text("charas", "x") }),
            cardSentences::notCard },
        { "version 1 (no format name)", cards::png({ cards::chara(ada) }), cardSentences::unsupportedVersion },
        { "version 2 in ccv3", cards::png({ cards::ccv3(cards::v2(ada)) }), cardSentences::unsupportedVersion },
        { "spec_version 4.0", cards::png({ cards::ccv3(cards::cardJSON("chara_card_v3", "4.0", ada)) }),
            cardSentences::unsupportedVersion },
        { "version 2 but 2.1", cards::png({ cards::chara(cards::cardJSON("chara_card_v2", "2.1", ada)) }),
            cardSentences::unsupportedVersion },
        { "no data object", cards::png({ cards::ccv3(noData) }), cardSentences::unsupportedVersion },
        { "JSON that is not an object", cards::png({ cards::ccv3("[1,2]") }), cardSentences::unsupportedVersion },
        { "a broken ccv3 is not passed over for chara",
            cards::png({ cards::chara(cards::v2(ada)), cards::text("ccv3", "not*base64") }),
            cardSentences::brokenBase64 },
        { "Base64 with white space", cards::png({ cards::text("ccv3", cards::base64(cards::v3(ada)) + "\n") }),
            cardSentences::brokenBase64 },
        { "Base64 cut short", cards::png({ cards::text("ccv3", cards::base64(cards::v3(ada)).substr(1)) }),
            cardSentences::brokenBase64 },
        { "broken JSON", cards::png({ cards::ccv3(cards::v3(ada).substr(0, 30)) }), cardSentences::brokenJSON },
        { "not even JSON", cards::png({ cards::ccv3("name: Ada") }), cardSentences::brokenJSON },
        { "file over the cap", tooLarge, cardSentences::tooLarge },
        { "JSON over the cap", cards::png({ cards::ccv3(cards::v3(bigJSON)) }), cardSentences::dataTooLarge },
        { "truncated in a chunk", whole.substr(0, whole.find("ccv3") + 20), cardSentences::damaged },
        { "truncated before IEND", whole.substr(0, whole.size() - 12), cardSentences::damaged },
        { "a length far past the end", hugeLength, cardSentences::damaged },
        { "a length just past the end", overLength, cardSentences::damaged },
        { "bad CRC", badCRC, cardSentences::damaged },
        { "no IHDR first", std::string(cards::kSignature) + good + cards::ihdr() + cards::idat() + cards::iend(),
            cardSentences::damaged },
        { "a chunk type that is not letters", cards::png({ cards::chunk("t3Xt", "x") }), cardSentences::damaged },
        { "no name", cards::png({ cards::ccv3(cards::v3(R"({"personality":"Exact."})")) }), cardSentences::noName },
        { "a blank name", cards::png({ cards::ccv3(cards::v3(R"({"name":" \n\t","personality":"Exact."})")) }),
            cardSentences::noName },
        { "a name of another type", cards::png({ cards::ccv3(cards::v3(R"({"name":["Ada"],"personality":"E."})")) }),
            cardSentences::noName },
        { "no personality, description or scenario",
            cards::png({ cards::ccv3(cards::v3(R"({"name":"Ada","first_mes":"Hello!"})")) }),
            cardSentences::noPersonality },
    };
    for (const Refusal& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(refusal(c.png), c.sentence);
    }
    EXPECT_EQ(refusal(atCap), "read");
}

TEST(CharacterCard, ReadsWhatQuorvaneKeepsInItsExtension)
{
    struct Case {
        const char* name;
        std::string extensions;
        std::optional<Text> role;
        std::optional<Text> kind;
        bool builtIn;
    };
    const Case cases[] = {
        { "none", "{}", std::nullopt, std::nullopt, false },
        { "role, kind and built-in avatar", R"({"quorvane":{"role":" Scout ","kind":"robot","avatar":"kind"}})",
            Text("Scout"), Text("robot"), true },
        { "a picture of its own", R"({"quorvane":{"kind":"chef","avatar":"picture"}})", std::nullopt, Text("chef"),
            false },
        { "an unknown kind is ignored, and so its avatar", R"({"quorvane":{"kind":"unicorn","avatar":"kind"}})",
            std::nullopt, std::nullopt, false },
        { "a long role is cut", R"({"quorvane":{"role":")" + std::string(60, 'r') + R"("}})",
            Text(std::string(48, 'r')), std::nullopt, false },
        { "a blank role is none", R"({"quorvane":{"role":"   "}})", std::nullopt, std::nullopt, false },
        { "other applications' extensions", R"({"other":{"role":"Spy"},"quorvane":"text"})", std::nullopt, std::nullopt,
            false },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string data = R"({"name":"Cy","personality":"Kind.","extensions":)" + c.extensions + "}";
        const CharacterCard card = readCharacterCard(cards::png({ cards::ccv3(cards::v3(data)) }));
        EXPECT_EQ(card.role, c.role);
        EXPECT_EQ(card.kind, c.kind);
        EXPECT_EQ(card.builtInAvatar, c.builtIn);
    }
}

TEST(CharacterCard, WrittenCardsReadBackAsTheSamePersona)
{
    const CardPersona personas[] = {
        { "Ada", "Exact.\n\nCounts \"things\" \\ carefully.", Text("Scout"), "coder", false },
        { "Cy " + kFamily, repeated(kAcuteE, 1800), std::nullopt, "robot", true },
        { std::string(64, 'n'), "Line one\nLine two\ttabbed \u2014 dashed", Text(std::string(48, 'r')), "dot", false },
    };
    // A picture that was a card already: its old chunks give way to the new ones.
    const std::string pictures[]
        = { cards::png(), cards::png({ cards::ccv3(cards::v3(R"({"name":"Old","personality":"Old."})")) }) };
    for (const std::string& picture : pictures) {
        for (const CardPersona& persona : personas) {
            SCOPED_TRACE(persona.name.str() + (picture == cards::png() ? " on a picture" : " on a card"));
            const std::string card = writeCharacterCard(picture, persona);
            const CharacterCard read = readCharacterCard(card);
            EXPECT_EQ(read.name, persona.name);
            EXPECT_EQ(read.personality, persona.personality);
            EXPECT_EQ(read.role, persona.role);
            EXPECT_EQ(read.kind, std::optional<Text>(persona.kind));
            EXPECT_EQ(read.builtInAvatar, persona.builtInAvatar);
            EXPECT_EQ(read.picture, cards::png());  // byte for byte

            // Older readers find the same persona in the version 2 chunk.
            std::string onlyV2 = card;
            const std::size_t v3At = card.find("tEXtccv3") - 4;
            onlyV2.erase(v3At, card.find("tEXtchara") - 4 - v3At);
            ASSERT_EQ(onlyV2.find("ccv3"), std::string::npos);
            EXPECT_EQ(readCharacterCard(onlyV2).personality, persona.personality);
            EXPECT_EQ(readCharacterCard(onlyV2).role, persona.role);
        }
    }

    // A picture that is not a sound PNG makes no card.
    for (const std::string& picture : { std::string("GIF89a"), cards::png().substr(0, 40) }) {
        try {
            writeCharacterCard(picture, personas[0]);
            ADD_FAILURE() << "wrote a card on a broken picture";
        } catch (const AppFailure& failure) {
            EXPECT_TRUE(std::string(failure.what()) == cardSentences::notPNG
                || std::string(failure.what()) == cardSentences::damaged);
        }
    }
}

}  // namespace
}  // namespace quorvane
