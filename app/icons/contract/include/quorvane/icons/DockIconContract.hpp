#pragma once
// What the application and the Dock tile module agree on, and nothing more: where the
// current icon lives and which session-bus signal says it changed. Header-only on purpose,
// so the module can use it without linking any of the application.

#include <filesystem>

#include "quorvane/UserFolders.hpp"

namespace quorvane::dockicon {

// The notification's name. D-Bus member names cannot hold "-", so the name travels as
// the signal's only argument and subscribers match on it (arg0).
inline constexpr const char* notificationName = "local.vemir.quorvane.dock-icon-changed";
inline constexpr const char* signalInterface = "local.vemir.quorvane.DockIcon";
inline constexpr const char* signalMember = "Changed";
inline constexpr const char* signalObjectPath = "/local/vemir/quorvane/DockIcon";

// The PNG that the Dock tile shows; absent while the bundled icon applies. Empty when the user
// has no home folder, so nothing is ever read from or written to the working directory.
inline std::filesystem::path iconFilePath()
{
    auto dataHome = userDataHome();
    return dataHome ? *dataHome / "Quorvane" / "DockIcon.png" : std::filesystem::path();
}

}  // namespace quorvane::dockicon
