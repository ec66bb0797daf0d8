#pragma once

// The update machinery that AppUpdater drives. On Linux there is no update framework, so this is
// our own seam: a driver makes an updater controller for the bundle (created without starting its
// updater), the controller starts the updater and runs user-initiated checks, and the updater
// exposes observable canCheckForUpdates and automaticallyChecksForUpdates. The driver reports
// back through two delegates, which it holds weakly: it must never call into an updater that is
// gone. The real driver is AppcastUpdateDriver; tests use a fake.

#include <memory>
#include <optional>
#include <string>

#include "quorvane/updates/AppBundle.hpp"
#include "quorvane/updates/Observation.hpp"

namespace quorvane {

// An error that ended an update cycle: a domain, a code and a sentence for the log.
struct UpdateError {
    std::string domain;
    int code = 0;
    std::string message;

    // The domain of the drivers' own errors and the codes that have a meaning of their own.
    static constexpr const char* domainName = "local.vemir.quorvane.updates";
    static constexpr int appcastParseError = 1000;  // the feed is not a readable appcast
    static constexpr int noUpdateError = 1001;  // the check found nothing newer
    static constexpr int appcastError = 1002;  // the feed could not be fetched
    static constexpr int invalidFeedURLError = 4;  // the feed address cannot be used
    static constexpr int installationCanceledError = 4007;

    bool operator==(const UpdateError&) const = default;
};

// The newest item of a feed, as offered to the user.
struct UpdateItem {
    std::string version;  // the machine version the comparison uses
    std::string displayVersion;  // the version shown to the user
    bool critical = false;
    std::optional<std::string> releasePage;  // an https page about the release, if the feed names one

    bool operator==(const UpdateItem&) const = default;
};

enum class UpdateCheck { updates, updatesInBackground };

struct UserUpdateState {
    bool userInitiated = false;
};

class UpdaterDelegate {
public:
    virtual ~UpdaterDelegate() = default;
    // The end of an update cycle: no error when it ran its course, noUpdateError when nothing
    // newer was found, installationCanceledError when the user turned the update down; any
    // other error is a failure.
    virtual void didFinishUpdateCycle(UpdateCheck check, const std::optional<UpdateError>& error) = 0;
};

class UserDriverDelegate {
public:
    virtual ~UserDriverDelegate() = default;
    virtual bool supportsGentleScheduledUpdateReminders() const = 0;
    // Whether an update found by a scheduled check is brought to the user at once.
    virtual bool shouldHandleShowingScheduledUpdate(const UpdateItem& update, bool immediateFocus) = 0;
    virtual void willHandleShowingUpdate(
        bool handleShowingUpdate, const UpdateItem& update, const UserUpdateState& state)
        = 0;
    virtual void willFinishUpdateSession() = 0;
};

class Updater {
public:
    virtual ~Updater() = default;
    virtual bool canCheckForUpdates() const = 0;
    virtual bool automaticallyChecksForUpdates() const = 0;
    virtual void setAutomaticallyChecksForUpdates(bool enabled) = 0;
    // Each observer is called at once with the current value, then after every change.
    [[nodiscard]] virtual Observation observeCanCheckForUpdates(std::function<void(bool)> observer) = 0;
    [[nodiscard]] virtual Observation observeAutomaticallyChecksForUpdates(std::function<void(bool)> observer) = 0;
};

class UpdaterController {
public:
    virtual ~UpdaterController() = default;
    // Starts the updater; the error says why it cannot run.
    virtual std::optional<UpdateError> startUpdater() = 0;
    // A user-initiated check.
    virtual void checkForUpdates() = 0;
    virtual Updater& updater() = 0;
};

class UpdateDriver {
public:
    virtual ~UpdateDriver() = default;
    // A controller for the bundle whose updater is not started yet.
    virtual std::unique_ptr<UpdaterController> makeController(const AppBundle& bundle,
        std::weak_ptr<UpdaterDelegate> updaterDelegate, std::weak_ptr<UserDriverDelegate> userDriverDelegate)
        = 0;
};

}  // namespace quorvane
