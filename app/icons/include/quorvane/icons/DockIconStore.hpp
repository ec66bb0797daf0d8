#pragma once
// Keeps the icon that the Dock tile module shows when Quorvane is not running: a PNG at
// dockicon::iconFilePath(), readable by the user only.

#include <filesystem>
#include <optional>

#include "quorvane/icons/Image.hpp"

namespace quorvane {

struct DockIconStore {
    // With an image: writes it as PNG to `file`, creating the missing folders (mode 0700),
    // through a temporary file in the same folder that is renamed over the old one, so a
    // reader sees either the old icon or the new one, never part of a file. The file is
    // 0600 before it appears under its name. Without an image: removes `file` if present.
    // Throws std::system_error (its what() says what failed and why); after a failure the
    // previous file is still in place and no temporary file is left behind.
    static void save(const std::optional<Image>& image, const std::filesystem::path& file);
};

}  // namespace quorvane
