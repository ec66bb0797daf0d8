#pragma once
// A picture of a bot that shows one of the built-in avatars, for places outside the interface
// page (a character card's image): the avatar's disc, 256×256 on a transparent square, in the
// same two-stop gradient of its hue that the page's avatars use. The page's white symbols are
// vector drawings that only the page has, so the picture is the disc alone. Pure: nothing as
// the result of a drawing failure.

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace quorvane {

inline constexpr int builtInAvatarPictureSide = 256;

// PNG bytes; an unknown kind is drawn as "dot", as the page shows it.
std::optional<std::vector<std::uint8_t>> builtInAvatarPNG(std::string_view kind);

}  // namespace quorvane
