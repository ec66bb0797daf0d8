#pragma once

// The persistent website data of one account: cookies, storage and cache live under
// <data home>/Quorvane/profiles/<UUID> and <cache home>/Quorvane/profiles/<UUID>, so each account
// keeps its own sign-in.

#include <filesystem>
#include <string>
#include <string_view>

#include <webkit/webkit.h>

#include "quorvane/holders/GObjectPtr.hpp"

namespace quorvane {

struct BrowserProfile {
    std::string identifier;  // the UUID the folders are named after
    std::filesystem::path dataDirectory;
    std::filesystem::path cacheDirectory;

    // A profile that is not a valid UUID gets a fresh random one, which no later start will find
    // again: better an empty sign-in than sharing another account's.
    static BrowserProfile forAccount(std::string_view profile);

    // A persistent network session over the two folders, cookies kept in an SQLite file.
    GObjectPtr<WebKitNetworkSession> makeSession() const;
};

}  // namespace quorvane
