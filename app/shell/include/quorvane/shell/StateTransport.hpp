#pragma once

// The application side of the incremental state transport (the page side is
// web/bridge/state-transport.js, which documents the publication format).
//
// The interface page's receiveState(state) always receives the complete ClientState, but a
// long history is tens of megabytes of JSON and a streaming reply publishes twice a second. So
// a document gets the complete state once, and after that only what changed since the last
// publication it holds: the changed fields of the state and of the account, and the message
// list as runs of unchanged messages plus the messages that are new or changed.
//
// "Unchanged" is value equality, and it is cheap: the controller's states share the account's
// message list (CowVector) and every text (Text) with the vault, so comparing an unchanged
// message compares pointers, and an unchanged list is one pointer compare.
//
// A complete publication of a long history goes in parts of about `partBytes` each: the state
// without its messages first, then the messages in order. The page parses one part while the
// next is encoded, and it holds no single text of the whole history's size, which a long
// history would otherwise have in several copies at once on its way in. It calls receiveState
// only once the last part is in.
//
// The transport keeps the last state it encoded. It counts on the page applying publications
// in the order they were sent (script calls into one page run in order); a page that holds
// another base refuses the change, and reset() makes the next publication complete again: the
// shell calls it when a new document starts and when the page refuses or a call fails.
//
// Toolkit-free: it only writes text.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "quorvane/controller/ClientState.hpp"

namespace quorvane {

class StateTransport {
public:
    explicit StateTransport(std::size_t partBytes)
        : partBytes_(partBytes)
    {
    }

    struct Publication {
        std::uint64_t sequence = 0;
        bool complete = false;  // the whole state, not a change
        std::size_t parts = 0;
        std::size_t bytes = 0;
    };
    // Takes one part: a JSON text for the page's transport, ASCII only (see ASCIIJSON.hpp).
    // `last` is set on the publication's last part.
    using Deliver = std::function<void(std::string text, bool last)>;

    // Publishes `state`, delivering each part as soon as it is encoded: complete when the page
    // holds nothing yet, otherwise the change since the previous one, in one part. The state
    // becomes the base of the next publication.
    Publication publish(const ClientState& state, const Deliver& deliver);

    // The page holds nothing (a new document, a refused change, a failed call).
    void reset();

    bool hasBase() const { return base_.has_value(); }

private:
    std::size_t partBytes_;
    std::optional<ClientState> base_;
    std::uint64_t sequence_ = 0;
};

}  // namespace quorvane
