#include "quorvane/shell/Menus.hpp"

namespace quorvane::menus {

namespace {

void append(GMenu* menu, const char* label, const char* action) { g_menu_append(menu, label, action); }

GMenu* aboutSection()
{
    GMenu* section = g_menu_new();
    append(section, "About Quorvane", "app.about");
    append(section, "Check for Updates…", "app.check-updates");
    return section;
}

}  // namespace

GMenuModel* mainMenu()
{
    GMenu* bar = g_menu_new();

    GMenu* application = g_menu_new();
    GMenu* about = aboutSection();
    g_menu_append_section(application, nullptr, G_MENU_MODEL(about));
    g_object_unref(about);
    GMenu* settings = g_menu_new();
    append(settings, "Settings…", "app.settings");
    g_menu_append_section(application, nullptr, G_MENU_MODEL(settings));
    g_object_unref(settings);
    GMenu* leave = g_menu_new();
    append(leave, "Hide Quorvane", "app.hide");
    append(leave, "Quit Quorvane", "app.quit");
    g_menu_append_section(application, nullptr, G_MENU_MODEL(leave));
    g_object_unref(leave);
    g_menu_append_submenu(bar, "Quorvane", G_MENU_MODEL(application));
    g_object_unref(application);

    GMenu* edit = g_menu_new();
    append(edit, "Undo", "win.undo");
    append(edit, "Redo", "win.redo");
    append(edit, "Cut", "win.cut");
    append(edit, "Copy", "win.copy");
    append(edit, "Paste", "win.paste");
    append(edit, "Select All", "win.select-all");
    g_menu_append_submenu(bar, "Edit", G_MENU_MODEL(edit));
    g_object_unref(edit);

    GMenu* window = g_menu_new();
    append(window, "Minimize", "win.minimize");
    append(window, "Open Your Dot", "app.open-dot");
    g_menu_append_submenu(bar, "Window", G_MENU_MODEL(window));
    g_object_unref(window);
    return G_MENU_MODEL(bar);
}

GMenuModel* primaryMenu()
{
    GMenu* menu = g_menu_new();
    GMenu* first = g_menu_new();
    append(first, "Settings…", "app.settings");
    append(first, "Open Your Dot", "app.open-dot");
    g_menu_append_section(menu, nullptr, G_MENU_MODEL(first));
    g_object_unref(first);
    GMenu* window = g_menu_new();
    append(window, "Minimize", "win.minimize");
    append(window, "Hide Quorvane", "app.hide");
    g_menu_append_section(menu, nullptr, G_MENU_MODEL(window));
    g_object_unref(window);
    GMenu* about = g_menu_new();
    append(about, "Check for Updates…", "app.check-updates");
    append(about, "About Quorvane", "app.about");
    g_menu_append_section(menu, nullptr, G_MENU_MODEL(about));
    g_object_unref(about);
    GMenu* quit = g_menu_new();
    append(quit, "Quit Quorvane", "app.quit");
    g_menu_append_section(menu, nullptr, G_MENU_MODEL(quit));
    g_object_unref(quit);
    return G_MENU_MODEL(menu);
}

void installAccelerators(GtkApplication* application)
{
    struct Shortcut {
        const char* action;
        const char* accelerator;
    };
    static const Shortcut shortcuts[] = {
        { "app.settings", "<Control>comma" },
        { "app.hide", "<Control>h" },
        { "app.quit", "<Control>q" },
        { "win.undo", "<Control>z" },
        { "win.redo", "<Control><Shift>z" },
        { "win.cut", "<Control>x" },
        { "win.copy", "<Control>c" },
        { "win.paste", "<Control>v" },
        { "win.select-all", "<Control>a" },
        { "win.minimize", "<Control>m" },
    };
    for (const auto& shortcut : shortcuts) {
        const char* accelerators[] = { shortcut.accelerator, nullptr };
        gtk_application_set_accels_for_action(application, shortcut.action, accelerators);
    }
}

}  // namespace quorvane::menus
