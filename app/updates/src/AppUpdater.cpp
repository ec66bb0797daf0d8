#include "quorvane/updates/AppUpdater.hpp"

#include <glib.h>

#include "quorvane/updates/UpdateConfiguration.hpp"

namespace quorvane {

// The object the driver and the main-loop callbacks hold weakly. It outlives nothing: the
// AppUpdater owns the only strong reference and clears `owner` when it goes.
class AppUpdater::Delegate final : public UpdaterDelegate, public UserDriverDelegate {
public:
    explicit Delegate(AppUpdater* owner) : owner(owner) {}

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
    observations_.clear();
    updaterController_.reset();
}

void AppUpdater::start(const AppBundle& bundle)
{
    if (updaterController_)
        return;
    state_.version = Text(bundle.string("CFBundleShortVersionString").value_or(""));

    if (!UpdateConfiguration::isValid(bundle.infoDictionary.value_or(boost::json::object {}))) {
        publish();
        return;
    }

    updaterController_ = driver_->makeController(bundle, delegate_, delegate_);
    if (!updaterController_ || updaterController_->startUpdater()) {
        state_.status = UpdateStatus::unavailable;
        updaterController_.reset();
        publish();
        return;
    }

    state_.configured = true;
    state_.status = UpdateStatus::idle;
    Updater& updater = updaterController_->updater();
    std::weak_ptr<Delegate> token = delegate_;
    observations_.push_back(updater.observeCanCheckForUpdates([token](bool) { schedulePublish(token); }));
    observations_.push_back(updater.observeAutomaticallyChecksForUpdates([token](bool) { schedulePublish(token); }));
    publish();
}

void AppUpdater::checkForUpdates()
{
    if (!state_.configured || !updaterController_ || !updaterController_->updater().canCheckForUpdates())
        return;
    if (state_.status != UpdateStatus::available)
        state_.status = UpdateStatus::checking;
    publish();
    updaterController_->checkForUpdates();
}

void AppUpdater::publish()
{
    if (updaterController_ && state_.configured) {
        const Updater& updater = updaterController_->updater();
        state_.canCheck = updater.canCheckForUpdates();
        state_.automaticallyChecks = updater.automaticallyChecksForUpdates();
    }
    if (onChange)
        onChange(state_);
}

void AppUpdater::setAutomaticallyChecksForUpdates(bool enabled)
{
    if (!state_.configured || !updaterController_)
        return;
    updaterController_->updater().setAutomaticallyChecksForUpdates(enabled);
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
        new Pending { std::move(token) },
        [](gpointer data) { delete static_cast<Pending*>(data); });
    g_source_attach(source, g_main_context_get_thread_default());
    g_source_unref(source);
}

void AppUpdater::updateCycleFinished(const std::optional<UpdateError>& error)
{
    state_.availableVersion.reset();
    availableReleasePage_.reset();
    if (!error)
        state_.status = UpdateStatus::idle;
    else if (error->domain == UpdateError::domainName && error->code == UpdateError::noUpdateError)
        state_.status = UpdateStatus::current;
    else if (error->domain == UpdateError::domainName && error->code == UpdateError::installationCanceledError)
        state_.status = UpdateStatus::idle;
    else
        state_.status = UpdateStatus::error;
    publish();
}

void AppUpdater::willShowUpdate(const UpdateItem& update)
{
    state_.availableVersion = Text(update.displayVersion);
    availableReleasePage_ = update.releasePage;
    state_.status = UpdateStatus::available;
    publish();
}

void AppUpdater::updateSessionFinished()
{
    state_.availableVersion.reset();
    availableReleasePage_.reset();
    if (state_.status == UpdateStatus::available)
        state_.status = UpdateStatus::idle;
    publish();
}

} // namespace quorvane
