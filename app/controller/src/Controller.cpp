// The controller's construction and life cycle: opening the storage, the first transport,
// start, stop, connect, and the reset after an account switch.

#include "quorvane/controller/Controller.hpp"

#include <glib.h>

#include "NoPageTransport.hpp"
#include "Sentences.hpp"
#include "quorvane/AppFailure.hpp"
#include "quorvane/SecureStore.hpp"

namespace quorvane {

std::unique_ptr<VaultStorage> openDefaultStore() { return std::make_unique<SecureStore>(); }

Controller::Controller(ControllerServices services)
    : Controller(services, openStorage(services.openStore))
{
}

Controller::Controller(ControllerServices services, OpenedStorage storage)
    : services_(std::move(services))
    , vault_(std::move(storage.vault))
    , store_(std::move(storage.store))
    , storageHealthy_(storage.healthy)
{
    if (!storageHealthy_)
        issue = sentences::historyCouldNotBeOpened;
    if (store_)
        browser_ = services_.transports.make(vault_.account().browserProfile);
    else
        browser_ = std::make_unique<NoPageTransport>();
    attachTransport();
    const Account& account = vault_.account();
    if (account.connectedOnce && storageHealthy_) {
        browser_->open(account.dotURL);
        observing = true;
        connection = ConnectionStatus::connecting;
    }
}

Controller::~Controller() = default;

// Load, tidy, save. Nothing here writes unless the load worked, and the only write is the
// store's own atomic save, so a failed start leaves the file as it was.
OpenedStorage openStorage(const std::function<std::unique_ptr<VaultStorage>()>& openStore)
{
    OpenedStorage opened;
    Vault loaded;
    try {
        opened.store = openStore ? openStore() : nullptr;
        if (!opened.store)
            throw AppFailure(sentences::historyCouldNotBeOpened);
        loaded = opened.store->load();
        // A store that hands back no account at all has nothing a controller could show.
        if (loaded.accounts.empty())
            throw AppFailure(sentences::historyCouldNotBeOpened);
    } catch (...) {
        // The user sees the sentence; the log keeps the reason (a locked keyring, an unreadable
        // file) for whoever has to find out why.
        std::string reason = "an unknown failure";
        try {
            throw;
        } catch (const std::exception& failure) {
            reason = failure.what();
        } catch (...) {
        }
        g_log("Quorvane", G_LOG_LEVEL_WARNING, "The vault could not be opened: %s", reason.c_str());
        // Never saved: without a store every transaction and retry is refused.
        return OpenedStorage { nullptr, Vault::fresh(), false };
    }

    opened.vault = loaded;
    try {
        Vault tidied = std::move(loaded);
        for (Account& account : tidied.accounts) {
            account.removeUnusedStarterBots();
            account.recover();
        }
        opened.vault = std::move(tidied);
        opened.store->save(opened.vault);
        opened.healthy = true;
    } catch (...) {
    }
    return opened;
}

void Controller::attachTransport()
{
    browser_->setOnChange(weakCallback(lifetime_.token(), [this] { tasks_.spawn(guardedCycle()); }));
}

void Controller::start()
{
    if (loop_.running())
        return;
    loop_ = tasks_.spawn(runLoop());
}

void Controller::stop()
{
    observing = false;
    // Page-change turns end with the loop: after stop nothing may act on the page any more.
    tasks_.cancelAll();
    loop_ = {};
    avatarTask_ = {};
    browser_->shutdown();
}

void Controller::connect()
{
    if (!storageHealthy_) {
        publish(false);
        return;
    }
    browser_->open(vault_.account().dotURL);
    showDot();
    observing = true;
    connection = ConnectionStatus::connecting;
    issue.clear();
    publish(false);
}

void Controller::showDot() { browser_->show(); }

void Controller::resetForActiveAccount()
{
    recoveryStarted.reset();
    recoveryAttempts = 0;
    nextRecovery = kDistantPast;
    lastRemoteDraft.clear();
    cancelAvatarSync();

    browser_->shutdown();
    browser_ = services_.transports.make(vault_.account().browserProfile);
    attachTransport();
    candidate.clear();
    liveReply.reset();
    search.reset();
    avatarSource.clear();
    lastRemoteMessages.reset();
    lastWatchCount = -1;
    loadingSince.reset();
    power_.reset();

    connection = ConnectionStatus::disconnected;
    issue.clear();
    observing = false;
    lastState = snapshot();
    if (onChange)
        onChange(*lastState);
}

}  // namespace quorvane
