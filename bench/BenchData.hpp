#pragma once

// Realistic generated data for the benchmarks: an account with a long history.

#include <cstddef>

#include "quorvane/Vault.hpp"

namespace quorvane::bench {

// A vault whose active account holds `messages` replies of about 7 KB each (text, HTML and one
// part), alternating between the primary bot and two teammates, with every string stored
// separately as it would be after a load.
Vault makeVault(std::size_t messages);

// Text of `length` bytes that reads like prose, varied by `seed`.
std::string prose(std::size_t length, std::size_t seed);

} // namespace quorvane::bench
