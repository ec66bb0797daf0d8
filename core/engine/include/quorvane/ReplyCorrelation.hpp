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
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "quorvane/Account.hpp"

namespace quorvane {

// Whether the text is one of our own prompts, possibly behind a reply tag, as the page shows it.
bool isQuorvaneRequestEnvelope(std::string_view text);
// Whether the message shows anything of a reply (text, attachments or HTML) that is not one of
// our own prompts.
bool hasReplyContent(const DotMessage& message);
// The token of the text's leading reply tag.
std::optional<std::string> replyToken(std::string_view text);
// The message without its leading reply tag, in its text and in its HTML; HTML that would still
// show the tag is dropped.
DotMessage cleanReply(const DotMessage& message);
// The text as the page may re-wrap it: white space runs as one space, none at either end,
// typographic quotes straight.
std::string normalized(std::string_view text);
// One message per page id, in order of first appearance; repeated readings are merged (the one
// with more text wins) and our own prompts count as user turns whatever role the page gave them.
std::vector<DotMessage> uniqueDotMessages(const std::vector<DotMessage>& messages);
// The ids of the user turns, outside the job's baseline, that show its payload: opening with its
// request header, or equal to the payload once both are normalized.
std::unordered_set<std::string> matchingRequestIDs(const PendingRequest& job, const std::vector<DotMessage>& messages);
// The job's turn when exactly one turn matches it.
std::optional<std::string> matchingTurn(const PendingRequest& job, const std::vector<DotMessage>& messages);
// The job's replies on the page, without their tag, outside its baseline: for a tagged job the
// assistant messages with its token; for an untagged one those after its turn up to the next user
// turn that carry no tag.
std::vector<DotMessage> correlatedReplies(const PendingRequest& job, const std::vector<DotMessage>& messages);
// The replies' texts that are not empty, joined by a blank line; none when there is no reply.
std::optional<std::string> replyFor(const PendingRequest& job, const std::vector<DotMessage>& messages);
// The replies' HTML joined by a line feed; none when no reply has HTML.
std::optional<std::string> richReplyFor(const PendingRequest& job, const std::vector<DotMessage>& messages);
// One undated part per reply.
std::vector<ReplyPart> replyPartsFor(const PendingRequest& job, const std::vector<DotMessage>& messages);
// The parts dated: a part keeps its date in `previous`; an undated new one is dated `firstDate`
// when it comes first, `observedAt` otherwise.
std::vector<ReplyPart> datedReplyParts(const std::vector<ReplyPart>& parts,
    const std::optional<std::vector<ReplyPart>>& previous, Date firstDate, std::optional<Date> observedAt);
// `previous` with `parts` merged in by id: new ids are appended; a known one is replaced unless
// the new reading is an older, shorter one, keeping its date and the attachments or HTML that the
// new reading lacks.
std::vector<ReplyPart> mergedReplyParts(
    const std::vector<ReplyPart>& parts, const std::optional<std::vector<ReplyPart>>& previous);

// Whether a page id is in a request's baseline. Baselines hold every id the page showed when the
// request was sent, thousands in a long conversation, and reconciliation asks about every watched
// request on every page change; so a large baseline is looked up through a digest of its ids that
// is made once and kept for as long as the baseline's elements are shared, never changed.
bool inBaseline(const CowVector<Text>& baseline, std::string_view id);

// One snapshot prepared for correlating many requests with it: the page's unique messages, their
// positions, and its tagged replies grouped by token, each worked out once. Asking it about a
// request then costs only that request's own replies.
// page.correlatedReplies(job) equals correlatedReplies(job, messages) for every job.
class CorrelationPage {
public:
    explicit CorrelationPage(const std::vector<DotMessage>& messages);
    CorrelationPage(const CorrelationPage&) = delete;
    CorrelationPage& operator=(const CorrelationPage&) = delete;

    // uniqueDotMessages(messages)
    const std::vector<DotMessage>& unique() const noexcept { return unique_; }
    std::optional<std::size_t> position(std::string_view id) const;
    const DotMessage* find(std::string_view id) const;
    // Whether any message after `position` is a user turn.
    bool hasUserTurnAfter(std::size_t position) const noexcept;

    std::vector<DotMessage> correlatedReplies(const PendingRequest& job) const;
    // The page ids of those replies, without cleaning HTML that only the full replies need.
    std::vector<Text> correlatedReplyIDs(const PendingRequest& job) const;

private:
    struct TaggedReply {
        std::size_t position;
        std::size_t tagEnd;  // byte offset where the tag's match ends in the text
        std::string_view token;  // views the text of unique_[position]
    };

    std::vector<DotMessage> unique_;
    std::unordered_map<std::string_view, std::size_t> positions_;
    std::unordered_map<std::string_view, std::vector<TaggedReply>> tagged_;
    std::optional<std::size_t> lastUserTurn_;
};

}  // namespace quorvane
