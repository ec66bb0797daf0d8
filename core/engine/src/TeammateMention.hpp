#pragma once

// Where a direct mention ends, for the request queue to cut it off the message.

#include <cstddef>
#include <optional>
#include <string_view>

#include "quorvane/Account.hpp"

namespace quorvane {

// The teammate a message addresses at its very start ("@Name ..."), as Account::explicitTeammate
// finds it, and `end`, the byte just after the matched name. The name is matched case-insensitively
// with full case folding, so the mention can be longer or shorter than the name ("@STRASSE" for
// "Straße", a ligature for two letters): only the match knows where it ends.
struct TeammateMention {
    Bot bot;
    std::size_t end = 0;
};

std::optional<TeammateMention> mentionedTeammate(
    const Account& account, std::string_view text, std::string_view excludingBotID);

}  // namespace quorvane
