#pragma once

// How the connection to the Dot page looks to the user. Coded by name in the page's JSON.
//
//   disconnected  a new controller, or just after an account switch
//   connecting    connect() ran, or the page loads before the account's first connection
//   connected     the last snapshot passed every page check
//   recovering    the connection is being repaired, or the page reloads after a first connection
//   attention     the page needs the user: a dialog, or text of theirs in the Dot composer
//   signIn        the page asks for a sign-in on an account that never connected
//   expired       the page asks for a sign-in on an account that was connected before

#include <array>
#include <string_view>

#include "quorvane/NamedEnum.hpp"

namespace quorvane {

enum class ConnectionStatus { disconnected, connecting, recovering, connected, attention, signIn, expired };

template <>
struct EnumNames<ConnectionStatus> {
    static constexpr std::string_view what = "connection status";
    static constexpr std::array<std::string_view, 7> names
        = { "disconnected", "connecting", "recovering", "connected", "attention", "signIn", "expired" };
};

}  // namespace quorvane
