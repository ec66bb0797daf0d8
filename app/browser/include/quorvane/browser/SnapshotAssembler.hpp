#pragma once

// Whole DotSnapshots rebuilt from the page adapter's "inspect" answers, which carry only what
// changed since the snapshot the browser already holds (see dot-adapter.js, "Snapshots"):
//
//   {"base": "<generation the changes apply to, or "" for a whole snapshot>",
//    "generation": "<name of this snapshot>",
//    "page": {url, ready, busy, reason, draft, ...},      the DotSnapshot fields but messages
//    "order": ["<key>", ...],                             left out when unchanged
//    "changed": [{"key": "<key>", id, role, text, ...}]}  messages new or changed
//
// A key is a message id, or id + U+0000 + n for the n-th repeat of an id on the page, so a page
// that shows one id twice still reaches uniqueDotMessages as it was shown.
//
// The page side cannot be trusted to be well-formed: a lone UTF-16 surrogate escape (which
// Boost.JSON refuses) becomes U+FFFD, and so does any invalid UTF-8, instead of failing the
// whole snapshot. An answer over kMaxAnswerBytes is refused before it is parsed.
//
// Any failure forgets what was held, so the next answer is asked for whole (since() is empty).
// An answer relative to a generation other than the one held throws StaleSnapshotBase: the
// caller asks again for a whole one.

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "quorvane/PageRecords.hpp"

namespace quorvane {

class StaleSnapshotBase : public std::runtime_error {
public:
    StaleSnapshotBase()
        : std::runtime_error("The Dot page answered for a snapshot we no longer hold.")
    {
    }
};

inline constexpr const char* kSnapshotTooLarge = "The Dot page is too large to read.";

class SnapshotAssembler {
public:
    static constexpr std::size_t kMaxAnswerBytes = std::size_t(64) * 1024 * 1024;

    // The generation held, for the adapter's `since` argument; empty when none.
    const std::string& since() const { return generation_; }

    // The whole snapshot after `answer`, its messages through uniqueDotMessages. Throws
    // AppFailure (too large), JsonDecodeError (not a snapshot) or StaleSnapshotBase.
    DotSnapshot apply(std::string_view answer);

    void reset();

private:
    std::string generation_;
    std::vector<std::string> order_;
    std::unordered_map<std::string, DotMessage> messages_;
    std::vector<DotMessage> unique_;  // uniqueDotMessages of the held order
};

// `json` with every lone UTF-16 surrogate escape replaced by \ufffd and invalid UTF-8 replaced
// by U+FFFD; what is already well-formed is unchanged.
std::string wellFormedJSON(std::string_view json);

}  // namespace quorvane
