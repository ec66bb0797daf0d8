#pragma once

// The user's XDG base folders, read the same way by every part of Quorvane: the store, the Dot
// page profiles, the Dock icon and the Dock tile module. Header-only so that the Dock tile
// module can use it without linking any of the application.
//
// Each call reads the environment afresh rather than caching it (GLib's g_get_user_data_dir
// caches the first answer), so tests and the module follow the environment they run in.
// A relative or empty XDG_* value is invalid under the base directory rules and is ignored.
// Without an absolute home folder there is no answer: callers must not fall back to the
// working directory.

#include <cstdlib>
#include <filesystem>
#include <optional>

#include <pwd.h>
#include <unistd.h>

namespace quorvane {

// $HOME when absolute, otherwise the password database's entry.
inline std::optional<std::filesystem::path> userHomeFolder()
{
    if (const char* home = std::getenv("HOME"); home && home[0] == '/')
        return std::filesystem::path(home);
    if (const passwd* user = ::getpwuid(::getuid()); user && user->pw_dir && user->pw_dir[0] == '/')
        return std::filesystem::path(user->pw_dir);
    return std::nullopt;
}

namespace user_folders_detail {
inline std::optional<std::filesystem::path> baseFolder(const char* variable, const char* fallbackBelowHome)
{
    if (const char* value = std::getenv(variable); value && value[0] == '/')
        return std::filesystem::path(value);
    if (auto home = userHomeFolder())
        return *home / fallbackBelowHome;
    return std::nullopt;
}
}  // namespace user_folders_detail

// $XDG_DATA_HOME, or ~/.local/share.
inline std::optional<std::filesystem::path> userDataHome()
{
    return user_folders_detail::baseFolder("XDG_DATA_HOME", ".local/share");
}

// $XDG_CACHE_HOME, or ~/.cache.
inline std::optional<std::filesystem::path> userCacheHome()
{
    return user_folders_detail::baseFolder("XDG_CACHE_HOME", ".cache");
}

}  // namespace quorvane
