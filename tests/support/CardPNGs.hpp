#pragma once

// PNG files built byte by byte for the character card tests, so that every case shows exactly
// the bytes it is about: the signature, chunks with their lengths and CRCs (computed here, apart
// from the code under test), a real 2×2 picture whose IDAT is a stored (uncompressed) zlib
// stream that any decoder reads, and tEXt chunks carrying Base64 card JSON.

#include <array>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace quorvane::testing::cards {

inline std::uint32_t crc(std::string_view bytes)
{
    std::uint32_t c = 0xFFFFFFFFu;
    for (unsigned char byte : bytes) {
        c ^= byte;
        for (int k = 0; k < 8; ++k)
            c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
    }
    return ~c;
}

inline std::string bigEndian(std::uint32_t value)
{
    return { static_cast<char>(value >> 24), static_cast<char>((value >> 16) & 0xFF),
        static_cast<char>((value >> 8) & 0xFF), static_cast<char>(value & 0xFF) };
}

inline constexpr std::string_view kSignature = "\x89PNG\r\n\x1a\n";

// One chunk: length, type, data, CRC of type and data.
inline std::string chunk(std::string_view type, std::string_view data)
{
    std::string typeAndData = std::string(type) + std::string(data);
    return bigEndian(static_cast<std::uint32_t>(data.size())) + typeAndData + bigEndian(crc(typeAndData));
}

inline std::string text(std::string_view keyword, std::string_view value)
{
    return chunk("tEXt", std::string(keyword) + '\0' + std::string(value));
}

inline std::string ihdr(std::uint32_t width = 2, std::uint32_t height = 2)
{
    // 8-bit RGBA, no interlace.
    return chunk("IHDR", bigEndian(width) + bigEndian(height) + std::string("\x08\x06\x00\x00\x00", 5));
}

// The pixels of a 2×2 RGBA picture of one colour, as a stored zlib stream.
inline std::string idat(std::array<unsigned char, 4> rgba = { 200, 40, 60, 255 })
{
    std::string raw;
    for (int row = 0; row < 2; ++row) {
        raw.push_back('\0');  // filter: none
        for (int column = 0; column < 2; ++column)
            raw.append(reinterpret_cast<const char*>(rgba.data()), 4);
    }
    std::uint32_t a = 1, b = 0;
    for (unsigned char byte : raw) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    const auto length = static_cast<std::uint16_t>(raw.size());
    std::string stream = "\x78\x01";
    stream += '\x01';  // final stored block
    stream += static_cast<char>(length & 0xFF);
    stream += static_cast<char>(length >> 8);
    stream += static_cast<char>(~length & 0xFF);
    stream += static_cast<char>((~length >> 8) & 0xFF);
    stream += raw;
    stream += bigEndian((b << 16) | a);
    return chunk("IDAT", stream);
}

inline std::string iend() { return chunk("IEND", ""); }

// A whole PNG: the signature, IHDR, the given chunks, IDAT and IEND.
inline std::string png(std::initializer_list<std::string> extra = {})
{
    std::string out(kSignature);
    out += ihdr();
    for (const std::string& c : extra)
        out += c;
    return out + idat() + iend();
}

inline std::string base64(std::string_view bytes)
{
    static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const std::uint32_t n = (std::uint32_t(static_cast<unsigned char>(bytes[i])) << 16)
            | (std::uint32_t(static_cast<unsigned char>(bytes[i + 1])) << 8) | static_cast<unsigned char>(bytes[i + 2]);
        out += { kAlphabet[n >> 18], kAlphabet[(n >> 12) & 63], kAlphabet[(n >> 6) & 63], kAlphabet[n & 63] };
    }
    if (bytes.size() - i == 1) {
        const std::uint32_t n = std::uint32_t(static_cast<unsigned char>(bytes[i])) << 16;
        out += { kAlphabet[n >> 18], kAlphabet[(n >> 12) & 63], '=', '=' };
    } else if (bytes.size() - i == 2) {
        const std::uint32_t n = (std::uint32_t(static_cast<unsigned char>(bytes[i])) << 16)
            | (std::uint32_t(static_cast<unsigned char>(bytes[i + 1])) << 8);
        out += { kAlphabet[n >> 18], kAlphabet[(n >> 12) & 63], kAlphabet[(n >> 6) & 63], '=' };
    }
    return out;
}

// Card JSON with the given format name, version and data object (JSON text).
inline std::string cardJSON(std::string_view format, std::string_view version, std::string_view data)
{
    return R"({"spec":")" + std::string(format) + R"(","spec_version":")" + std::string(version) + R"(","data":)"
        + std::string(data) + "}";
}
inline std::string v2(std::string_view data) { return cardJSON("chara_card_v2", "2.0", data); }
inline std::string v3(std::string_view data) { return cardJSON("chara_card_v3", "3.0", data); }

// tEXt chunks carrying card JSON.
inline std::string ccv3(std::string_view json) { return text("ccv3", base64(json)); }
inline std::string chara(std::string_view json) { return text("chara", base64(json)); }

}  // namespace quorvane::testing::cards
