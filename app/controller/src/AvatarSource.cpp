#include "quorvane/controller/AvatarSource.hpp"

#include <array>
#include <charconv>

#include <glib.h>

#include "quorvane/Base64.hpp"

namespace quorvane {

namespace {

struct HostRule {
    std::string_view host;
    std::optional<int> port;
};

// "host" or "host:port" as the service configuration writes them.
std::optional<HostRule> hostRule(std::string_view configured)
{
    if (configured.empty())
        return std::nullopt;
    auto colon = configured.rfind(':');
    if (colon == std::string_view::npos || configured.find(']') != std::string_view::npos)
        return HostRule { configured, std::nullopt };
    int port = 0;
    auto digits = configured.substr(colon + 1);
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), port);
    if (error != std::errc() || end != digits.data() + digits.size())
        return std::nullopt;
    return HostRule { configured.substr(0, colon), port };
}

bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && g_ascii_strncasecmp(a.data(), b.data(), a.size()) == 0;
}

bool onHost(std::string_view host, std::string_view allowed)
{
    if (equalsIgnoringCase(host, allowed))
        return true;
    return host.size() > allowed.size() + 1 && host[host.size() - allowed.size() - 1] == '.'
        && equalsIgnoringCase(host.substr(host.size() - allowed.size()), allowed);
}

}  // namespace

bool isAvatarDataURL(std::string_view source)
{
    // Valid Base64 is ASCII, so for any text that could decode, bytes and characters agree.
    return source.starts_with(kAvatarDataURLPrefix) && source.size() <= kAvatarDataURLLimit;
}

std::optional<std::string> avatarDataURLBytes(std::string_view source)
{
    if (!isAvatarDataURL(source))
        return std::nullopt;
    return decodeBase64(source.substr(kAvatarDataURLPrefix.size()));
}

bool isAllowedAvatarAddress(std::string_view source, const DotService& service)
{
    std::string text(source);
    GUri* parsed = g_uri_parse(text.c_str(), G_URI_FLAGS_NONE, nullptr);
    if (!parsed)
        return false;
    std::string scheme = g_uri_get_scheme(parsed) ? g_uri_get_scheme(parsed) : "";
    std::string host = g_uri_get_host(parsed) ? g_uri_get_host(parsed) : "";
    int port = g_uri_get_port(parsed);
    g_uri_unref(parsed);
    if (!equalsIgnoringCase(scheme, "https") || host.empty())
        return false;

    const std::array<std::string_view, 4> configured
        = { service.mainHost, service.staticHost, service.userContentHost, service.companyHost };
    for (std::string_view entry : configured) {
        auto rule = hostRule(entry);
        if (!rule || !onHost(host, rule->host))
            continue;
        if (rule->port ? port == *rule->port : (port == -1 || port == 443))
            return true;
    }
    return false;
}

}  // namespace quorvane
