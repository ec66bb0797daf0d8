#pragma once

// What the run loop's files share: ending a turn from anywhere inside it, the vault changes a
// turn makes on one request, and the small page readings several steps need.

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "quorvane/controller/Controller.hpp"

namespace quorvane {

// Thrown inside a turn to end it where it stands; the turn's end runs as for any other end.
struct TurnEnded { };

// A vault change made by a turn. When it fails, the turn ends, and the page connection is
// repaired unless storage itself failed (an unhealthy store stops the loop anyway).
template <class Body>
void Controller::turnTransaction(Body&& body)
{
    try {
        transaction(std::forward<Body>(body));
    } catch (...) {
        if (storageHealthy_)
            repairConnection();
        throw TurnEnded {};
    }
}

namespace run_loop {

// The job with this id, for changing inside a transaction; null when it is gone.
inline PendingRequest* findJob(Account& account, std::string_view id)
{
    auto found = std::find_if(
        account.jobs.begin(), account.jobs.end(), [&](const PendingRequest& job) { return job.id == id; });
    return found == account.jobs.end() ? nullptr : &*found;
}
inline const PendingRequest* findJob(const Account& account, std::string_view id)
{
    return findJob(const_cast<Account&>(account), id);
}

// A job changes phase and its message takes the matching status.
inline void setPhase(Account& account, std::string_view id, JobPhase phase, std::optional<MessageStatus> status)
{
    if (PendingRequest* job = findJob(account, id))
        job->phase = phase;
    if (status)
        account.setStatus(id, *status);
}

// A request that could not be sent goes back to the queue, or, after its last attempt, fails.
// Either way it waits a little before it is tried again.
void retryUnsent(Account& account, std::string_view id, Date now);

// Whether the Dot composer holds exactly this payload (both compared as the page shows text).
bool composerHolds(std::string_view draft, std::string_view payload);

}  // namespace run_loop
}  // namespace quorvane
