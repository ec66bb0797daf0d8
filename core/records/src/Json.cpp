#include "quorvane/Json.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>

#include <boost/json/serialize.hpp>

namespace quorvane {

namespace json_detail {

namespace {
const char* kindName(const boost::json::value& value)
{
    switch (value.kind()) {
    case boost::json::kind::null:
        return "null";
    case boost::json::kind::bool_:
        return "a boolean";
    case boost::json::kind::int64:
    case boost::json::kind::uint64:
    case boost::json::kind::double_:
        return "a number";
    case boost::json::kind::string:
        return "a string";
    case boost::json::kind::array:
        return "an array";
    case boost::json::kind::object:
        return "an object";
    }
    return "an unknown value";
}
}  // namespace

void typeMismatch(const char* expected, const boost::json::value& found)
{
    throw JsonDecodeError(std::string("expected ") + expected + ", found " + kindName(found));
}

void rethrowWithKey(std::string_view key, const JsonDecodeError& error)
{
    std::string path(key);
    if (!error.path.empty())
        path.append(".").append(error.path);
    throw JsonDecodeError(error.problem, std::move(path));
}

namespace {

constexpr std::uint64_t kEveryByte = 0x0101010101010101ull;
constexpr std::uint64_t kHighBits = 0x8080808080808080ull;

// Whether any of the eight bytes needs escaping: below 0x20, '"' or '\\', and '/' when slashes
// are escaped. Each test is exact about whether some byte matches (not about which), which is
// all the scan needs.
template <bool escapeSlashes>
inline bool wordNeedsEscaping(std::uint64_t word)
{
    auto anyZeroByte = [](std::uint64_t v) { return (v - kEveryByte) & ~v & kHighBits; };
    std::uint64_t control = (word - kEveryByte * 0x20) & ~word & kHighBits;
    std::uint64_t found = control | anyZeroByte(word ^ (kEveryByte * '"')) | anyZeroByte(word ^ (kEveryByte * '\\'));
    if constexpr (escapeSlashes)
        found |= anyZeroByte(word ^ (kEveryByte * '/'));
    return found != 0;
}

template <bool escapeSlashes>
void appendEscapedString(std::string& out, std::string_view text)
{
    static constexpr char kHex[] = "0123456789abcdef";
    out.push_back('"');
    const char* const data = text.data();
    const std::size_t size = text.size();
    std::size_t runStart = 0;
    std::size_t i = 0;
    while (i < size) {
        // Most text needs no escaping at all: skip it eight bytes at a time, and look at single
        // bytes only in a word that holds something to escape, or in the last few bytes.
        while (i + 8 <= size) {
            std::uint64_t word;
            std::memcpy(&word, data + i, 8);
            if (wordNeedsEscaping<escapeSlashes>(word))
                break;
            i += 8;
        }
        for (const std::size_t stop = std::min(size, i + 8); i < stop; ++i) {
            auto c = static_cast<unsigned char>(data[i]);
            if (c >= 0x20 && c != '"' && c != '\\' && !(escapeSlashes && c == '/'))
                continue;
            out.append(data + runStart, i - runStart);
            runStart = i + 1;
            switch (c) {
            case '"':
                out.append("\\\"");
                break;
            case '\\':
                out.append("\\\\");
                break;
            case '/':
                out.append("\\/");
                break;
            case '\b':
                out.append("\\b");
                break;
            case '\f':
                out.append("\\f");
                break;
            case '\n':
                out.append("\\n");
                break;
            case '\r':
                out.append("\\r");
                break;
            case '\t':
                out.append("\\t");
                break;
            default:
                out.append("\\u00");
                out.push_back(kHex[c >> 4]);
                out.push_back(kHex[c & 0xF]);
            }
        }
    }
    out.append(data + runStart, size - runStart);
    out.push_back('"');
}

}  // namespace

void appendEscaped(std::string& out, std::string_view text, SlashEscape slashes)
{
    if (slashes == SlashEscape::backslash)
        appendEscapedString<true>(out, text);
    else
        appendEscapedString<false>(out, text);
}

void appendNumber(std::string& out, double value)
{
    if (!std::isfinite(value))
        throw std::invalid_argument("A date or number that is not finite cannot be written as JSON");
    // Negative zero would be written "-0", which reads back as the integer 0: the one number
    // whose text would change on the next save. Zero is zero for every date and number here.
    if (value == 0) {
        out.push_back('0');
        return;
    }
    char buffer[32];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

void appendInteger(std::string& out, std::int64_t value)
{
    char buffer[24];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

}  // namespace json_detail

void decodeInto(const boost::json::value& value, Text& out)
{
    const auto* string = value.if_string();
    if (!string)
        json_detail::typeMismatch("a string", value);
    out = Text(std::string_view(string->data(), string->size()));
}

void decodeInto(const boost::json::value& value, bool& out)
{
    const bool* flag = value.if_bool();
    if (!flag)
        json_detail::typeMismatch("a boolean", value);
    out = *flag;
}

void decodeInto(const boost::json::value& value, std::int64_t& out)
{
    if (const auto* number = value.if_int64()) {
        out = *number;
        return;
    }
    if (const auto* number = value.if_uint64();
        number && *number <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
        out = static_cast<std::int64_t>(*number);
        return;
    }
    // A count written as 3.0 is still the integer 3; 3.5 is not an integer.
    if (const auto* number = value.if_double();
        number && std::trunc(*number) == *number && std::fabs(*number) < 9.2e18) {
        out = static_cast<std::int64_t>(*number);
        return;
    }
    json_detail::typeMismatch("an integer", value);
}

void decodeInto(const boost::json::value& value, double& out)
{
    if (!value.is_number())
        json_detail::typeMismatch("a number", value);
    // A number past a double's range reads as infinity, which no encoder can write back: a vault
    // holding one could never be saved again.
    double number = value.to_number<double>();
    if (!std::isfinite(number))
        throw JsonDecodeError("expected a finite number, found one too large for a date or number");
    out = number;
}

void tag_invoke(boost::json::value_from_tag, boost::json::value& value, const Text& text)
{
    value = boost::json::string(text.view());
}

Text tag_invoke(boost::json::value_to_tag<Text>, const boost::json::value& value)
{
    Text out;
    decodeInto(value, out);
    return out;
}

}  // namespace quorvane
