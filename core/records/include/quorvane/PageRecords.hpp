#pragma once

// What the page adapter reads off the Dot page: its messages and the page's state at one moment.

#include <optional>
#include <vector>

#include "quorvane/VaultRecords.hpp"

namespace quorvane {

struct DotMessage {
    Text id {};  // the page's own id, stable while the page shows the message
    Text role {};  // "user" or "assistant"; other values are kept but match no rule
    Text text {};
    std::optional<Text> html {};
    std::optional<std::vector<MessageAttachment>> attachments {};

    bool operator==(const DotMessage&) const = default;
};
BOOST_DESCRIBE_STRUCT(DotMessage, (), (id, role, text, html, attachments))

struct DotSnapshot {
    Text url {};
    bool ready = false;
    bool busy = false;
    Text reason {};
    Text draft {};
    std::vector<DotMessage> messages {};
    std::optional<Text> avatarURL {};
    std::optional<Text> profileName {};
    std::optional<bool> requiresSignIn {};
    std::optional<bool> blockedByDialog {};

    bool operator==(const DotSnapshot&) const = default;
};
BOOST_DESCRIBE_STRUCT(DotSnapshot, (),
    (url, ready, busy, reason, draft, messages, avatarURL, profileName, requiresSignIn, blockedByDialog))

}  // namespace quorvane
