#pragma once
// The contract between a host that shows Quorvane's tile (a dock, a panel, a test) and the
// Dock tile module it loads with GModule or dlopen.
//
// The module exports one C function, quorvane_dock_tile_plugin_new, which makes the
// plug-in object; deleting that object (its destructor plays the part of dealloc) ends it.
// Host and module pass C++ objects to each other, so both must be built with the same C++
// toolchain (GCC's libstdc++ ABI here).
//
// The module keeps the tile showing the icon the application last saved
// (quorvane/icons/DockIconContract.hpp): it reads the file when it gets a tile and again
// on every change signal on the session bus.

#include <functional>
#include <memory>

#include <gdk-pixbuf/gdk-pixbuf.h>

namespace quorvane::docktile {

struct TileSize {
    int width = 0;
    int height = 0;
};

// What the host provides: the place on screen the module draws into.
class DockTile {
public:
    virtual ~DockTile() = default;
    virtual TileSize size() const = 0;
    // The tile's content: an image of size() with the icon fitted and centred in it, or
    // nullptr for no custom content (the host then shows the application's own icon). The
    // host takes a reference of its own if it keeps the image.
    virtual void setContentImage(GdkPixbuf* image) = 0;
    // Asks the host to draw the tile again.
    virtual void display() = 0;
    // Runs `work` soon, on the host's main loop, where all tile drawing happens. The module
    // may call this from any thread.
    virtual void runOnMainLoop(std::function<void()> work) = 0;
};

// What the module provides. The host calls these on its main thread.
class DockTilePlugIn {
public:
    // Stops following the change signal.
    virtual ~DockTilePlugIn() = default;
    // Hands over the tile to draw into (or none). Replaces any earlier tile; the module then
    // follows the change signal exactly once, and shows the current icon at once.
    virtual void setDockTile(std::shared_ptr<DockTile> tile) = 0;
    // The change signal's handler: schedules refreshIcon on the host's main loop.
    virtual void iconChanged() = 0;
    // Reads the icon file and shows it, or no custom content if it is missing or unreadable.
    virtual void refreshIcon() = 0;
};

// The exported entry point: `DockTilePlugIn* quorvane_dock_tile_plugin_new(void)`.
using CreateDockTilePlugIn = DockTilePlugIn* (*)();
inline constexpr const char* createDockTilePlugInSymbol = "quorvane_dock_tile_plugin_new";

}  // namespace quorvane::docktile
