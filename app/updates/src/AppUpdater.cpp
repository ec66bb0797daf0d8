#include "quorvane/updates/AppUpdater.hpp"

#include <glib.h>

#include "quorvane/updates/UpdateConfiguration.hpp"

namespace quorvane {

// The object the driver and the main-loop callbacks hold weakly. It outlives nothing: the
// AppUpdater owns the only strong reference and clears `owner` when it goes.
class AppUpdater::Delegate final : public UpdaterDelegate, public UserDriverDelegate {
public:
    explicit Delegate(AppUpdater* owner)
        : owner(owner)
    {
    }

    void didFinishUpdateCycle(UpdateCheck, const std::optional<UpdateError>& error) override
    {
        if (owner)
            owner->updateCycleFinished(error);
    }
    bool supportsGentleScheduledUpdateReminders() const override { return true; }
    bool shouldHandleShowingScheduledUpdate(const UpdateItem& update, bool) override
    {
        // Only a critical update interrupts the user; others wait for a gentle reminder.
        return update.critical;
    }
    void willHandleShowingUpdate(bool, const UpdateItem& update, const UserUpdateState&) override
    {
        if (owner)
            owner->willShowUpdate(update);
    }
    void willFinishUpdateSession() override
    {
        if (owner)
            owner->updateSessionFinished();
    }

    AppUpdater* owner;
};

AppUpdater::AppUpdater(std::shared_ptr<UpdateDriver> driver)
    : driver_(std::move(driver))
    , delegate_(std::make_shared<Delegate>(this))
{
}

AppUpdater::~AppUpdater()
{
    delegate_->owner = nullptr;
    observations.clear();
    updaterController.reset();
}

void AppUpdater::start(const AppBundle& bundle)
{
    if (updaterController)
        return;
    state.version = Text(bundle.string("CFBundleShortVersionString").value_or(""));

    if (!UpdateConfiguration::isValid(bundle.infoDictionary.value_or(boost::json::object {}))) {
        publish();
        return;
    }

    updaterController = driver_->makeController(bundle, delegate_, delegate_);
    if (!updaterController || updaterController->startUpdater()) {
        state.status = UpdateStatus::unavailable;
        updaterController.reset();
        publish();
        return;
    }

    state.configured = true;
    state.status = UpdateStatus::idle;
    Updater& updater = updaterController->updater();
    std::weak_ptr<Delegate> token = delegate_;
    observations.push_back(updater.observeCanCheckForUpdates([token](bool) { schedulePublish(token); }));
    observations.push_back(updater.observeAutomaticallyChecksForUpdates([token](bool) { schedulePublish(token); }));
    publish();
}

void AppUpdater::checkForUpdates()
{
    if (!state.configured || !updaterController || !updaterController->updater().canCheckForUpdates())
        return;
    if (state.status != UpdateStatus::available)
        state.status = UpdateStatus::checking;
    publish();
    updaterController->checkForUpdates();
}

void AppUpdater::publish()
{
    if (updaterController && state.configured) {
        const Updater& updater = updaterController->updater();
        state.canCheck = updater.canCheckForUpdates();
        state.automaticallyChecks = updater.automaticallyChecksForUpdates();
    }
    if (onChange)
        onChange(state);
}

void AppUpdater::setAutomaticallyChecksForUpdates(bool enabled)
{
    if (!state.configured || !updaterController)
        return;
    updaterController->updater().setAutomaticallyChecksForUpdates(enabled);
    publish();
}

void AppUpdater::schedulePublish(std::weak_ptr<Delegate> token)
{
    // Observers are called synchronously from inside the driver; the publish happens later on
    // the main loop, and only if this updater still exists then.
    struct Pending {
        std::weak_ptr<Delegate> delegate;
    };
    GSource* source = g_idle_source_new();
    g_source_set_callback(
        source,
        [](gpointer data) -> gboolean {
            if (auto delegate = static_cast<Pending*>(data)->delegate.lock(); delegate && delegate->owner)
                delegate->owner->publish();
            return G_SOURCE_REMOVE;
        },
        new Pending { std::move(token) }, [](gpointer data) { delete static_cast<Pending*>(data); });
    g_source_attach(source, g_main_context_get_thread_default());
    g_source_unref(source);
}

void AppUpdater::updateCycleFinished(const std::optional<UpdateError>& error)
{
    state.availableVersion.reset();
    availableReleasePage_.reset();
    if (!error)
        state.status = UpdateStatus::idle;
    else if (error->domain == UpdateError::domainName && error->code == UpdateError::noUpdateError)
        state.status = UpdateStatus::current;
    else if (error->domain == UpdateError::domainName && error->code == UpdateError::installationCanceledError)
        state.status = UpdateStatus::idle;
    else
        state.status = UpdateStatus::error;
    publish();
}

void AppUpdater::willShowUpdate(const UpdateItem& update)
{
    state.availableVersion = Text(update.displayVersion);
    availableReleasePage_ = update.releasePage;
    state.status = UpdateStatus::available;
    publish();
}

void AppUpdater::updateSessionFinished()
{
    state.availableVersion.reset();
    availableReleasePage_.reset();
    if (state.status == UpdateStatus::available)
        state.status = UpdateStatus::idle;
    publish();
}

}  // namespace quorvane
