#include "PageChange.hpp"

#include <algorithm>
#include <unordered_set>

#include "quorvane/ReplyCorrelation.hpp"

namespace quorvane {

PageChange pageChange(const Account& account, const std::vector<DotMessage>& before, const std::vector<DotMessage>& now)
{
    if (now.size() < before.size())
        return PageChange::other;
    std::vector<const DotMessage*> changed;
    for (std::size_t i = 0; i < before.size(); ++i) {
        if (now[i].id != before[i].id)
            return PageChange::other;
        if (!(now[i] == before[i]))
            changed.push_back(&now[i]);
    }
    for (std::size_t i = before.size(); i < now.size(); ++i)
        changed.push_back(&now[i]);
    if (changed.empty())
        return PageChange::none;

    if (account.jobs.empty())
        return PageChange::other;
    const PendingRequest& first = account.jobs.front();
    if (account.replyWatches) {
        const auto& watches = account.replyWatches->elements();
        if (std::any_of(watches.begin(), watches.end(), [&](const ReplyWatch& w) { return w.job.id == first.id; }))
            return PageChange::other;
    }
    std::unordered_set<std::string_view> replies;
    const std::vector<DotMessage> correlated = correlatedReplies(first, now);
    for (const DotMessage& reply : correlated)
        replies.insert(reply.id.view());
    std::unordered_set<std::string_view> offered;
    if (account.unassignedReplies)
        for (const auto& reply : *account.unassignedReplies)
            offered.insert(reply.id.view());
    for (const DotMessage* message : changed)
        if (message->role != "assistant" || !replies.contains(message->id.view())
            || offered.contains(message->id.view()))
            return PageChange::other;
    return PageChange::firstReplyOnly;
}

}  // namespace quorvane
