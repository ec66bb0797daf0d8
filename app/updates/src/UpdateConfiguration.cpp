#include "quorvane/updates/UpdateConfiguration.hpp"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include <glib.h>

namespace quorvane::UpdateConfiguration {
namespace {

std::optional<std::string_view> stringValue(const boost::json::object& info, std::string_view key)
{
    const boost::json::value* value = info.if_contains(key);
    if (!value || !value->is_string())
        return std::nullopt;
    return std::string_view(value->get_string());
}

bool isSecureFeedAddress(std::string_view text)
{
    // GUri lower-cases the scheme it reports; the address must say "https" itself.
    if (!text.starts_with("https:"))
        return false;
    // GUri lets spaces and control characters through; no address written out properly has them.
    for (char c : text)
        if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7f)
            return false;
    std::string address(text);
    GError* error = nullptr;
    GUri* uri = g_uri_parse(address.c_str(), G_URI_FLAGS_NONE, &error);
    if (!uri) {
        g_clear_error(&error);
        return false;
    }
    const char* host = g_uri_get_host(uri);
    // Any user information, even an empty one ("https://@host"), would be sent along or
    // mistaken for a host by some reader; the address must not carry it.
    bool valid = host && *host && !g_uri_get_userinfo(uri);
    g_uri_unref(uri);
    return valid;
}

// The number of bytes the standard (padded, strict) Base64 text decodes to, or nothing when it
// is not such a text.
std::optional<std::size_t> base64DecodedLength(std::string_view text)
{
    if (text.size() % 4 != 0)
        return std::nullopt;
    std::size_t padding = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        bool alphabet
            = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
        if (c == '=') {
            // Padding only closes the text, at most two characters of it.
            if (i < text.size() - 2)
                return std::nullopt;
            ++padding;
        } else if (!alphabet || padding > 0) {
            return std::nullopt;
        }
    }
    return text.size() / 4 * 3 - padding;
}

}  // namespace

bool isValid(const boost::json::object& info)
{
    auto feed = stringValue(info, "SUFeedURL");
    if (!feed || !isSecureFeedAddress(*feed))
        return false;
    auto key = stringValue(info, "SUPublicEDKey");
    if (!key)
        return false;
    auto length = base64DecodedLength(*key);
    return length && *length == 32;
}

}  // namespace quorvane::UpdateConfiguration
