// The controller's state: what the page is shown (snapshot, publish), and the one way the vault
// changes (transaction) with the storage health that guards it.

#include "Sentences.hpp"
#include "quorvane/AppFailure.hpp"
#include "quorvane/controller/Controller.hpp"

namespace quorvane {

namespace {
constexpr std::string_view kDefaultLabel = "Your Dot";
constexpr std::string_view kNumberedLabel = "Dot connection ";
}  // namespace

ClientState Controller::snapshot() const
{
    ClientState state;
    state.account = vault_.account();
    state.theme = vault_.theme;
    state.appIconStyle = vault_.appIconStyle.value_or(AppIconStyle::quorvane);
    state.connection = connection;
    state.issue = issue;
    state.fileIssue = fileIssue;
    state.storageHealthy = storageHealthy_;
    state.systemDark = systemDark;
    state.accounts.reserve(vault_.accounts.size());
    for (std::size_t n = 0; n < vault_.accounts.size(); ++n) {
        const Account& account = vault_.accounts[n];
        Text name = account.label == kDefaultLabel ? Text(std::string(kNumberedLabel) + std::to_string(n + 1))
                                                   : account.label;
        state.accounts.push_back(SavedAccount { account.id, name, account.id == vault_.activeAccount });
    }
    state.liveReply = liveReply;
    state.search = search;
    if (liveReply) {
        const auto& jobs = state.account.jobs;
        auto job = std::find_if(
            jobs.begin(), jobs.end(), [&](const PendingRequest& j) { return liveReply->id == j.id + "-reply"; });
        if (job != jobs.end())
            state.liveReplies = state.account.projectedReplies(*liveReply, *job);
        else
            state.liveReplies = { *liveReply };
    }
    return state;
}

void Controller::offerFile(FileOffer offer)
{
    // The dialog is the user's: the answer may come after a switch of account, or after this
    // controller has gone. The sentence belongs to the whole application, not to an account,
    // so it is kept whichever account is active by then.
    services_.files.offer(std::move(offer), weakCallback(lifetime_.token(), [this](FileOfferOutcome outcome) {
        if (outcome.failure)
            fileIssue = *outcome.failure;
        else if (outcome.saved)
            fileIssue.clear();
        else
            return;  // cancelled: whatever was shown stays
        publish(false);
    }));
}

void Controller::publish(bool force)
{
    ClientState state = snapshot();
    if (!force && lastState && *lastState == state)
        return;
    lastState = state;
    if (onChange)
        onChange(state);
}

Vault Controller::beginTransaction() const
{
    if (!storageHealthy_ || !store_)
        throw AppFailure(sentences::storageUnavailable);
    return vault_;
}

void Controller::commit(Vault&& copy)
{
    if (copy == vault_)
        return;
    try {
        store_->save(copy);
    } catch (...) {
        // The copy is dropped: the vault in memory stays the one last saved.
        storageHealthy_ = false;
        issue = sentences::saveFailed;
        // The run loop idles from now on and ends no more turns, so nothing else would let the
        // machine sleep again until storage is retried.
        updatePowerActivity();
        publish(false);
        throw AppFailure(sentences::saveFailed);
    }
    vault_ = std::move(copy);
    publish(false);
}

void Controller::retryStorage()
{
    if (!store_)
        throw AppFailure(sentences::reopenAfterUnlocking);
    store_->save(vault_);
    storageHealthy_ = true;
    issue.clear();
    publish(false);
}

}  // namespace quorvane
