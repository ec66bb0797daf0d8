#include "quorvane/icons/DockIconNotification.hpp"

#include "quorvane/holders/GLibHolders.hpp"
#include "quorvane/holders/GObjectPtr.hpp"

namespace quorvane {

bool postDockIconChanged(GDBusConnection* connection)
{
    GErrorHolder error;
    // No destination: a broadcast that every subscriber on the bus receives.
    if (!g_dbus_connection_emit_signal(connection, nullptr, dockicon::signalObjectPath, dockicon::signalInterface,
            dockicon::signalMember, g_variant_new("(s)", dockicon::notificationName), error.out())) {
        g_warning("Could not post the Dock icon change: %s", error.get()->message);
        return false;
    }
    if (!g_dbus_connection_flush_sync(connection, nullptr, error.out())) {
        g_warning("Could not post the Dock icon change: %s", error.get()->message);
        return false;
    }
    return true;
}

bool postDockIconChanged()
{
    GErrorHolder error;
    auto bus = GObjectPtr<GDBusConnection>::adopt(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, error.out()));
    if (!bus) {
        g_warning("Could not post the Dock icon change: %s", error.get()->message);
        return false;
    }
    return postDockIconChanged(bus.get());
}

}  // namespace quorvane
