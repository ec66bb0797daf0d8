#pragma once

// Pictures for the avatar tests: small solid PNGs, PNGs padded to an exact size with a private
// chunk (decoders skip it), data URLs, and the colour at the centre of a bot's image.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quorvane::testing {

struct Colour {
    int red = 0, green = 0, blue = 0;
    bool operator==(const Colour&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Colour& colour);

inline constexpr Colour kRed { 220, 20, 30 };
inline constexpr Colour kBlue { 20, 40, 220 };
inline constexpr Colour kGreen { 30, 200, 60 };

// An 8×8 PNG of one colour.
std::vector<std::uint8_t> solidPNG(Colour colour);
// The same picture, exactly `size` bytes long: a private ancillary chunk before IEND.
std::vector<std::uint8_t> paddedPNG(std::vector<std::uint8_t> png, std::size_t size);
std::string dataURL(const std::vector<std::uint8_t>& png);
std::string base64(const std::vector<std::uint8_t>& bytes);

// The colour at the centre of a "data:image/png;base64," image, and its size; nothing when the
// image does not decode.
struct Decoded {
    int width = 0, height = 0;
    Colour centre;
};
std::optional<Decoded> decodeDataURL(const std::string& image);

}  // namespace quorvane::testing
