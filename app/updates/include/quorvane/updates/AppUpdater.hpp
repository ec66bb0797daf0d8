#pragma once

// AppUpdater: starts the update driver when the bundle carries a valid update configuration,
// keeps AppUpdateState in line with what the driver reports, and runs user-initiated checks.
// The shell sets onChange before start() and mirrors every state it receives into the interface
// page and the "Check for Updates…" menu item.
//
// Everything runs on the GLib main loop of the thread that owns the updater. Changes of the
// updater's observed properties publish from an idle callback of the thread-default main
// context; those callbacks, and the driver, hold the AppUpdater only through a weak token, so
// destroying it at any time is safe.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "quorvane/updates/AppBundle.hpp"
#include "quorvane/updates/AppUpdateState.hpp"
#include "quorvane/updates/Observation.hpp"
#include "quorvane/updates/UpdateDriver.hpp"

namespace quorvane {

class AppUpdater {
public:
    explicit AppUpdater(std::shared_ptr<UpdateDriver> driver);
    ~AppUpdater();
    AppUpdater(const AppUpdater&) = delete;
    AppUpdater& operator=(const AppUpdater&) = delete;

    // Called once by the shell at launch, after setting onChange. A second call does nothing.
    void start(const AppBundle& bundle);
    // A user-initiated check; does nothing unless the updater runs and can check now.
    void checkForUpdates();
    // Refreshes canCheck and automaticallyChecks from the updater, then calls onChange.
    void publish();
    // The interface's automatic-updates switch.
    void setAutomaticallyChecksForUpdates(bool enabled);

    const AppUpdateState& currentState() const { return state; }
    // The release page of the update being offered, when its feed names one; the interface can
    // offer it, since installing is the package manager's job here.
    const std::optional<std::string>& availableReleasePage() const { return availableReleasePage_; }

private:
    class Delegate;
    friend class Delegate;

    static void schedulePublish(std::weak_ptr<Delegate> token);
    void updateCycleFinished(const std::optional<UpdateError>& error);
    void willShowUpdate(const UpdateItem& update);
    void updateSessionFinished();

    std::unique_ptr<UpdaterController> updaterController;
    std::vector<Observation> observations;
    AppUpdateState state;

public:
    std::function<void(const AppUpdateState&)> onChange;

private:
    std::shared_ptr<UpdateDriver> driver_;
    std::optional<std::string> availableReleasePage_;
    // The weak token: the delegate the driver holds, and the anchor of scheduled publishes.
    std::shared_ptr<Delegate> delegate_;
};

}  // namespace quorvane
