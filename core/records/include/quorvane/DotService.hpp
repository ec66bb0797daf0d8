#pragma once

// Where the outside Dot service lives. Its hosts are configuration, read from dot-service.json
// in the installed data folder, or from the file that QUORVANE_DOT_SERVICE names (the demo and
// the end-to-end tests point it at the local simulator). A malformed file is an error at start;
// there is no silent fallback to another host.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace quorvane {

struct DotService {
    std::string mainHost;  // host, or host:port, of the conversation pages
    std::string staticHost;
    std::string userContentHost;
    std::string companyHost;
    std::string homePath;  // "/dots"
    std::optional<std::filesystem::path> trustedCertificate;  // PEM accepted for mainHost

    // Reads and checks a configuration file; throws DotServiceError naming the file and fault.
    static DotService load(const std::filesystem::path& file);

    // The configuration file to use: QUORVANE_DOT_SERVICE when set, else
    // <dataDirectory>/dot-service.json.
    static std::filesystem::path configurationFile(const std::filesystem::path& dataDirectory);

    // The process-wide configuration. install() is called once at start-up (and by tests);
    // current() throws DotServiceError when nothing was installed.
    static void install(DotService service);
    static const DotService& current();

    // "https://" + mainHost + homePath
    std::string homeURL() const;

    bool operator==(const DotService&) const = default;
};

class DotServiceError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// True for an https address on the service's main host, without query or fragment, whose path
// is <homePath>/home or <homePath>/<UUID> (/dots/home, /dots/<UUID> as shipped), optionally
// with a trailing slash.
bool validDotURL(std::string_view text, const DotService& service);
bool validDotURL(std::string_view text);  // against DotService::current()

}  // namespace quorvane
