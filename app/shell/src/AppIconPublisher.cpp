#include "quorvane/shell/AppIconPublisher.hpp"

#include <fcntl.h>
#include <sys/stat.h>

#include <string_view>
#include <system_error>

#include "quorvane/UserFolders.hpp"
#include "quorvane/holders/GLibHolders.hpp"
#include "quorvane/holders/GObjectPtr.hpp"
#include "quorvane/icons/DockIconContract.hpp"
#include "quorvane/icons/DockIconNotification.hpp"
#include "quorvane/icons/DockIconStore.hpp"
#include "quorvane/icons/DotAppIcon.hpp"

namespace quorvane {

namespace {

constexpr std::string_view kPNGDataPrefix = "data:image/png;base64,";

std::filesystem::path themedRoot()
{
    auto dataHome = userDataHome();
    return dataHome ? *dataHome / "icons" / "hicolor" : std::filesystem::path();
}

// Icon themes notice new icons by the modification time of the theme's folder.
void touch(const std::filesystem::path& folder) { ::utimensat(AT_FDCWD, folder.c_str(), nullptr, 0); }

}  // namespace

std::string AppIconPublisher::keyFor(const ClientState& state)
{
    if (state.appIconStyle != AppIconStyle::dot)
        return kDefaultKey;
    for (const auto& bot : state.account.bots) {
        if (bot.id == "dot")
            return bot.image ? bot.image->str() : std::string(kDefaultKey);
    }
    return kDefaultKey;
}

std::filesystem::path AppIconPublisher::themedIconFile(int size)
{
    auto root = themedRoot();
    if (root.empty())
        return {};
    auto sizeFolder = std::to_string(size) + "x" + std::to_string(size);
    return root / sizeFolder / "apps" / (std::string(kIconName) + ".png");
}

std::optional<Image> AppIconPublisher::render(const std::string& key)
{
    if (!std::string_view(key).starts_with(kPNGDataPrefix))
        return std::nullopt;
    std::string encoded = key.substr(kPNGDataPrefix.size());
    gsize length = 0;
    GCharPtr bytes(reinterpret_cast<gchar*>(g_base64_decode(encoded.c_str(), &length)));
    if (!bytes || length == 0)
        return std::nullopt;
    auto picture = Image::decode({ reinterpret_cast<const std::uint8_t*>(bytes.get()), length });
    if (!picture)
        return std::nullopt;
    return DotAppIcon::make(*picture);
}

void AppIconPublisher::installThemedIcon(const std::optional<Image>& icon)
{
    if (themedRoot().empty())
        return;
    for (int size : kThemedSizes) {
        auto file = themedIconFile(size);
        if (!icon) {
            std::error_code error;
            std::filesystem::remove(file, error);
            if (error)
                g_warning("Could not remove the application icon %s: %s", file.c_str(), error.message().c_str());
            continue;
        }
        auto scaled = GObjectPtr<GdkPixbuf>::adopt(
            gdk_pixbuf_scale_simple(icon->pixbuf(), size, size, size >= 256 ? GDK_INTERP_BILINEAR : GDK_INTERP_HYPER));
        if (!scaled)
            continue;
        auto png = Image::retain(scaled.get()).encodePNG();
        std::error_code error;
        std::filesystem::create_directories(file.parent_path(), error);
        GErrorHolder writeError;
        if (!png || error
            || !g_file_set_contents(
                file.c_str(), reinterpret_cast<const gchar*>(png->data()), gssize(png->size()), writeError.out())) {
            g_warning("Could not install the application icon %s: %s", file.c_str(),
                writeError  ? writeError.get()->message
                    : error ? error.message().c_str()
                            : "no PNG");
        }
    }
    touch(themedRoot());
}

void AppIconPublisher::apply(const ClientState& state)
{
    std::string key = keyFor(state);
    if (key == lastKey_)
        return;
    std::optional<Image> icon = render(key);

    installThemedIcon(icon);
    if (onThemedIconChanged)
        onThemedIconChanged();

    auto dockIcon = dockicon::iconFilePath();
    try {
        if (dockIcon.empty())
            throw std::system_error(std::make_error_code(std::errc::no_such_file_or_directory), "no home folder");
        DockIconStore::save(icon, dockIcon);
    } catch (const std::exception& error) {
        g_message("Could not save Dock artwork: %s", error.what());
        return;
    }
    postDockIconChanged();
    lastKey_ = std::move(key);
}

}  // namespace quorvane
