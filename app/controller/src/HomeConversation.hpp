#pragma once

// The Dot service's home page starts a new conversation: an account that first connected there
// has the home address as its conversation, and its first message moves the page to the new
// conversation's own address. Pulling the page back home (the usual repair for a page on the
// wrong conversation) would then hide the reply for ever. So the account adopts the new
// address, but only when it is unmistakably that conversation: the stored address is home, the
// page shows a valid conversation address, and the first request's own turn is on it.

#include "quorvane/Account.hpp"
#include "quorvane/PageRecords.hpp"

namespace quorvane {

// Whether `url` is the service's home conversation page ("<home>/home", with or without a
// trailing slash).
bool isHomeConversationAddress(std::string_view url);

bool adoptsConversation(const Account& account, const DotSnapshot& snapshot);

}  // namespace quorvane
