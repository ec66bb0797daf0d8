#include "quorvane/Vault.hpp"

#include <algorithm>

#include "quorvane/AppFailure.hpp"

namespace quorvane {

Vault Vault::fresh()
{
    Vault vault;
    vault.version = 1;
    vault.theme = Theme::light;
    vault.accounts = { Account::fresh() };
    vault.activeAccount = vault.accounts.front().id;
    return vault;
}

std::size_t Vault::index() const
{
    auto found
        = std::find_if(accounts.begin(), accounts.end(), [&](const Account& a) { return a.id == activeAccount; });
    return found == accounts.end() ? 0 : static_cast<std::size_t>(found - accounts.begin());
}

Account& Vault::account() { return accounts.at(index()); }
const Account& Vault::account() const { return accounts.at(index()); }

namespace {
void refuseWhileRequestsPending(const Vault& vault)
{
    if (!vault.accounts.empty() && !vault.account().jobs.empty())
        throw AppFailure("Wait for pending replies before switching accounts.");
}
}  // namespace

void Vault::newAccount()
{
    refuseWhileRequestsPending(*this);
    accounts.push_back(Account::fresh());
    activeAccount = accounts.back().id;
}

void Vault::selectAccount(std::string_view id)
{
    refuseWhileRequestsPending(*this);
    bool exists = std::any_of(accounts.begin(), accounts.end(), [&](const Account& a) { return a.id == id; });
    if (!exists)
        throw AppFailure("That saved connection is unavailable.");
    activeAccount = id;
}

}  // namespace quorvane
