// The Dock tile module: shows the icon file the application saves, and follows the
// application's change signal on the session bus. It links none of the application; the
// file's place and the signal come from the header-only DockIconContract.

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <memory>
#include <mutex>

#include <gio/gio.h>
#include <gmodule.h>

#include "quorvane/docktile/DockTilePlugIn.hpp"
#include "quorvane/holders/GLibHolders.hpp"
#include "quorvane/holders/GObjectPtr.hpp"
#include "quorvane/icons/DockIconContract.hpp"

namespace quorvane::docktile {
namespace {

// The icon fitted into the tile, keeping its proportions (enlarged or reduced) and centred
// on a transparent image of the tile's size.
GObjectPtr<GdkPixbuf> fittedToTile(GdkPixbuf* icon, TileSize size)
{
    const int tileWidth = std::max(size.width, 1);
    const int tileHeight = std::max(size.height, 1);
    const int iconWidth = gdk_pixbuf_get_width(icon);
    const int iconHeight = gdk_pixbuf_get_height(icon);
    const double scale
        = std::min(static_cast<double>(tileWidth) / iconWidth, static_cast<double>(tileHeight) / iconHeight);
    const int width = std::clamp(static_cast<int>(std::lround(iconWidth * scale)), 1, tileWidth);
    const int height = std::clamp(static_cast<int>(std::lround(iconHeight * scale)), 1, tileHeight);
    const int x = (tileWidth - width) / 2;
    const int y = (tileHeight - height) / 2;
    auto content = GObjectPtr<GdkPixbuf>::adopt(gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, tileWidth, tileHeight));
    if (!content)
        return {};
    gdk_pixbuf_fill(content.get(), 0);
    gdk_pixbuf_scale(icon, content.get(), x, y, width, height, x, y, static_cast<double>(width) / iconWidth,
        static_cast<double>(height) / iconHeight, GDK_INTERP_HYPER);
    return content;
}

// The plug-in's state lives apart from the plug-in object so that a signal delivery or a
// scheduled refresh still in flight when the plug-in ends finds it gone (a weak token)
// instead of touching freed memory.
class TileKeeper : public std::enable_shared_from_this<TileKeeper> {
public:
    void setDockTile(std::shared_ptr<DockTile> tile)
    {
        stopObserving();
        {
            std::lock_guard lock(mutex_);
            tile_ = std::move(tile);
        }
        if (currentTile()) {
            observe();
            refreshIcon();
        }
    }

    void iconChanged()
    {
        // With no tile there is nothing to draw into, and so no main loop to hand work to.
        const std::shared_ptr<DockTile> tile = currentTile();
        if (!tile)
            return;
        tile->runOnMainLoop([weak = weak_from_this()] {
            if (const auto keeper = weak.lock())
                keeper->refreshIcon();
        });
    }

    void refreshIcon()
    {
        const std::shared_ptr<DockTile> tile = currentTile();
        if (!tile)
            return;
        GObjectPtr<GdkPixbuf> content;
        // A missing or unreadable file (or no home folder to find it in) means no custom icon.
        const std::filesystem::path file = dockicon::iconFilePath();
        auto icon
            = GObjectPtr<GdkPixbuf>::adopt(file.empty() ? nullptr : gdk_pixbuf_new_from_file(file.c_str(), nullptr));
        if (icon)
            content = fittedToTile(icon.get(), tile->size());
        tile->setContentImage(content.get());
        tile->display();
    }

    void stopObserving()
    {
        if (subscription_ != 0) {
            g_dbus_connection_signal_unsubscribe(bus_.get(), subscription_);
            subscription_ = 0;
        }
    }

private:
    std::shared_ptr<DockTile> currentTile()
    {
        std::lock_guard lock(mutex_);
        return tile_;
    }

    void observe()
    {
        if (!bus_) {
            GErrorHolder error;
            bus_ = GObjectPtr<GDBusConnection>::adopt(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, error.out()));
            if (!bus_) {
                g_warning("The Dock tile cannot follow icon changes: %s", error.get()->message);
                return;
            }
        }
        // Any sender, any object path: the signal is recognised by its interface, member and
        // the notification name in its first argument.
        subscription_ = g_dbus_connection_signal_subscribe(bus_.get(), nullptr, dockicon::signalInterface,
            dockicon::signalMember, nullptr, dockicon::notificationName, G_DBUS_SIGNAL_FLAGS_NONE, onSignal,
            new std::weak_ptr<TileKeeper>(weak_from_this()), deleteToken);
    }

    static void onSignal(
        GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant*, gpointer token)
    {
        if (const auto keeper = static_cast<std::weak_ptr<TileKeeper>*>(token)->lock())
            keeper->iconChanged();
    }
    static void deleteToken(gpointer token) { delete static_cast<std::weak_ptr<TileKeeper>*>(token); }

    std::mutex mutex_;  // guards tile_, which the signal handler may read from another thread
    std::shared_ptr<DockTile> tile_;
    GObjectPtr<GDBusConnection> bus_;
    guint subscription_ = 0;
};

class QuorvaneDockTile final : public DockTilePlugIn {
public:
    QuorvaneDockTile()
        : keeper_(std::make_shared<TileKeeper>())
    {
    }
    ~QuorvaneDockTile() override { keeper_->stopObserving(); }
    QuorvaneDockTile(const QuorvaneDockTile&) = delete;
    QuorvaneDockTile& operator=(const QuorvaneDockTile&) = delete;

    void setDockTile(std::shared_ptr<DockTile> tile) override { keeper_->setDockTile(std::move(tile)); }
    void iconChanged() override { keeper_->iconChanged(); }
    void refreshIcon() override { keeper_->refreshIcon(); }

private:
    std::shared_ptr<TileKeeper> keeper_;
};

}  // namespace
}  // namespace quorvane::docktile

extern "C" {

// GDBus may call back into this module (a token's destroy function) after the last
// plug-in has gone, so the module stays loaded once loaded.
G_MODULE_EXPORT const gchar* g_module_check_init(GModule* module)
{
    g_module_make_resident(module);
    return nullptr;
}

G_MODULE_EXPORT quorvane::docktile::DockTilePlugIn* quorvane_dock_tile_plugin_new(void)
{
    return new quorvane::docktile::QuorvaneDockTile();
}
}
