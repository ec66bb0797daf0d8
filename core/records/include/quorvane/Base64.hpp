#pragma once

// Standard Base64, read strictly: the alphabet A–Z a–z 0–9 + /, a length that is a multiple of
// four, "=" padding only where due and only at the end, no white space. Avatars arrive as data
// URLs from the interface page and from the Dot page; lenient decoding would let malformed text
// through as some other picture.

#include <optional>
#include <string>
#include <string_view>

namespace quorvane {

// The decoded bytes; absent when the text is not strict Base64.
std::optional<std::string> decodeBase64(std::string_view text);

// The strict Base64 form of any bytes, padded with "=".
std::string encodeBase64(std::string_view bytes);

}  // namespace quorvane
