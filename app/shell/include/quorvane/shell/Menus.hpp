#pragma once

// The application's menus as GMenu models, and their keyboard shortcuts (Ctrl where other
// desktops use Command).
//
//   Quorvane   About Quorvane · Check for Updates… · Settings… (Ctrl+,) · Hide Quorvane (Ctrl+H,
//              which minimises) · Quit Quorvane (Ctrl+Q)
//   Edit       Undo (Ctrl+Z) · Redo (Ctrl+Shift+Z) · Cut · Copy · Paste · Select All, run by the
//              interface page's web view
//   Window     Minimize (Ctrl+M) · Open Your Dot
//
// The menu bar model is for desktops that show an application's menu bar; the window's own
// menu button shows the primary menu (the same items without the Edit menu, whose shortcuts
// work anyway).

#include <gtk/gtk.h>

namespace quorvane::menus {

GMenuModel* mainMenu();  // transfer full
GMenuModel* primaryMenu();  // transfer full
void installAccelerators(GtkApplication* application);

}  // namespace quorvane::menus
