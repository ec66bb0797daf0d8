#pragma once

// How the page changed since the last reconciliation, as far as reconciliation cares.
//
// Reconciliation files late parts of watched requests and collects replies that belong to no
// request; with a thousand watched requests it costs several milliseconds, and while a reply
// streams the page changes on every turn. But a change confined to the first request's own
// reply (its reply messages growing, or new ones appended after everything else) cannot change
// what reconciliation finds: that request is in the queue, not watched, so its replies belong
// to no watch (a tagged reply carries its own token; an untagged window ends at the next user
// turn, and only assistant messages changed) and are never collected (the request is tracked).
// Such a turn skips reconciliation; any other difference, a message gone or moved, a changed
// message that is not the first request's reply, or one already offered as an unassigned reply,
// reconciles as before. Once the reply is accepted, its new watch changes the watch count and
// the page is reconciled in full.

#include <vector>

#include "quorvane/Account.hpp"
#include "quorvane/PageRecords.hpp"

namespace quorvane {

enum class PageChange {
    none,  // the same messages
    firstReplyOnly,  // only the first request's reply messages changed or were added
    other,  // anything else
};

PageChange pageChange(
    const Account& account, const std::vector<DotMessage>& before, const std::vector<DotMessage>& now);

}  // namespace quorvane
