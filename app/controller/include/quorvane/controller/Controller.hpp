#pragma once

// The Controller: sole owner of the decrypted vault at run time. It publishes the state the
// interface page shows (ClientState), applies every vault change through one transaction that
// saves before it commits, keeps storage health, copies the Dot profile picture into the primary
// bot, and runs the loop that drives the active account's requests through the Dot page.
//
// Vault changes. transaction(body) runs `body` on a copy of the vault; an unchanged copy is
// dropped without saving or publishing; a changed one is saved through the store and only then
// becomes the vault. A failed save marks storage unhealthy and keeps the last saved vault: from
// then on every transaction is refused, and the run loop idles, until retryStorage() saves
// again. The vault is only ever read from outside (vault()).
//
// Start. A controller starts from opened storage (OpenedStorage.hpp): the store, and the vault
// loaded, tidied, recovered and saved once. Constructed from its services alone it opens the
// storage itself; the shell opens it on a worker thread and hands it in. Storage that failed to
// open leaves storage unhealthy with the "couldn't be opened" sentence and nothing on disk
// changed; the vault in memory is then either the loaded one (the start-up save failed:
// retryStorage() can save it) or, when there is no store or nothing could be loaded, a fresh
// placeholder that nothing can ever save (there is no store to save it to).
//
// Fields. The run-time fields that commands and the application shell read or set (connection,
// issue, busy, stopRequests, liveReply, candidate, lastState, onChange, systemDark and the
// run loop's bookkeeping) are public data, as the dispatcher works with them directly; what
// needs an invariant (the vault, the store, storage health, the transport, the held power
// activity, the tasks) is private behind the operations below.
//
// Lifetimes. Every task (the loop, page-change turns, avatar synchronisation) belongs to the
// controller's TaskScope: destroying the controller destroys them where they stand, so none ever
// resumes into a dead controller. The transport's change callback holds a weak token. Do not
// destroy the controller from inside one of its own callbacks (onChange).
//
// Everything runs on the main thread; only openStorage, before the controller exists, may run
// on another.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

#include <boost/json/object.hpp>

#include "quorvane/Vault.hpp"
#include "quorvane/async/Lifetime.hpp"
#include "quorvane/async/TaskScope.hpp"
#include "quorvane/controller/ClientState.hpp"
#include "quorvane/controller/ControllerServices.hpp"
#include "quorvane/controller/MessageSearch.hpp"
#include "quorvane/controller/OpenedStorage.hpp"

namespace quorvane {

// Where a date field of the run loop starts: long before anything it is compared with.
inline constexpr Date kDistantPast = -63'113'904'000.0;

class Controller {
public:
    explicit Controller(ControllerServices services);
    Controller(ControllerServices services, OpenedStorage storage);
    ~Controller();
    Controller(const Controller&) = delete;
    Controller& operator=(const Controller&) = delete;

    // ---- Life cycle ----------------------------------------------------------------------------

    // Starts the run loop (a turn, then 0.5 s of rest, until stop()); a second call does nothing.
    void start();
    // Stops watching the page, ends every task of the controller and shuts the transport down.
    void stop();
    // Opens the active account's conversation, shows the Dot window and starts watching the
    // page; with unhealthy storage it only publishes.
    void connect();
    // Brings the Dot window to the front (and back into the accessibility tree).
    void showDot();

    // ---- Commands of the interface page --------------------------------------------------------

    // Runs one command of the interface page with its arguments, as the page sent them (see
    // CommandDispatcher.cpp). A command that was carried out publishes the state, forced, even
    // when nothing changed; one that no longer applies (another account, a repeated send, a
    // stale read) returns quietly without publishing; a refused one throws the sentence to show
    // (AppFailure, or the store's error for "retryStorage") and leaves the vault as it was.
    void perform(std::string_view command, const boost::json::object& data);

    // Makes the account `id` active, or a new account when `id` is absent, with a fresh Dot page
    // for it, then connects. Refused while the active account has requests: AppFailure "Wait for
    // pending replies before switching accounts.". While a turn runs (it is reading the current
    // account's page, which happens twice a second whether or not anything is pending) the
    // switch is checked now and made as the turn ends (pendingSwitch); a failure then becomes
    // the issue.
    void switchAccount(const std::optional<std::string>& id);

    // ---- State and vault changes -------------------------------------------------------------

    // The state as the page would see it now.
    ClientState snapshot() const;
    // Offers a file the controller made to the user (FileSaver). When the answer arrives, a
    // failure's sentence becomes fileIssue and is published; a saved file clears it; a
    // cancelled dialog changes nothing. Nothing of the vault is involved, so a failure loses
    // nothing: the user can offer the same file again.
    void offerFile(FileOffer offer);

    // Hands snapshot() to onChange and keeps it as lastState; unless forced, only when it
    // differs from lastState.
    void publish(bool force);

    // Runs body(Vault&) on a copy of the vault and commits the copy (see the header comment).
    // Throws AppFailure "Local storage is unavailable. Reopen Quorvane before continuing." while
    // storage is unhealthy, whatever `body` throws (nothing changes), or AppFailure "Your
    // conversation couldn’t be saved. Sending is paused; your visible draft is still here."
    // when the save fails.
    template <class Body>
    void transaction(Body&& body)
    {
        Vault copy = beginTransaction();
        std::forward<Body>(body)(copy);
        commit(std::move(copy));
    }

    // Saves the vault again and, when that works, makes storage healthy. Throws AppFailure
    // "Reopen Quorvane after unlocking your keyring." without a store, or the store's own error
    // (nothing changes then).
    void retryStorage();

    // Makes the Dot profile picture at `source` the image of the primary bot of account
    // `accountID`: a data URL is decoded, an https address on a Dot host is fetched; the picture
    // becomes a 256-pixel thumbnail. A late result lands only while that account is still active
    // and `source` is still the latest avatar source. Every failure is silent.
    Task<void> syncAvatar(std::string source, std::string accountID);

    // ---- For the command dispatcher -----------------------------------------------------------

    // Applies the stop requests: each request that still has a job keeps what its live reply
    // showed so far and stops waiting. Run by the loop at the end of every turn, and by
    // "stopWaiting" at once when no turn is running.
    void finishStopRequests();
    // Makes the switch asked for during a turn (pendingSwitch); run as every turn ends.
    void finishPendingSwitch();

    // After the active account changed: forgets everything the run loop knew about the old
    // account's page, replaces the transport with a new one for the new account's browser
    // profile, ends the avatar task and the power activity, and publishes the state of a
    // disconnected, unobserved page (forced). The caller then connects.
    void resetForActiveAccount();

    const Vault& vault() const { return vault_; }
    bool storageHealthy() const { return storageHealthy_; }
    bool hasStore() const { return store_ != nullptr; }
    DotTransport& browser() { return *browser_; }
    Pasteboard& pasteboard() { return services_.pasteboard; }
    FileSaver& files() { return services_.files; }
    bool holdsPowerActivity() const { return power_ != nullptr; }
    Date now() const { return services_.now(); }

    // ---- Run-time fields -----------------------------------------------------------------------

    ConnectionStatus connection = ConnectionStatus::disconnected;
    std::string issue;  // the current problem sentence, empty when none
    std::string fileIssue;  // why the last offered file was not saved, until dismissed or saved
    bool busy = false;  // a turn is running
    bool observing = false;  // the page should be watched
    std::string candidate;  // the last reply reading waiting to become stable
    Date candidateSince = kDistantPast;
    std::optional<ChatMessage> liveReply;  // the reply being written right now
    std::optional<SearchResults> search;  // the user's last search, shown until cleared
    MessageSearch searcher;  // keeps the search forms of the history between searches
    std::unordered_set<std::string> stopRequests;  // requests whose waiting the user stopped
    // A switch asked for during a turn, made when the turn ends: the account id, or none for a
    // new account.
    std::optional<std::optional<std::string>> pendingSwitch;
    std::optional<std::vector<DotMessage>> lastRemoteMessages;  // page messages at the last reconciliation
    std::int64_t lastWatchCount = -1;  // reply watches at the last reconciliation
    std::string avatarSource;  // the page avatar last handed to avatar synchronisation
    std::optional<Date> recoveryStarted;  // start of the current recovery episode
    Date nextRecovery = kDistantPast;  // earliest next reload
    int recoveryAttempts = 0;  // reloads in the current episode
    std::string lastRemoteDraft;  // the Dot composer's text in the last snapshot
    std::optional<Date> loadingSince;  // when the page was first seen loading
    Date lastReplyRefresh = kDistantPast;  // the last reload made to refresh a slow reply
    std::optional<ClientState> lastState;  // what was last handed to onChange
    std::function<void(const ClientState&)> onChange;
    bool systemDark = false;

private:
    void attachTransport();
    Vault beginTransaction() const;
    void commit(Vault&& copy);

    void startAvatarSync(std::string source);
    void cancelAvatarSync();

    // The run loop (one turn: cycle; its steps: turn, advanceQueued, sendFirst, observe).
    Task<void> runLoop();
    Task<void> guardedCycle();
    Task<void> cycle();
    Task<void> turn();
    Task<void> advanceQueued(const PendingRequest& first, const DotSnapshot& snapshot);
    Task<void> sendFirst(std::string id, bool alreadyPlaced);
    Task<void> observe(const PendingRequest& first, const DotSnapshot& snapshot);
    template <class Body>
    void turnTransaction(Body&& body);
    void repairConnection();
    void noticeFiledReply(const PendingRequest& job);
    bool composerBlocksReload() const;
    void endTurn();
    void updatePowerActivity();
    void noteUnexpected(const std::string& message);

    ControllerServices services_;
    Vault vault_;
    std::unique_ptr<VaultStorage> store_;
    bool storageHealthy_ = true;
    std::unique_ptr<DotTransport> browser_;
    std::unique_ptr<PowerActivity::Hold> power_;
    TaskHandle loop_;
    TaskHandle avatarTask_;
    std::unordered_set<std::string> unexpectedFailures_;  // logged once each
    Lifetime lifetime_;  // the transport's change callback holds its token
    TaskScope tasks_;  // last, so its tasks go first when the controller is destroyed
};

}  // namespace quorvane
