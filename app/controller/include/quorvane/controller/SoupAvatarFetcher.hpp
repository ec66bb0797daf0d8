#pragma once

// The avatar fetcher over libsoup: one https GET per picture, on the thread-default main
// context, within AvatarFetcher's contract (a deadline for the whole fetch, a body read in
// pieces up to the limit and dropped past it).
//
// Redirects are followed by hand, at most three, and only while every hop stays https on a host
// that `allowed` accepts (the controller passes the Dot hosts), so a redirect cannot carry the
// fetch off the Dot service. Certificates are always checked: against the system's trust store,
// or against `trustedCertificate` (a PEM file) when one is given, as the simulator's is.

#include <filesystem>
#include <functional>
#include <optional>
#include <string_view>

#include "quorvane/controller/AvatarFetcher.hpp"
#include "quorvane/holders/GObjectPtr.hpp"

typedef struct _SoupSession SoupSession;

namespace quorvane {

struct SoupAvatarFetcherOptions {
    std::function<bool(std::string_view url)> allowed;  // where a redirect may lead
    std::optional<std::filesystem::path> trustedCertificate;
    double timeoutSeconds = AvatarFetcher::timeoutSeconds;  // tests shorten it
    std::size_t bodyLimit = AvatarFetcher::bodyLimit;  // tests shorten it
};

class SoupAvatarFetcher final : public AvatarFetcher {
public:
    // Throws std::runtime_error when the trusted certificate cannot be loaded.
    explicit SoupAvatarFetcher(SoupAvatarFetcherOptions options);
    ~SoupAvatarFetcher() override;

    Task<AvatarResponse> fetch(std::string url) override;

private:
    SoupAvatarFetcherOptions options_;
    GObjectPtr<SoupSession> session_;
};

}  // namespace quorvane
