#pragma once

// The main window: the interface page's web view over two real widgets.
//
//   - the rail backing (RailMaterialView): a sidebar-coloured strip, 248 px wide and the full
//     height, under the transparent web view, so the page's translucent sidebar shows the
//     window's own material. It follows the window's active state (GTK's :backdrop), takes no
//     input (it is never picked) and is hidden from accessibility;
//   - the drag strip (WindowDragRegion): a GtkWindowHandle over the top 32 px of the first
//     248 px, with an arrow cursor; pressing there drags the window (a double click maximises, as
//     on any GNOME title bar). Elsewhere the page gets every click. The page hides it while it
//     shows a modal overlay ("windowModal").
// The window controls follow the desktop's button layout: its start side sits in the drag strip,
// its end side with the application menu at the top right.
//
// The window is 1180×780 at first and at least 640×500; its size and maximised state are kept
// in ShellSettings. Closing it only hides it (the application keeps running; activating the
// application again shows it).

#include <functional>

#include <adwaita.h>
#include <gtk/gtk.h>
#include <webkit/webkit.h>

#include "quorvane/async/Lifetime.hpp"
#include "quorvane/holders/GObjectPtr.hpp"
#include "quorvane/shell/ShellSettings.hpp"

namespace quorvane {

class MainWindow {
public:
    static constexpr int kRailWidth = 248;
    static constexpr int kDragHeight = 32;
    static constexpr int kMinimumWidth = 640;
    static constexpr int kMinimumHeight = 500;

    MainWindow(GtkApplication* application, WebKitWebView* webView, GMenuModel* menu, ShellSettings& settings);
    ~MainWindow();
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    GtkWindow* window() const { return GTK_WINDOW(window_.get()); }
    GtkWidget* dragRegion() const { return dragRegion_; }

    // Shows the window and gives it the focus.
    void present();
    void setDragRegionVisible(bool visible);
    // Stores the size and maximised state.
    void saveState();

private:
    static gboolean onCloseRequest(GtkWindow* window, gpointer self);

    GObjectPtr<AdwApplicationWindow> window_;
    GtkWidget* dragRegion_ = nullptr;
    ShellSettings& settings_;
    Lifetime lifetime_;
};

}  // namespace quorvane
