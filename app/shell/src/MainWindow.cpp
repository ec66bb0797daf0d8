#include "quorvane/shell/MainWindow.hpp"

#include "quorvane/shell/WeakOwner.hpp"

namespace quorvane {

namespace {

// The rail follows the libadwaita palette of this version: the header bar colours are the
// sidebar-like greys, with their own backdrop shade.
constexpr const char* kStyle = R"css(
.quorvane-rail { background-color: @headerbar_bg_color; }
.quorvane-rail:backdrop { background-color: @headerbar_backdrop_color; }
.quorvane-base { background-color: @view_bg_color; }
.quorvane-window-controls { margin: 6px 8px; }
)css";

void installStyle()
{
    static bool installed = false;
    if (installed)
        return;
    installed = true;
    GtkCssProvider* provider = gtk_css_provider_new();
    gtk_css_provider_load_from_data(provider, kStyle, -1);
    gtk_style_context_add_provider_for_display(
        gdk_display_get_default(), GTK_STYLE_PROVIDER(provider), GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    g_object_unref(provider);
}

// A widget that takes no part in accessibility and is never the target of a pointer.
GtkWidget* railBacking()
{
    GtkWidget* rail
        = GTK_WIDGET(g_object_new(GTK_TYPE_BOX, "accessible-role", GTK_ACCESSIBLE_ROLE_PRESENTATION, nullptr));
    gtk_widget_add_css_class(rail, "quorvane-rail");
    gtk_widget_set_size_request(rail, MainWindow::kRailWidth, -1);
    gtk_widget_set_hexpand(rail, FALSE);
    gtk_widget_set_vexpand(rail, TRUE);
    gtk_widget_set_can_target(rail, FALSE);
    gtk_widget_set_can_focus(rail, FALSE);
    return rail;
}

GtkWidget* windowControls(GtkPackType side)
{
    GtkWidget* controls = gtk_window_controls_new(side);
    gtk_widget_add_css_class(controls, "quorvane-window-controls");
    gtk_widget_set_valign(controls, GTK_ALIGN_CENTER);
    return controls;
}

}  // namespace

MainWindow::MainWindow(GtkApplication* application, WebKitWebView* webView, GMenuModel* menu, ShellSettings& settings)
    : settings_(settings)
{
    installStyle();
    window_ = GObjectPtr<AdwApplicationWindow>::retain(ADW_APPLICATION_WINDOW(adw_application_window_new(application)));
    GtkWindow* window = GTK_WINDOW(window_.get());
    gtk_window_set_title(window, "Quorvane");
    gtk_window_set_icon_name(window, "local.vemir.quorvane");
    gtk_window_set_hide_on_close(window, TRUE);
    gtk_application_window_set_show_menubar(GTK_APPLICATION_WINDOW(window), FALSE);
    gtk_widget_set_size_request(GTK_WIDGET(window), kMinimumWidth, kMinimumHeight);
    auto saved = settings_.windowState();
    gtk_window_set_default_size(window, saved.width, saved.height);
    if (saved.maximized)
        gtk_window_maximize(window);

    // Underneath: the rail backing and the page's own background.
    GtkWidget* base = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
    gtk_widget_set_can_target(base, FALSE);
    gtk_accessible_update_state(GTK_ACCESSIBLE(base), GTK_ACCESSIBLE_STATE_HIDDEN, TRUE, -1);
    gtk_box_append(GTK_BOX(base), railBacking());
    GtkWidget* rest = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
    gtk_widget_add_css_class(rest, "quorvane-base");
    gtk_widget_set_hexpand(rest, TRUE);
    gtk_box_append(GTK_BOX(base), rest);

    GtkWidget* overlay = gtk_overlay_new();
    gtk_overlay_set_child(GTK_OVERLAY(overlay), base);

    GtkWidget* page = GTK_WIDGET(webView);
    gtk_widget_set_hexpand(page, TRUE);
    gtk_widget_set_vexpand(page, TRUE);
    gtk_overlay_add_overlay(GTK_OVERLAY(overlay), page);
    gtk_overlay_set_measure_overlay(GTK_OVERLAY(overlay), page, TRUE);

    // The drag strip over the rail's top edge, with the start-side window controls.
    dragRegion_ = gtk_window_handle_new();
    gtk_widget_set_halign(dragRegion_, GTK_ALIGN_START);
    gtk_widget_set_valign(dragRegion_, GTK_ALIGN_START);
    gtk_widget_set_size_request(dragRegion_, kRailWidth, kDragHeight);
    gtk_widget_set_cursor_from_name(dragRegion_, "default");
    gtk_accessible_update_state(GTK_ACCESSIBLE(dragRegion_), GTK_ACCESSIBLE_STATE_HIDDEN, TRUE, -1);
    GtkWidget* start = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
    gtk_box_append(GTK_BOX(start), windowControls(GTK_PACK_START));
    gtk_window_handle_set_child(GTK_WINDOW_HANDLE(dragRegion_), start);
    gtk_overlay_add_overlay(GTK_OVERLAY(overlay), dragRegion_);

    // The application menu and the end-side window controls, top right.
    GtkWidget* end = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 4);
    gtk_widget_set_halign(end, GTK_ALIGN_END);
    gtk_widget_set_valign(end, GTK_ALIGN_START);
    gtk_widget_set_margin_top(end, 4);
    gtk_widget_set_margin_end(end, 4);
    GtkWidget* menuButton = gtk_menu_button_new();
    gtk_menu_button_set_icon_name(GTK_MENU_BUTTON(menuButton), "open-menu-symbolic");
    gtk_menu_button_set_menu_model(GTK_MENU_BUTTON(menuButton), menu);
    gtk_widget_set_tooltip_text(menuButton, "Main Menu");
    gtk_widget_add_css_class(menuButton, "flat");
    gtk_widget_set_valign(menuButton, GTK_ALIGN_CENTER);
    gtk_widget_set_focus_on_click(menuButton, FALSE);
    gtk_box_append(GTK_BOX(end), menuButton);
    gtk_box_append(GTK_BOX(end), windowControls(GTK_PACK_END));
    gtk_overlay_add_overlay(GTK_OVERLAY(overlay), end);

    adw_application_window_set_content(window_.get(), overlay);
    connectWeakOwner(window, "close-request", G_CALLBACK(&MainWindow::onCloseRequest), lifetime_, this);
}

MainWindow::~MainWindow()
{
    lifetime_.end();
    gtk_window_destroy(window());
}

gboolean MainWindow::onCloseRequest(GtkWindow*, gpointer data)
{
    if (auto* self = WeakOwner<MainWindow>::from(data))
        self->saveState();
    return FALSE;  // hide-on-close hides it; the application keeps running
}

void MainWindow::present() { gtk_window_present(window()); }

void MainWindow::setDragRegionVisible(bool visible) { gtk_widget_set_visible(dragRegion_, visible); }

void MainWindow::saveState()
{
    // GTK keeps the unmaximised size in the default size, also while the window is maximised.
    ShellSettings::WindowState state = settings_.windowState();
    int width = 0, height = 0;
    gtk_window_get_default_size(window(), &width, &height);
    if (width > 0 && height > 0) {
        state.width = width;
        state.height = height;
    }
    state.maximized = gtk_window_is_maximized(window());
    settings_.setWindowState(state);
}

}  // namespace quorvane
