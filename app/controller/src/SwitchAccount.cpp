// Switching the Dot connection (account): the vault's choice first, saved like any change, then a
// fresh page for the account that is now active.

#include "Sentences.hpp"
#include "quorvane/AppFailure.hpp"
#include "quorvane/controller/Controller.hpp"

namespace quorvane {

void Controller::switchAccount(const std::optional<std::string>& id)
{
    // A turn in progress, or a request still on its way, belongs to the page of the current
    // account; replacing that page now would lose track of it.
    if (busy || !vault_.account().jobs.empty())
        throw AppFailure(sentences::waitBeforeSwitching);
    transaction([&](Vault& vault) {
        if (id)
            vault.selectAccount(*id);
        else
            vault.newAccount();
    });
    resetForActiveAccount();
    connect();
}

}  // namespace quorvane
