#include "quorvane/shell/BridgeMessage.hpp"

#include <boost/json/parse.hpp>
#include <glib.h>

#include "quorvane/CharacterCard.hpp"
#include "quorvane/holders/GLibHolders.hpp"

namespace quorvane {

// The largest card the application reads crosses the bridge as Base64 inside an "importCard"
// command, with room to spare for the rest of the message.
static_assert(kBridgeMessageByteLimit >= 2 * ((kCardFileByteLimit + 2) / 3 * 4),
    "a character card at its cap must fit in one bridge message");

bool uriAddressesFile(std::string_view uri, const std::filesystem::path& indexFile)
{
    GErrorHolder error;
    GUri* parsed = g_uri_parse(std::string(uri).c_str(), G_URI_FLAGS_NONE, error.out());
    if (!parsed)
        return false;
    bool matches = false;
    const char* scheme = g_uri_get_scheme(parsed);
    const char* host = g_uri_get_host(parsed);
    const char* path = g_uri_get_path(parsed);  // percent-decoded
    if (scheme && g_ascii_strcasecmp(scheme, "file") == 0 && (!host || !*host || g_strcmp0(host, "localhost") == 0)
        && path && *path == '/') {
        matches = std::filesystem::path(path).lexically_normal() == indexFile.lexically_normal();
    }
    g_uri_unref(parsed);
    return matches;
}

std::optional<PageMessage> parseBridgeMessage(std::string_view text, const std::filesystem::path& indexFile)
{
    if (text.size() > kBridgeMessageByteLimit)
        return std::nullopt;
    boost::system::error_code error;
    boost::json::value relayed = boost::json::parse(text, error);
    if (error || !relayed.is_object())
        return std::nullopt;
    const auto& envelope = relayed.get_object();
    const auto* href = envelope.if_contains("href");
    const auto* body = envelope.if_contains("message");
    if (!href || !href->is_string() || !body || !body->is_object())
        return std::nullopt;
    if (!uriAddressesFile(href->get_string(), indexFile))
        return std::nullopt;
    const auto& message = body->get_object();
    const auto* id = message.if_contains("id");
    const auto* command = message.if_contains("command");
    if (!id || !id->is_string() || !command || !command->is_string())
        return std::nullopt;
    PageMessage out { std::string(id->get_string()), std::string(command->get_string()), {} };
    if (const auto* data = message.if_contains("data"); data && data->is_object())
        out.data = data->get_object();
    return out;
}

}  // namespace quorvane
