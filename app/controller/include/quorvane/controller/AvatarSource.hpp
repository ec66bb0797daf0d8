#pragma once

// Which profile-picture sources avatar synchronisation accepts, decided before anything is
// fetched or decoded:
//   - a data URL "data:image/png;base64,<strict Base64>" of at most 1,999,999 characters;
//   - otherwise an https address on one of the Dot service's own hosts (its main, static,
//     user-content and company hosts) or a subdomain of one: "cdn.dot.example" is on
//     "dot.example", "evildot.example" is not. A host configured with a port allows that port
//     only; one without allows the default https port only.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "quorvane/DotService.hpp"

namespace quorvane {

inline constexpr std::string_view kAvatarDataURLPrefix = "data:image/png;base64,";
inline constexpr std::size_t kAvatarDataURLLimit = 1'999'999;

// The picture's bytes when `source` is a data URL within the limit whose Base64 decodes;
// absent otherwise (also for any source that is not such a data URL).
std::optional<std::string> avatarDataURLBytes(std::string_view source);

// Whether `source` falls under the data URL rule at all (prefix and length); such a source is
// never fetched, even when its Base64 is bad.
bool isAvatarDataURL(std::string_view source);

// Whether `source` may be fetched: https on an allowed host.
bool isAllowedAvatarAddress(std::string_view source, const DotService& service);

}  // namespace quorvane
