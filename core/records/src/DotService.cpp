#include "quorvane/DotService.hpp"

#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>

#include <boost/json/parse.hpp>
#include <boost/json/value.hpp>

namespace quorvane {

namespace {

bool isHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// host or host:port, host made of letters, digits, '-' and '.', port of 1 to 5 digits.
bool isAuthority(std::string_view text)
{
    auto colon = text.find(':');
    std::string_view host = text.substr(0, colon);
    if (host.empty())
        return false;
    for (char c : host)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.'))
            return false;
    if (colon == std::string_view::npos)
        return true;
    std::string_view port = text.substr(colon + 1);
    if (port.empty() || port.size() > 5)
        return false;
    for (char c : port)
        if (c < '0' || c > '9')
            return false;
    return true;
}

// "home" or a hyphenated UUID of hexadecimal digits in either case.
bool isConversationName(std::string_view name)
{
    if (name == "home")
        return true;
    if (name.size() != 36)
        return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        bool hyphen = i == 8 || i == 13 || i == 18 || i == 23;
        if (hyphen ? name[i] != '-' : !isHexDigit(name[i]))
            return false;
    }
    return true;
}

std::unique_ptr<DotService>& installed()
{
    static std::unique_ptr<DotService> service;
    return service;
}

}  // namespace

DotService DotService::load(const std::filesystem::path& file)
{
    auto fail = [&](const std::string& problem) -> DotServiceError {
        return DotServiceError("The Dot service configuration " + file.string() + " " + problem);
    };
    std::ifstream in(file, std::ios::binary);
    if (!in)
        throw fail("could not be read.");
    std::stringstream contents;
    contents << in.rdbuf();

    boost::json::error_code error;
    boost::json::value value = boost::json::parse(contents.str(), error);
    if (error)
        throw fail("is not valid JSON (" + error.message() + ").");
    const auto* object = value.if_object();
    if (!object)
        throw fail("must hold a JSON object.");

    auto text = [&](const char* key, bool required) -> std::string {
        const auto* found = object->if_contains(key);
        if (!found) {
            if (required)
                throw fail(std::string("has no \"") + key + "\".");
            return {};
        }
        if (!found->is_string())
            throw fail(std::string("has a \"") + key + "\" that is not a string.");
        return std::string(found->get_string());
    };

    DotService service;
    service.mainHost = text("mainHost", true);
    service.staticHost = text("staticHost", true);
    service.userContentHost = text("userContentHost", true);
    service.companyHost = text("companyHost", true);
    service.homePath = text("homePath", true);
    for (const auto* host : { &service.mainHost, &service.staticHost, &service.userContentHost, &service.companyHost })
        if (!isAuthority(*host))
            throw fail("names a host that is not a plain host name or host:port (\"" + *host + "\").");
    if (service.homePath.empty() || service.homePath.front() != '/'
        || service.homePath.find_first_of("?# ") != std::string::npos)
        throw fail("has a \"homePath\" that is not an absolute path.");
    std::string certificate = text("trustedCertificate", false);
    if (!certificate.empty()) {
        std::filesystem::path path(certificate);
        service.trustedCertificate = path.is_absolute() ? path : file.parent_path() / path;
    }
    return service;
}

std::filesystem::path DotService::configurationFile(const std::filesystem::path& dataDirectory)
{
    if (const char* named = std::getenv("QUORVANE_DOT_SERVICE"); named && *named)
        return named;
    return dataDirectory / "dot-service.json";
}

void DotService::install(DotService service) { installed() = std::make_unique<DotService>(std::move(service)); }

const DotService& DotService::current()
{
    if (!installed())
        throw DotServiceError("The Dot service configuration has not been loaded.");
    return *installed();
}

std::string DotService::homeURL() const { return "https://" + mainHost + homePath; }

bool validDotURL(std::string_view text, const DotService& service)
{
    constexpr std::string_view scheme = "https://";
    if (!text.starts_with(scheme))
        return false;
    text.remove_prefix(scheme.size());
    // Any query or fragment, even an empty one, disqualifies the address.
    if (text.find_first_of("?#") != std::string_view::npos)
        return false;
    auto slash = text.find('/');
    if (slash == std::string_view::npos)
        return false;
    std::string_view authority = text.substr(0, slash);
    std::string_view path = text.substr(slash);

    // Credentials in a stored address are never legitimate, so userinfo is refused outright.
    if (!isAuthority(authority))
        return false;
    bool sameAuthority = authority == service.mainHost
        || (service.mainHost.find(':') == std::string::npos && authority == service.mainHost + ":443");
    if (!sameAuthority)
        return false;

    // Conversations live under the home path: <homePath>/home and <homePath>/<UUID>. The home
    // path may be written with or without its final slash.
    std::string_view home = service.homePath;
    if (home.ends_with('/'))
        home.remove_suffix(1);
    if (!path.starts_with(home) || path.substr(home.size(), 1) != "/")
        return false;
    path.remove_prefix(home.size() + 1);
    if (path.ends_with('/'))
        path.remove_suffix(1);
    return isConversationName(path);
}

bool validDotURL(std::string_view text) { return validDotURL(text, DotService::current()); }

}  // namespace quorvane
