#pragma once

// Fetching the Dot profile picture over the network: one https GET that yields the response's
// status and body. The controller checks the address (https, a Dot host) before it asks, and
// decides what a status means; the fetcher only fetches.
//
// Contract for implementations:
//   - the whole fetch ends within `timeoutSeconds` (a server that stalls or trickles fails it);
//   - the body is read up to `bodyLimit` bytes: an answer that is as long or longer (or whose
//     announced length is) fails the fetch without being buffered whole, so an endless body
//     costs nothing. Nothing that long could become a picture anyway (avatarByteLimit);
//   - a failure of any kind throws (its message is for logs, not users); cancelling the task
//     ends the fetch with TaskCancelled.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "quorvane/async/Task.hpp"
#include "quorvane/icons/AvatarThumbnail.hpp"

namespace quorvane {

struct AvatarResponse {
    unsigned status = 0;  // the HTTP status
    std::vector<std::uint8_t> body;
};

class AvatarFetcher {
public:
    static constexpr double timeoutSeconds = 15;
    static constexpr std::size_t bodyLimit = avatarByteLimit;

    virtual ~AvatarFetcher() = default;
    virtual Task<AvatarResponse> fetch(std::string url) = 0;
};

}  // namespace quorvane
