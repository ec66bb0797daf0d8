#include "CardBots.hpp"

#include <cstdint>
#include <span>

#include "Sentences.hpp"
#include "quorvane/AppFailure.hpp"
#include "quorvane/Base64.hpp"
#include "quorvane/CharacterCard.hpp"
#include "quorvane/RosterLimits.hpp"
#include "quorvane/icons/AvatarThumbnail.hpp"
#include "quorvane/icons/BuiltInAvatarPicture.hpp"
#include "quorvane/icons/Image.hpp"

namespace quorvane {

namespace {

constexpr std::string_view kPNGDataURLPrefix = "data:image/png;base64,";

std::span<const std::uint8_t> bytesOf(std::string_view text)
{
    return { reinterpret_cast<const std::uint8_t*>(text.data()), text.size() };
}

std::string dataURL(std::string_view png) { return std::string(kPNGDataURLPrefix) + encodeBase64(png); }

// Whether the roster takes `png` as it is.
bool fitsAsAvatar(std::string_view png)
{
    if (kPNGDataURLPrefix.size() + (png.size() + 2) / 3 * 4 > kAvatarDataURLByteLimit)
        return false;
    const std::optional<Image> image = Image::decode(bytesOf(png));
    return image && image->width() <= kAvatarSideLimit && image->height() <= kAvatarSideLimit;
}

}  // namespace

BotEdit botEditFromCard(std::string_view png)
{
    const CharacterCard card = readCharacterCard(png);
    BotEdit edit {
        .name = card.name,
        .personality = card.personality,
        .role = card.role,
        .kind = card.kind,
    };
    if (card.builtInAvatar)
        return edit;
    if (fitsAsAvatar(card.picture)) {
        edit.image = Text(dataURL(card.picture));
        return edit;
    }
    const auto thumbnail = avatarThumbnailPNG(bytesOf(card.picture));
    if (!thumbnail)
        throw AppFailure(sentences::cardPictureUnreadable);
    edit.image = Text(dataURL(std::string_view(reinterpret_cast<const char*>(thumbnail->data()), thumbnail->size())));
    return edit;
}

std::string cardOfBot(const Bot& bot)
{
    std::optional<std::string> picture;
    if (bot.image && bot.image->starts_with(kPNGDataURLPrefix))
        picture = decodeBase64(bot.image->substr(kPNGDataURLPrefix.size()));
    const bool builtIn = !picture;
    if (builtIn) {
        const auto disc = builtInAvatarPNG(bot.kind);
        if (!disc)
            throw AppFailure(sentences::cardNotMade);
        picture.emplace(reinterpret_cast<const char*>(disc->data()), disc->size());
    }
    const CardPersona persona {
        .name = bot.name,
        .personality = bot.personality,
        .role = bot.role,
        .kind = bot.kind,
        .builtInAvatar = builtIn,
    };
    try {
        return writeCharacterCard(*picture, persona);
    } catch (const AppFailure&) {
        throw AppFailure(sentences::cardNotMade);
    }
}

}  // namespace quorvane
