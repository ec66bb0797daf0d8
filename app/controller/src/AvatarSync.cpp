// Avatar synchronisation: the Dot page's profile picture becomes the primary bot's image.

#include <span>

#include <glib.h>

#include "quorvane/DotService.hpp"
#include "quorvane/controller/AvatarSource.hpp"
#include "quorvane/controller/Controller.hpp"
#include "quorvane/icons/AvatarThumbnail.hpp"

namespace quorvane {

namespace {

constexpr std::string_view kPrimaryBot = "dot";

std::string pngDataURL(const std::vector<std::uint8_t>& png)
{
    gchar* encoded = g_base64_encode(png.data(), png.size());
    std::string url = std::string(kAvatarDataURLPrefix) + encoded;
    g_free(encoded);
    return url;
}

}  // namespace

Task<void> Controller::syncAvatar(std::string source, std::string accountID)
{
    std::vector<std::uint8_t> picture;
    if (isAvatarDataURL(source)) {
        auto bytes = avatarDataURLBytes(source);
        if (!bytes)
            co_return;
        picture.assign(bytes->begin(), bytes->end());
    } else {
        try {
            if (!isAllowedAvatarAddress(source, DotService::current()))
                co_return;
        } catch (const std::exception&) {
            co_return;  // no service configuration: no host is allowed
        }
        AvatarResponse response;
        try {
            response = co_await services_.avatars.fetch(source);
        } catch (const TaskCancelled&) {
            throw;
        } catch (const std::exception&) {
            co_return;
        }
        // The fetcher promises to stop at the limit; a body that still reaches it is not used.
        if (response.status != 200 || response.body.size() >= AvatarFetcher::bodyLimit)
            co_return;
        picture = std::move(response.body);
    }
    co_await throwIfCancelled();

    auto thumbnail = avatarThumbnailPNG(std::span<const std::uint8_t>(picture));
    if (!thumbnail)
        co_return;
    // A newer picture or another account won while this one was on its way.
    if (vault_.activeAccount != accountID || avatarSource != source)
        co_return;
    const std::string image = pngDataURL(*thumbnail);
    try {
        transaction([&](Vault& vault) {
            for (Bot& bot : vault.account().bots)
                if (bot.id == kPrimaryBot)
                    bot.image = image;
        });
    } catch (const std::exception&) {
        // A refused or failed save already shows through storage health; the picture can wait.
    }
}

void Controller::startAvatarSync(std::string source)
{
    avatarSource = source;
    cancelAvatarSync();
    avatarTask_ = tasks_.spawn(syncAvatar(std::move(source), vault_.activeAccount.str()));
}

void Controller::cancelAvatarSync()
{
    avatarTask_.cancel();
    avatarTask_ = {};
}

}  // namespace quorvane
