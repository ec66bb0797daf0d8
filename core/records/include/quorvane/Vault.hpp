#pragma once

// The whole persisted state: display settings and the accounts.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "quorvane/Account.hpp"

namespace quorvane {

struct Vault {
    std::optional<Text> appIconStyle {};  // "quorvane" or "dot"; absent: the default icon
    std::int64_t version = 1;  // the only format version written and accepted
    Text theme {};  // "light", "dark" or "system"
    Text activeAccount {};
    std::vector<Account> accounts {};

    // A fresh vault: theme "light" and one fresh account, which is active.
    static Vault fresh();

    // Position of the active account; 0 when `activeAccount` names none.
    std::size_t index() const;
    Account& account();
    const Account& account() const;

    // Both refuse while the active account has requests in flight.
    void newAccount();
    void selectAccount(std::string_view id);

    bool operator==(const Vault&) const = default;
};
BOOST_DESCRIBE_STRUCT(Vault, (), (appIconStyle, version, theme, activeAccount, accounts))

}  // namespace quorvane
