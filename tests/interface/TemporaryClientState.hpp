#pragma once

// TEMPORARY: the ClientState record and its JSON encoder are being written in app/controller
// (quorvane/controller/ClientState.hpp). Until they land, the page's tests encode states with this
// stand-in, which follows the same table: account, theme, appIconStyle, connection, issue,
// storageHealthy, accounts, systemDark, liveReply (left out when absent), liveReplies; dates in
// ISO 8601. Delete this file once the real encoder is on main.

#include <optional>
#include <string>
#include <vector>

#include "quorvane/Vault.hpp"

namespace quorvane::testing {

struct TemporaryClientState {
    Vault vault;
    std::string connection = "connected";
    std::string issue;
    bool storageHealthy = true;
    bool systemDark = false;
    std::optional<ChatMessage> liveReply;
    std::vector<ChatMessage> liveReplies;
};

std::string encodeTemporaryClientState(const TemporaryClientState& state);

}  // namespace quorvane::testing
