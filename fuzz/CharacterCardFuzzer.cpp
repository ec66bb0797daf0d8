// Character card reading: the bytes of a PNG file as the user picks it.
//
// Properties: no crash, no leak, no undefined behaviour; a refusal is an AppFailure with one of
// the card sentences; an accepted card fits the roster (a name of 1–64 characters, a personality
// of 1–1800, a role of at most 48, a built-in avatar's id), its picture is a PNG that is no card
// any more, and the card written back from what was read reads as the same persona.
//
// Random changes almost never keep a chunk's CRC right, so the reader would refuse nearly every
// mutated input at the CRC check. The custom mutator therefore mutates as libFuzzer does and then,
// most of the time, writes the right CRC into every chunk whose length still fits, so the chunk
// contents, the Base64 and the JSON behind them are fuzzed too; the other times the wrong CRCs stay.

#include <algorithm>
#include <string>

#include "CardPNGs.hpp"
#include "FuzzSupport.hpp"
#include "quorvane/AppFailure.hpp"
#include "quorvane/CharacterCard.hpp"
#include "quorvane/RosterLimits.hpp"
#include "quorvane/TextRules.hpp"

using namespace quorvane;

namespace {

bool isCardSentence(std::string_view sentence)
{
    for (const char* known :
        { cardSentences::notPNG, cardSentences::notCard, cardSentences::damaged, cardSentences::tooLarge,
            cardSentences::dataTooLarge, cardSentences::unsupportedVersion, cardSentences::brokenBase64,
            cardSentences::brokenJSON, cardSentences::noName, cardSentences::noPersonality })
        if (sentence == known)
            return true;
    return false;
}

std::uint32_t bigEndian32(const std::uint8_t* at)
{
    return (std::uint32_t(at[0]) << 24) | (std::uint32_t(at[1]) << 16) | (std::uint32_t(at[2]) << 8) | at[3];
}

void fixChunkCRCs(std::uint8_t* data, std::size_t size)
{
    std::size_t at = 8;
    while (size >= 12 && at <= size - 12) {
        const std::uint32_t length = bigEndian32(data + at);
        if (length > size - at - 12)
            return;
        const std::uint32_t crc = quorvane::testing::cards::crc(
            std::string_view(reinterpret_cast<const char*>(data) + at + 4, 4 + std::size_t(length)));
        std::uint8_t* out = data + at + 8 + length;
        out[0] = static_cast<std::uint8_t>(crc >> 24);
        out[1] = static_cast<std::uint8_t>(crc >> 16);
        out[2] = static_cast<std::uint8_t>(crc >> 8);
        out[3] = static_cast<std::uint8_t>(crc);
        at += 12 + std::size_t(length);
    }
}

bool fits(const Text& text, std::size_t limit)
{
    const std::size_t count = characterCount(text);
    return count >= 1 && count <= limit && trimmed(text) == text.view();
}

}  // namespace

extern "C" std::size_t LLVMFuzzerMutate(std::uint8_t* data, std::size_t size, std::size_t maxSize);

extern "C" std::size_t LLVMFuzzerCustomMutator(std::uint8_t* data, std::size_t size, std::size_t maxSize, unsigned seed)
{
    const std::size_t mutated = LLVMFuzzerMutate(data, size, maxSize);
    if (seed % 8 != 0)
        fixChunkCRCs(data, mutated);
    return mutated;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    CharacterCard card;
    try {
        card = readCharacterCard(fuzz::asText(data, size));
    } catch (const AppFailure& failure) {
        if (!isCardSentence(failure.what()))
            fuzz::propertyBroken("a refusal without a card sentence", failure.what());
        return 0;
    }
    if (!fits(card.name, kBotNameLimit) || !fits(card.personality, kBotPersonalityLimit)
        || (card.role && !fits(*card.role, kBotRoleLimit)))
        fuzz::propertyBroken("a card that does not fit the roster", card.name.view());
    if (card.kind && std::find(kAvatarKinds.begin(), kAvatarKinds.end(), card.kind->view()) == kAvatarKinds.end())
        fuzz::propertyBroken("an unknown avatar kind", card.kind->view());
    if (card.builtInAvatar && !card.kind)
        fuzz::propertyBroken("a built-in avatar without a kind");

    try {
        readCharacterCard(card.picture);
        fuzz::propertyBroken("the picture still carries a card");
    } catch (const AppFailure& failure) {
        if (std::string_view(failure.what()) != cardSentences::notCard)
            fuzz::propertyBroken("the picture is not a sound PNG", failure.what());
    }

    const CardPersona persona { card.name, card.personality, card.role, card.kind.value_or("dot"), card.builtInAvatar };
    const CharacterCard again = readCharacterCard(writeCharacterCard(card.picture, persona));
    if (again.name != card.name || again.personality != card.personality || again.role != card.role
        || again.kind.value_or("dot") != persona.kind || again.builtInAvatar != card.builtInAvatar
        || again.picture != card.picture)
        fuzz::propertyBroken("a written card reads as another persona", card.name.view());
    return 0;
}
