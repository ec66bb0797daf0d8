// Switching the Dot connection (account): the vault's choice first, saved like any change, then a
// fresh page for the account that is now active.

#include <utility>

#include "Sentences.hpp"
#include "quorvane/AppFailure.hpp"
#include "quorvane/controller/Controller.hpp"

namespace quorvane {

void Controller::switchAccount(const std::optional<std::string>& id)
{
    // A request still on its way belongs to the page of the current account; replacing that page
    // would lose track of it.
    if (!vault_.account().jobs.empty())
        throw AppFailure(sentences::waitBeforeSwitching);
    if (busy) {
        // The turn in progress reads the current page and must finish with it. Nothing is
        // pending, so the switch only waits for the turn's end; what would refuse it later is
        // checked now (the same vault choice on a copy, and storage).
        Vault trial = vault_;
        if (id)
            trial.selectAccount(*id);
        if (!storageHealthy_ || !store_)
            throw AppFailure(sentences::storageUnavailable);
        pendingSwitch = id;
        return;
    }
    transaction([&](Vault& vault) {
        if (id)
            vault.selectAccount(*id);
        else
            vault.newAccount();
    });
    resetForActiveAccount();
    connect();
}

void Controller::finishPendingSwitch()
{
    if (!pendingSwitch)
        return;
    const std::optional<std::string> id = *std::exchange(pendingSwitch, std::nullopt);
    try {
        switchAccount(id);
    } catch (const std::exception& failure) {
        issue = failure.what();
    }
}

}  // namespace quorvane
