#pragma once
// What the application and the Dock tile module agree on, and nothing more: where the
// current icon lives and which session-bus signal says it changed. Header-only on purpose,
// so the module can use it without linking any of the application.

#include <cstdlib>
#include <filesystem>
#include <string>

#include <pwd.h>
#include <unistd.h>

namespace quorvane::dockicon {

// The notification's name. D-Bus member names cannot hold "-", so the name travels as
// the signal's only argument and subscribers match on it (arg0).
inline constexpr const char* notificationName = "local.vemir.quorvane.dock-icon-changed";
inline constexpr const char* signalInterface = "local.vemir.quorvane.DockIcon";
inline constexpr const char* signalMember = "Changed";
inline constexpr const char* signalObjectPath = "/local/vemir/quorvane/DockIcon";

// The user's data home: $XDG_DATA_HOME when it holds an absolute path (relative values
// are invalid and ignored), otherwise ~/.local/share. Read on every call rather than
// cached, so both sides always follow the environment they run in.
inline std::filesystem::path userDataHome()
{
    if (const char* dataHome = std::getenv("XDG_DATA_HOME"); dataHome && dataHome[0] == '/') {
        return dataHome;
    }
    std::string home;
    if (const char* env = std::getenv("HOME"); env && env[0] != '\0') {
        home = env;
    } else if (const passwd* entry = getpwuid(getuid()); entry && entry->pw_dir) {
        home = entry->pw_dir;
    }
    return std::filesystem::path(home) / ".local" / "share";
}

// The PNG that the Dock tile shows; absent while the bundled icon applies.
inline std::filesystem::path iconFilePath() { return userDataHome() / "Quorvane" / "DockIcon.png"; }

}  // namespace quorvane::dockicon
