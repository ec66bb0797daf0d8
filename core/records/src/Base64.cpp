#include "quorvane/Base64.hpp"

#include <cstdint>

namespace quorvane {

namespace {

int base64Value(char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

}  // namespace

std::optional<std::string> decodeBase64(std::string_view text)
{
    if (text.size() % 4 != 0)
        return std::nullopt;
    std::string out;
    out.reserve(text.size() / 4 * 3);
    for (std::size_t i = 0; i < text.size(); i += 4) {
        bool last = i + 4 == text.size();
        int v[4];
        int padding = 0;
        for (int k = 0; k < 4; ++k) {
            char c = text[i + k];
            if (c == '=' && last && k >= 2) {
                v[k] = 0;
                ++padding;
                continue;
            }
            if (padding > 0)
                return std::nullopt;  // data after padding
            v[k] = base64Value(c);
            if (v[k] < 0)
                return std::nullopt;
        }
        std::uint32_t group = (std::uint32_t(v[0]) << 18) | (std::uint32_t(v[1]) << 12) | (std::uint32_t(v[2]) << 6)
            | std::uint32_t(v[3]);
        out.push_back(static_cast<char>(group >> 16));
        if (padding < 2)
            out.push_back(static_cast<char>((group >> 8) & 0xFF));
        if (padding < 1)
            out.push_back(static_cast<char>(group & 0xFF));
    }
    return out;
}

std::string encodeBase64(std::string_view bytes)
{
    static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t left = bytes.size() - i;
        std::uint32_t group = std::uint32_t(static_cast<unsigned char>(bytes[i])) << 16;
        if (left > 1)
            group |= std::uint32_t(static_cast<unsigned char>(bytes[i + 1])) << 8;
        if (left > 2)
            group |= std::uint32_t(static_cast<unsigned char>(bytes[i + 2]));
        out.push_back(kAlphabet[(group >> 18) & 63]);
        out.push_back(kAlphabet[(group >> 12) & 63]);
        out.push_back(left > 1 ? kAlphabet[(group >> 6) & 63] : '=');
        out.push_back(left > 2 ? kAlphabet[group & 63] : '=');
    }
    return out;
}

}  // namespace quorvane
