#pragma once

// The few settings that must outlive the process, in GSettings (schema "local.vemir.quorvane"):
// the user's choice about automatic update checks, whether replies show desktop notifications,
// the main window's size and maximised state, and a copy of the theme for the moment before the
// vault is open. Everything else the user sets lives in the vault.
//
// The schema is looked up in the system's schema folders first (an installed Quorvane), then in
// the compiled schema beside the data folder (<prefix>/share/glib-2.0/schemas, which the build
// also writes into the build tree, so a run from the build folder finds it). Without either,
// the values live in memory for this run and a warning says why. Tests select GLib's memory
// backend (G_SETTINGS_BACKEND=memory), so they never touch the user's dconf database.

#include <filesystem>
#include <optional>
#include <string>

#include <gio/gio.h>

#include "quorvane/holders/GObjectPtr.hpp"

namespace quorvane {

class ShellSettings {
public:
    static constexpr const char* kSchemaID = "local.vemir.quorvane";

    explicit ShellSettings(const std::filesystem::path& dataDirectory);

    // Absent until the user turns automatic checks on or off; then their choice.
    std::optional<bool> automaticUpdateChecks() const;
    void setAutomaticUpdateChecks(bool enabled);

    // Whether a reply that arrives while the window is not active shows a desktop notification;
    // on until the user turns it off.
    bool replyNotifications() const;
    void setReplyNotifications(bool enabled);

    // The theme the window starts in: "light", "dark" or "system" (the vault's own choice,
    // copied here whenever it is applied).
    std::string startTheme() const;
    void setStartTheme(const std::string& theme);

    struct WindowState {
        int width = 1180;
        int height = 780;
        bool maximized = false;
    };
    WindowState windowState() const;
    void setWindowState(const WindowState& state);

    bool persistent() const { return bool(settings_); }

private:
    GObjectPtr<GSettings> settings_;
    std::optional<bool> automaticUpdateChecks_;  // when there is no schema
    bool replyNotifications_ = true;  // when there is no schema
    std::string startTheme_ = "system";  // when there is no schema
    WindowState window_;  // when there is no schema
};

}  // namespace quorvane
