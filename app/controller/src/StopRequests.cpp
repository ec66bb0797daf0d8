// Stopping the wait for a reply: what the user asked for with "stopWaiting", applied between
// turns so that it never pulls a request out from under a turn that is working on it.

#include <algorithm>

#include "quorvane/controller/Controller.hpp"

namespace quorvane {

void Controller::finishStopRequests()
{
    auto requests = std::exchange(stopRequests, {});
    for (const std::string& id : requests) {
        const auto& jobs = vault_.account().jobs;
        auto job = std::find_if(jobs.begin(), jobs.end(), [&](const PendingRequest& j) { return j.id == id; });
        if (job == jobs.end())
            continue;
        try {
            transaction([&](Vault& vault) {
                Account& account = vault.account();
                // What was written so far is kept, unless it is only a routing note.
                if (liveReply && liveReply->id == id + "-reply" && !liveReply->isRouting.value_or(false)) {
                    auto current = std::find_if(
                        account.jobs.begin(), account.jobs.end(), [&](const PendingRequest& j) { return j.id == id; });
                    if (current != account.jobs.end()) {
                        const PendingRequest stopped = *current;
                        std::optional<std::vector<ReplyPart>> parts;
                        if (liveReply->parts)
                            parts = liveReply->parts->elements();
                        account.applyObservedReply(
                            stopped, ReplyContent { liveReply->text, liveReply->html, parts }, now());
                    }
                }
                account.stopWaiting(id);
            });
            candidate.clear();
            liveReply.reset();
        } catch (const std::exception& error) {
            issue = error.what();
        }
    }
}

}  // namespace quorvane
