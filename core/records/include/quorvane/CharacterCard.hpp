#pragma once

// Character cards: a PNG picture that carries a persona as text, the common way to hand a
// character from one chat application to another. Reading one gives a teammate fitted to the
// roster (RosterLimits.hpp); writing one gives a card any card reader understands.
//
// The format. The persona is Base64 of a JSON object in a `tEXt` chunk of the PNG:
//   - keyword "ccv3": {"spec": "chara_card_v3", "spec_version": "3.x", "data": {…}}
//   - keyword "chara": the same with "chara_card_v2" and "2.0" (newer writers put a version 3
//     object here too, which is read as well).
// When both chunks are present "ccv3" is the one read, and only it: a damaged "ccv3" refuses the
// card rather than falling back to an older copy that may say something else. `data` holds
// name, description, personality, scenario, first_mes, mes_example, creator_notes, tags,
// extensions and more; we read the few that make a teammate and keep what Quorvane needs beyond
// them under data.extensions.quorvane.
//
// Reading never trusts the file: the chunks are walked with every length checked against what is
// left, every chunk's CRC checked, IHDR first and IEND present. The file and the decoded JSON
// have byte caps, checked before anything is allocated for them. Every refusal is an AppFailure
// with one sentence for the user (below).
//
// Fitting to the roster:
//   - the name is data.name, trimmed, cut to 64 characters; none left refuses the card;
//   - the personality is made of data.personality, then data.description, then data.scenario,
//     each trimmed, the empty ones skipped, joined by a blank line ("\n\n") and cut to 1800
//     characters; nothing left refuses the card. The personality comes first because it is the
//     card's own summary of the character, the description and scenario then add detail that may
//     be cut. Cuts fall between user-perceived characters (extended grapheme clusters), so an
//     emoji with its modifiers or a letter with its combining marks is kept or dropped whole;
//   - a name the crew already has is kept as it is: the roster allows two bots of one name (the
//     user tells them apart by avatar and role, and renames one at will), and a card is no
//     different from typing the same name in the editor.
//   - data.extensions.quorvane may give "role" (cut to 48 characters), "kind" (one of the
//     built-in avatars; anything else is ignored) and "avatar": "kind" when the bot showed its
//     built-in avatar rather than a picture of its own.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "quorvane/Text.hpp"

namespace quorvane {

// A card file of more than this many bytes is refused before it is read.
inline constexpr std::size_t kCardFileByteLimit = 8'000'000;
// A card whose decoded JSON is longer than this is refused before it is decoded.
inline constexpr std::size_t kCardJSONByteLimit = 1'000'000;

// The sentences a refused card throws (as AppFailure).
namespace cardSentences {
inline constexpr const char* notPNG = "This file isn\u2019t a PNG image.";
inline constexpr const char* notCard = "This picture isn\u2019t a character card.";
inline constexpr const char* damaged = "This character card is damaged.";
inline constexpr const char* tooLarge = "Choose a character card of 8 MB or less.";
inline constexpr const char* dataTooLarge = "This character card\u2019s text is over the 1 MB limit.";
inline constexpr const char* unsupportedVersion = "This character card\u2019s version isn\u2019t supported.";
inline constexpr const char* brokenBase64 = "This character card\u2019s text isn\u2019t valid Base64.";
inline constexpr const char* brokenJSON = "This character card\u2019s text isn\u2019t valid JSON.";
inline constexpr const char* noName = "This character card has no name.";
inline constexpr const char* noPersonality = "This character card has no personality or description.";
}  // namespace cardSentences

// A teammate read from a card, fitted to the roster.
struct CharacterCard {
    Text name {};
    Text personality {};
    std::optional<Text> role {};
    std::optional<Text> kind {};  // a built-in avatar's id
    bool builtInAvatar = false;  // the bot showed `kind` rather than the picture
    std::string picture {};  // the PNG without its card chunks, byte for byte otherwise

    bool operator==(const CharacterCard&) const = default;
};

// Reads the card in `png`. Throws AppFailure with one of the sentences above.
CharacterCard readCharacterCard(std::string_view png);

// What a card is written from.
struct CardPersona {
    Text name {};
    Text personality {};
    std::optional<Text> role {};
    Text kind {};
    bool builtInAvatar = false;
};

// `picture` (a PNG; card chunks it already carries are dropped) with a version 3 "ccv3" chunk and
// a version 2 "chara" chunk for older readers, both before IEND. Throws AppFailure(damaged) when
// `picture` is not a sound PNG.
std::string writeCharacterCard(std::string_view picture, const CardPersona& persona);

}  // namespace quorvane
