#include "quorvane/shell/ASCIIJSON.hpp"

#include <cstdint>
#include <cstring>

namespace quorvane {

namespace {

constexpr std::uint64_t kHighBits = 0x8080808080808080ull;

// Where the next byte beyond ASCII is at or after `i` (the text's size when there is none):
// eight bytes at a time, since such bytes are rare even in text that has some.
std::size_t nextNonASCII(const std::string& text, std::size_t i)
{
    const char* data = text.data();
    for (; i + 8 <= text.size(); i += 8) {
        std::uint64_t word;
        std::memcpy(&word, data + i, 8);
        if (word & kHighBits)
            break;
    }
    for (; i < text.size(); ++i) {
        if (static_cast<unsigned char>(data[i]) >= 0x80)
            return i;
    }
    return text.size();
}

void appendUnit(std::string& out, std::uint32_t unit)
{
    static constexpr char kHex[] = "0123456789abcdef";
    const char escape[6]
        = { '\\', 'u', kHex[(unit >> 12) & 15], kHex[(unit >> 8) & 15], kHex[(unit >> 4) & 15], kHex[unit & 15] };
    out.append(escape, sizeof escape);
}

// Decodes the UTF-8 sequence at text[i]; returns the code point and advances i, or U+FFFD for a
// byte that does not start a well-formed sequence (advancing past that byte only).
std::uint32_t decode(const std::string& text, std::size_t& i)
{
    constexpr std::uint32_t kReplacement = 0xFFFD;
    const auto byte = [&](std::size_t at) { return static_cast<unsigned char>(text[at]); };
    const unsigned char lead = byte(i);
    std::size_t length;
    std::uint32_t point, minimum;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, point = lead & 0x1F, minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, point = lead & 0x0F, minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, point = lead & 0x07, minimum = 0x10000;
    } else {
        ++i;
        return kReplacement;
    }
    if (i + length > text.size()) {
        ++i;
        return kReplacement;
    }
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) {
            ++i;
            return kReplacement;
        }
        point = (point << 6) | (byte(i + k) & 0x3F);
    }
    if (point < minimum || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) {
        ++i;
        return kReplacement;
    }
    i += length;
    return point;
}

}  // namespace

void makeASCIIJSON(std::string& text)
{
    std::size_t i = nextNonASCII(text, 0);
    if (i == text.size())
        return;
    std::string out;
    // Most non-ASCII text is two or three bytes per character, which become six or twelve.
    out.reserve(text.size() + (text.size() - i) / 4);
    std::size_t copied = 0;  // text before this is in `out`
    while (i < text.size()) {
        out.append(text, copied, i - copied);
        std::uint32_t point = decode(text, i);
        if (point >= 0x10000) {
            point -= 0x10000;
            appendUnit(out, 0xD800 + (point >> 10));
            appendUnit(out, 0xDC00 + (point & 0x3FF));
        } else {
            appendUnit(out, point);
        }
        copied = i;
        i = nextNonASCII(text, i);
    }
    out.append(text, copied, std::string::npos);
    text.swap(out);
}

}  // namespace quorvane
