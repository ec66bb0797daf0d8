#pragma once

// Handoff orchestration: the fenced "quorvane-handoff" JSON block that bots write to pass work
// to teammates, and its parse. The account-level operations (acceptHandoff,
// finishHandoffStatuses, replyDestinations, isRedundantHandoffReport,
// retireRedundantHandoffReports, explicitTeammate) are declared with the account.

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "quorvane/Account.hpp"

namespace quorvane {

struct HandoffAssignment {
    std::string to;
    std::string task;
    bool operator==(const HandoffAssignment&) const = default;
};

struct HandoffDirective {
    std::string request_id;
    std::optional<std::string> to;
    std::optional<std::string> task;
    std::optional<std::vector<HandoffAssignment>> handoffs;

    // The list form when only `handoffs` is given, the single form when only `to` and `task`
    // are given, otherwise none.
    std::vector<HandoffAssignment> assignments() const;
    bool operator==(const HandoffDirective&) const = default;
};

struct HandoffEnvelope {
    enum class Kind { valid, none, incomplete, invalid };
    Kind kind = Kind::none;
    std::optional<HandoffDirective> directive;  // present exactly when kind is valid
};

template <>
struct EnumNames<HandoffEnvelope::Kind> {
    static constexpr std::string_view what = "handoff envelope";
    static constexpr std::array<std::string_view, 4> names = { "valid", "none", "incomplete", "invalid" };
};

// Reads the handoff block of a reply: none without a "quorvane-handoff" label; incomplete while
// the object after the label is still being written; invalid for several labels, anything but a
// JSON object after the label, an object that is not a directive, or one beyond 1 MiB; valid,
// with the directive, otherwise.
HandoffEnvelope handoffEnvelope(std::string_view text);
bool isHandoffResponse(std::string_view text);  // the envelope is not none
bool handoffResponseIsIncomplete(std::string_view text);  // the envelope is incomplete

}  // namespace quorvane
