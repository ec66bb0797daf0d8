#pragma once

// What the updater knows about the installed application: the information keys of Info.json in
// the data folder (CFBundleShortVersionString, SUFeedURL, SUPublicEDKey, SUEnableAutomaticChecks,
// SUScheduledCheckInterval).

#include <filesystem>
#include <optional>
#include <string_view>

#include <boost/json/object.hpp>

namespace quorvane {

struct AppBundle {
    // Absent when the bundle has no information file (or one that is not a JSON object).
    std::optional<boost::json::object> infoDictionary;

    // Reads <dataDirectory>/Info.json. A missing file gives a bundle without information; an
    // unreadable or malformed one does too, with a warning on the log, so that a packaging
    // fault turns updates off instead of stopping the application.
    static AppBundle load(const std::filesystem::path& dataDirectory);

    // The value of a key when it is a string, else nothing.
    std::optional<std::string_view> string(std::string_view key) const;
};

}  // namespace quorvane
