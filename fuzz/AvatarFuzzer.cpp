// Avatar PNG header reading: the check a custom avatar passes before it is saved. The input is
// the image's bytes, sent as the data URL the interface page would send; an input that already
// starts with "data:" is used as the URL itself, so the prefix and Base64 checks are fuzzed too.
//
// Property: no crash, no leak, no undefined behaviour, and an accepted avatar starts with the
// PNG signature and an IHDR chunk of at most 512 × 512 pixels.

#include <string>

#include "AvatarImage.hpp"
#include "FuzzSupport.hpp"

using namespace quorvane;

namespace {

std::string base64(std::string_view bytes)
{
    static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        std::uint32_t chunk = std::uint32_t(static_cast<unsigned char>(bytes[i])) << 16;
        if (i + 1 < bytes.size())
            chunk |= std::uint32_t(static_cast<unsigned char>(bytes[i + 1])) << 8;
        if (i + 2 < bytes.size())
            chunk |= std::uint32_t(static_cast<unsigned char>(bytes[i + 2]));
        out.push_back(kAlphabet[(chunk >> 18) & 63]);
        out.push_back(kAlphabet[(chunk >> 12) & 63]);
        out.push_back(i + 1 < bytes.size() ? kAlphabet[(chunk >> 6) & 63] : '=');
        out.push_back(i + 2 < bytes.size() ? kAlphabet[chunk & 63] : '=');
    }
    return out;
}

std::uint32_t bigEndian32(std::string_view bytes, std::size_t at)
{
    std::uint32_t value = 0;
    for (std::size_t i = at; i < at + 4; ++i)
        value = (value << 8) | static_cast<unsigned char>(bytes[i]);
    return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string_view input = fuzz::asText(data, size);
    if (input.starts_with("data:")) {
        isAcceptableAvatar(input);
        return 0;
    }
    if (!isAcceptableAvatar("data:image/png;base64," + base64(input)))
        return 0;
    if (size < 24 || !input.starts_with("\x89PNG\r\n\x1A\n") || input.substr(12, 4) != "IHDR")
        fuzz::propertyBroken("an avatar without a PNG header was accepted");
    std::uint32_t width = bigEndian32(input, 16);
    std::uint32_t height = bigEndian32(input, 20);
    if (width == 0 || height == 0 || width > 512 || height > 512)
        fuzz::propertyBroken("an avatar larger than 512 × 512 pixels was accepted");
    return 0;
}
