#pragma once

// The whole persisted state: display settings and the accounts.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "quorvane/Account.hpp"

namespace quorvane {

// The interface's appearance; stored as its name.
enum class Theme { light, dark, system };

template <>
struct EnumNames<Theme> {
    static constexpr std::string_view what = "theme";
    static constexpr std::array<std::string_view, 3> names = { "light", "dark", "system" };
};

// The application icon: Quorvane's own, or one drawn from the primary bot's avatar.
enum class AppIconStyle { quorvane, dot };

template <>
struct EnumNames<AppIconStyle> {
    static constexpr std::string_view what = "app icon style";
    static constexpr std::array<std::string_view, 2> names = { "quorvane", "dot" };
};

struct Vault {
    std::optional<AppIconStyle> appIconStyle {};  // absent: the default icon
    std::int64_t version = 1;  // the only format version written and accepted
    Theme theme = Theme::light;
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
