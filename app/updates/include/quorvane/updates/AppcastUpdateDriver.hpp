#pragma once

// The update driver for Linux. There is no update framework here and installing is the system
// package manager's job, so this driver only finds out whether there is something newer: it
// fetches the appcast named by SUFeedURL over https (libsoup), takes its newest item and
// compares it with CFBundleShortVersionString. A newer item is offered (its display version,
// critical flag and release page); otherwise the check ends with noUpdateError, or with an
// error when the feed cannot be fetched or read. It never downloads or installs anything.
// Redirects are followed only as long as the feed still comes over https, and a feed larger
// than 1 MB is an error, not something to keep reading.
//
// An offered update stays offered until a later check finds nothing newer or fails; that ends
// its session. canCheckForUpdates is false while a fetch is under way. With automatic checks on
// (SUEnableAutomaticChecks in Info.json; the switch is kept for the running process) the
// driver checks in the background at start and every SUScheduledCheckInterval seconds (one day
// by default, at least one hour).
//
// Fetches run on the thread-default main context of the thread that starts the updater.
// Dropping a controller cancels its fetch; nothing is reported after that.

#include <filesystem>
#include <memory>
#include <optional>

#include "quorvane/updates/UpdateDriver.hpp"

namespace quorvane {

struct AppcastUpdateDriverOptions {
    // When set, the feed's certificate is checked against the certificates in this PEM file
    // instead of the system's trust store (a private authority, or a test's own certificate).
    // Checks are never turned off.
    std::optional<std::filesystem::path> trustedCertificates;
};

class AppcastUpdateDriver final : public UpdateDriver {
public:
    explicit AppcastUpdateDriver(AppcastUpdateDriverOptions options = {});

    std::unique_ptr<UpdaterController> makeController(const AppBundle& bundle,
        std::weak_ptr<UpdaterDelegate> updaterDelegate, std::weak_ptr<UserDriverDelegate> userDriverDelegate) override;

private:
    AppcastUpdateDriverOptions options_;
};

}  // namespace quorvane
