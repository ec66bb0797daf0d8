#pragma once

// Between character cards and bots: the core reads and writes the card's text (CharacterCard.hpp);
// this adds the picture, which needs image decoding and drawing (the icons library).
//
// Import. The card's picture, without its card chunks, becomes the bot's custom avatar as it is
// when the roster accepts it (a PNG that decodes, at most 512 × 512 pixels, a data URL of at most
// 600,000 bytes), so a card exported here comes back byte for byte; any other picture is scaled
// to the 256-pixel avatar thumbnail. A card that says its bot showed a built-in avatar gives
// that avatar and no picture.
//
// Export. The picture is the bot's custom avatar, or the disc of its built-in avatar.

#include <string>
#include <string_view>

#include "quorvane/Account.hpp"

namespace quorvane {

// The new teammate a card describes, ready for Account::saveBot. Throws AppFailure with the
// card's sentence, or when its picture cannot be read.
BotEdit botEditFromCard(std::string_view png);

// A version 3 card of `bot` (with a version 2 copy of its text). Throws AppFailure when no
// picture can be made.
std::string cardOfBot(const Bot& bot);

}  // namespace quorvane
