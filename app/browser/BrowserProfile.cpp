#include "quorvane/browser/BrowserProfile.hpp"

#include <glib.h>

#include "quorvane/TextRules.hpp"
#include "quorvane/UserFolders.hpp"

namespace quorvane {

BrowserProfile BrowserProfile::forAccount(std::string_view profile)
{
    BrowserProfile result;
    result.identifier = canonicalUUID(profile).value_or(newUUID());
    auto folder = std::filesystem::path("Quorvane") / "profiles" / result.identifier;
    // Without a home folder of its own, GLib's answer (which ends in the temporary folder) is
    // still better than a path relative to wherever the application was started.
    result.dataDirectory = userDataHome().value_or(g_get_user_data_dir()) / folder;
    result.cacheDirectory = userCacheHome().value_or(g_get_user_cache_dir()) / folder;
    return result;
}

GObjectPtr<WebKitNetworkSession> BrowserProfile::makeSession() const
{
    auto session = GObjectPtr<WebKitNetworkSession>::adopt(
        webkit_network_session_new(dataDirectory.c_str(), cacheDirectory.c_str()));
    // The session keeps cookies in memory unless told where to store them, and a sign-in that
    // does not survive a restart is no sign-in at all.
    std::error_code ignored;  // an unwritable folder costs persistence, not the page
    std::filesystem::create_directories(dataDirectory, ignored);
    webkit_cookie_manager_set_persistent_storage(webkit_network_session_get_cookie_manager(session.get()),
        (dataDirectory / "cookies.sqlite").c_str(), WEBKIT_COOKIE_PERSISTENT_STORAGE_SQLITE);
    return session;
}

}  // namespace quorvane
