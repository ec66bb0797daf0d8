#pragma once

// Reply correlation: which page messages are a request's reply, how reply tags are stripped,
// how our own prompts are recognised when the page shows them back, and how readings of a
// growing reply are merged. Everything here is a pure function of its inputs; the account-level
// operation (Account::removeRequestEchoes) is declared with the account.
//
// A reply token is 12 lower-case hex digits; a reply is tagged when its text starts (after
// white space only) with "[qv:" + token + "]" followed by white space up to a line break or the
// end of the text.

#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "quorvane/Account.hpp"

namespace quorvane {

bool isQuorvaneRequestEnvelope(std::string_view text);
bool hasReplyContent(const DotMessage& message);
std::optional<std::string> replyToken(std::string_view text);
DotMessage cleanReply(const DotMessage& message);
std::string normalized(std::string_view text);
std::vector<DotMessage> uniqueDotMessages(const std::vector<DotMessage>& messages);
std::unordered_set<std::string> matchingRequestIDs(const PendingRequest& job, const std::vector<DotMessage>& messages);
std::optional<std::string> matchingTurn(const PendingRequest& job, const std::vector<DotMessage>& messages);
std::vector<DotMessage> correlatedReplies(const PendingRequest& job, const std::vector<DotMessage>& messages);
std::optional<std::string> replyFor(const PendingRequest& job, const std::vector<DotMessage>& messages);
std::optional<std::string> richReplyFor(const PendingRequest& job, const std::vector<DotMessage>& messages);
std::vector<ReplyPart> replyPartsFor(const PendingRequest& job, const std::vector<DotMessage>& messages);
std::vector<ReplyPart> datedReplyParts(const std::vector<ReplyPart>& parts,
    const std::optional<std::vector<ReplyPart>>& previous, Date firstDate, std::optional<Date> observedAt);
std::vector<ReplyPart> mergedReplyParts(const std::vector<ReplyPart>& parts,
    const std::optional<std::vector<ReplyPart>>& previous);

} // namespace quorvane
