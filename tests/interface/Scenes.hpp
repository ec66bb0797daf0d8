#pragma once

// The states the page is tested and measured with, built the way the application builds them:
// vaults changed only through the engine's own operations (saveBot, enqueue, acceptResponse,
// stopWaiting, archive…), then encoded as the ClientState the shell sends.

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "quorvane/Vault.hpp"
#include "quorvane/controller/ClientState.hpp"

namespace quorvane::testing {

// A vault and the controller's run-time fields, from which the ClientState is made.
struct SceneState {
    Vault vault;
    ConnectionStatus connection = ConnectionStatus::connected;
    std::string issue;
    std::string fileIssue;
    bool storageHealthy = true;
    bool systemDark = false;
    std::optional<ChatMessage> liveReply;
    std::vector<ChatMessage> liveReplies;
};

// The ClientState the controller publishes for this scene.
ClientState clientState(const SceneState& scene);
// Its page JSON, by the controller's own encoder.
std::string encodeState(const SceneState& scene);

// A request id the tests can predict: 00000000-0000-4000-8000-<n as 12 digits>.
std::string requestID(std::size_t n);

// A first start: only the primary bot, never connected.
SceneState emptyCrew();
// A crew of five with a history: rich replies in parts, a teammate's result copied through a
// handoff, unread replies, a reply to quote, and user messages in every state that has an action
// (queued, failed, waiting, uncertain, unconfirmed delivery). The selected bot is the primary bot.
SceneState busyConversation();
// busyConversation with a reply streaming in for the waiting request.
SceneState streamingReply(std::size_t length = 900);
// A crew of two teammates whose every answer hands the work on to the other: the first message's
// chain of handoffs, stopped by the crew's limits, and its refused replies.
SceneState runawayCrew();
// Connected before; Dot now asks to sign in again.
SceneState signInNeeded();
// The vault could not be saved: storage unhealthy with its sentence.
SceneState storageUnavailable();
// `total` messages of about `bytes` bytes each (half questions, half HTML replies) across
// `bots` bots; the primary bot selected.
SceneState largeHistory(std::size_t total, std::size_t bots, std::size_t bytes);

// The live reply of `base`'s waiting request grown to `length` characters.
SceneState withLiveReply(const SceneState& base, std::size_t length);

}  // namespace quorvane::testing
