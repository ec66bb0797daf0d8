#pragma once

// Realistic generated data for the benchmarks, the same on every run.

#include <cstddef>
#include <string>
#include <vector>

#include "quorvane/Vault.hpp"

namespace quorvane::bench {

// A vault whose active account holds `messages` replies of about 7 KB each (text, HTML and one
// part), alternating between the primary bot and two teammates, with every string stored
// separately as it would be after a load.
Vault makeVault(std::size_t messages);

// Text of at most `length` bytes that reads like prose, varied by `seed`: words, quotes that
// JSON escapes, non-ASCII letters and punctuation, and a line break now and then.
std::string prose(std::size_t length, std::size_t seed);

// The JSON the page adapter returns for a long Dot conversation of `messages` page messages:
// user turns carrying our request payloads (envelope, reply tag, user text), tagged assistant
// replies with HTML, some attachments, and a few ids read twice as the page shows them while a
// reply grows.
std::string snapshotJSON(std::size_t messages);

// A settled conversation as the run loop sees it after long use: `requests` answered requests,
// each with its turn and its tagged reply on the page (2 × `requests` page messages), each still
// watched, with its reply filed; the account holds `localMessages` messages in all.
struct WatchedConversation {
    Account account;
    std::vector<DotMessage> page;
};
WatchedConversation makeWatchedConversation(std::size_t requests, std::size_t localMessages);

// The 12 hex digits of the reply token of request n of makeWatchedConversation.
std::string watchedToken(std::size_t n);

}  // namespace quorvane::bench
