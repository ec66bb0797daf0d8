#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quorvane {

// Whether a custom avatar may be saved: a "data:image/png;base64," URL of at most 600,000 bytes
// whose data is strict Base64 of a PNG image that decodes, at most 512 × 512 pixels.
bool isAcceptableAvatar(std::string_view dataURL);

// Strict standard Base64 (padding required where due, no white space); absent when malformed.
std::optional<std::string> decodeBase64(std::string_view text);

}  // namespace quorvane
