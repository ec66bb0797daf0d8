#pragma once

// Keeps the application's icon in line with the published state.
//
// The key of a state is the image of its primary bot (the first bot with id "dot") when the
// state's appIconStyle is "dot" and that bot has an image, and "quorvane" otherwise. When the
// key changes:
//   1. a key that is a PNG data URL is decoded and rendered into the 1024-pixel "dot" icon
//      (DotAppIcon); any other key, or a failure on the way, means the shipped icon;
//   2. the application's own icon follows. On Linux that icon is the themed icon named by the
//      application id, so the rendered icon is installed for this user as that name under
//      $XDG_DATA_HOME/icons/hicolor/<size>/apps/, in every size the package ships, where it
//      takes precedence over the shipped one: window switchers, docks and launchers show the
//      primary bot's face, also while Quorvane is not running. The shipped icon returns by
//      removing those files. A failure here is logged; the steps below still run;
//   3. the icon is saved for the Dock tile module with DockIconStore (removed for the shipped
//      icon). If that fails, "Could not save Dock artwork: …" is logged and the key is not
//      taken, so the next publication tries again; otherwise the change signal goes out on the
//      session bus and the key is taken.
// Two publications with the same key do nothing at all.

#include <array>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "quorvane/controller/ClientState.hpp"
#include "quorvane/icons/Image.hpp"

namespace quorvane {

class AppIconPublisher {
public:
    static constexpr const char* kDefaultKey = "quorvane";
    static constexpr const char* kIconName = "local.vemir.quorvane";
    // The sizes of the shipped hicolor icons, and so of the user's override.
    static constexpr std::array<int, 8> kThemedSizes { 16, 24, 32, 48, 64, 128, 256, 512 };

    static std::string keyFor(const ClientState& state);

    // The themed icon files of this user for one size: <data home>/icons/hicolor/NxN/apps/….
    static std::filesystem::path themedIconFile(int size);

    // Applies the state's key as described above.
    void apply(const ClientState& state);

    const std::string& lastKey() const { return lastKey_; }

    // Called after the themed icon changed (to refresh what the process shows itself).
    std::function<void()> onThemedIconChanged;

private:
    static std::optional<Image> render(const std::string& key);
    static void installThemedIcon(const std::optional<Image>& icon);

    std::string lastKey_;  // empty: nothing applied yet
};

}  // namespace quorvane
