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
// A complete publication can be prepared before any page can take it (prepare()): the shell
// encodes the first state while WebKit still loads the page, and the page's first publication
// then only hands the prepared parts over, followed by what changed since, if anything.
//
// Toolkit-free: it only writes text.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

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
    // becomes the base of the next publication. A complete publication that was prepared goes
    // instead, followed by the change from its state to `state` when they differ; the
    // publication returned then counts both, with the sequence of the change.
    Publication publish(const ClientState& state, const Deliver& deliver);

    // Encodes a complete publication of `state` now, for the next time the page holds nothing;
    // it replaces one prepared before.
    void prepare(const ClientState& state);
    bool hasPrepared() const { return prepared_.has_value(); }

    // The page holds nothing (a new document, a refused change, a failed call). A prepared
    // publication is kept: it suits any page that holds nothing.
    void reset();

    bool hasBase() const { return base_.has_value(); }

private:
    // Each takes one finished part: JSON text, ASCII only.
    using Sink = std::function<void(std::string& text)>;
    void encodeComplete(const ClientState& state, std::uint64_t sequence, const Sink& sink) const;
    void encodeChange(const ClientState& state, std::uint64_t sequence, const Sink& sink) const;

    struct Prepared {
        ClientState state;
        std::uint64_t sequence = 0;
        std::vector<std::string> parts;
    };

    std::size_t partBytes_;
    std::optional<ClientState> base_;
    std::uint64_t baseSequence_ = 0;  // the publication whose state is base_
    std::uint64_t sequence_ = 0;
    std::optional<Prepared> prepared_;
};

}  // namespace quorvane
