#pragma once
// Tells the Dock tile module, in whichever process it runs, that the icon file changed:
// the session-bus signal of quorvane/icons/DockIconContract.hpp, sent to every listener.

#include <gio/gio.h>

#include "quorvane/icons/DockIconContract.hpp"

namespace quorvane {

// Emits the signal on `connection` and flushes it, so it leaves at once. Returns false
// (and logs why) if it could not be sent; nobody waits for an answer.
bool postDockIconChanged(GDBusConnection* connection);

// The same on the user's session bus; false when there is none.
bool postDockIconChanged();

}  // namespace quorvane
