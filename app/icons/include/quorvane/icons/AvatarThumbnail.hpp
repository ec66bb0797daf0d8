#pragma once
// The primary bot's picture, made from the avatar the Dot page shows for the signed-in
// profile: a 256×256 PNG with the avatar scaled to fit (enlarged if small) and centred on
// a transparent square. Pure: nothing as the result of any failure.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace quorvane {

// Avatars of this many bytes or more are refused before decoding.
inline constexpr std::size_t avatarByteLimit = 8'000'000;
inline constexpr int avatarThumbnailSide = 256;

std::optional<std::vector<std::uint8_t>> avatarThumbnailPNG(std::span<const std::uint8_t> data);

}  // namespace quorvane
