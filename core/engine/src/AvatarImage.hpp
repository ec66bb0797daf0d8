#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "quorvane/Base64.hpp"

namespace quorvane {

// Whether a custom avatar may be saved: a "data:image/png;base64," URL of at most 600,000 bytes
// whose data is strict Base64 of a PNG image that decodes, at most 512 × 512 pixels.
bool isAcceptableAvatar(std::string_view dataURL);

}  // namespace quorvane
