#include "quorvane/ReplyCorrelation.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <new>
#include <stdexcept>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "EngineCommon.hpp"
#include "quorvane/TextRules.hpp"

namespace quorvane {

namespace {

using namespace std::string_view_literals;

constexpr std::string_view kTagOpening = "[qv:"sv;
constexpr std::size_t kTokenLength = 12;

// What our own prompts begin with; a page turn that starts like this is ours, never a reply.
constexpr std::array<std::string_view, 3> kEnvelopePrefixes = {
    kRequestHeaderStart,
    "[Active Quorvane bot \u2014 this turn only]"sv,
    "[Quorvane crew setup]"sv,
};

// ---- Reply tags ---------------------------------------------------------------------------------
//
// A reply is tagged when its text matches, from its first character, the expression
//     ^\s*\[qv:([a-f0-9]{12})\](?:\s*\n|\s*$)
// and a reply's HTML begins with its tag when it matches
//     ^(?:\s|<p>|<div>|<span>)*\[qv:TOKEN\](?:</p>|</div>|</span>|<br\s*/?>|\s)*
// with ICU's meaning of each part ("\s" is the Unicode White_Space property; "^" and "$" the
// start and end of the whole text). Reconciliation asks these of thousands of page messages on
// every page change, so both are matched by the hand-written scanners below rather than by the
// regular-expression engine; the scanners follow the expressions step for step (neither needs
// backtracking beyond what is noted), and a test checks them against ICU on a large set of texts.

struct TagMatch {
    std::size_t end = 0;  // end of the whole match, as a byte offset
    std::string_view token;  // the tag's 12 digits
};

// Offset of the first character that is not white space (the set "\s" matches).
std::size_t leadingWhitespaceEnd(std::string_view text)
{
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t next = pos;
        if (!isUnicodeWhitespace(decodeUTF8(text, next)))
            break;
        pos = next;
    }
    return pos;
}

bool isTokenCharacter(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

// Whether the text at `pos` reads "[qv:" + 12 lower-case hex digits + "]".
bool hasTagShapeAt(std::string_view text, std::size_t pos)
{
    std::string_view rest = text.substr(pos);
    if (rest.size() < kTagOpening.size() + kTokenLength + 1 || !rest.starts_with(kTagOpening)
        || rest[kTagOpening.size() + kTokenLength] != ']')
        return false;
    for (std::size_t i = 0; i < kTokenLength; ++i)
        if (!isTokenCharacter(rest[kTagOpening.size() + i]))
            return false;
    return true;
}

// The leading reply tag of a text.
std::optional<TagMatch> matchReplyTag(std::string_view text)
{
    std::size_t start = leadingWhitespaceEnd(text);
    if (!hasTagShapeAt(text, start))
        return std::nullopt;
    std::string_view token = text.substr(start + kTagOpening.size(), kTokenLength);
    // "(?:\s*\n|\s*$)": the white space after the tag must hold a line feed, and the first
    // alternative then ends after the last one in it; otherwise it must run to the end of the text.
    std::size_t pos = start + kTagOpening.size() + kTokenLength + 1;
    std::size_t afterLastLineFeed = std::string_view::npos;
    while (pos < text.size()) {
        std::size_t next = pos;
        char32_t c = decodeUTF8(text, next);
        if (!isUnicodeWhitespace(c))
            break;
        if (c == U'\n')
            afterLastLineFeed = next;
        pos = next;
    }
    if (afterLastLineFeed != std::string_view::npos)
        return TagMatch { afterLastLineFeed, token };
    if (pos == text.size())
        return TagMatch { pos, token };
    return std::nullopt;
}

bool startsWithEnvelopePrefix(std::string_view text)
{
    for (std::string_view prefix : kEnvelopePrefixes)
        if (text.starts_with(prefix))
            return true;
    return false;
}

bool isEnvelopeText(std::string_view text)
{
    std::string_view body = trimmed(text);
    if (startsWithEnvelopePrefix(body))
        return true;
    // A tagged text is ours when what follows the tag is. The white space after the tag is the
    // same whether or not the tag matches, so the prefix is checked first and the expression
    // only confirms texts that would pass.
    if (!hasTagShapeAt(body, 0))
        return false;
    std::string_view afterTag = body.substr(kTagOpening.size() + kTokenLength + 1);
    if (!startsWithEnvelopePrefix(afterTag.substr(leadingWhitespaceEnd(afterTag))))
        return false;
    std::optional<TagMatch> tag = matchReplyTag(body);
    return tag && startsWithEnvelopePrefix(trimmed(body.substr(tag->end)));
}

bool hasAttachments(const std::optional<std::vector<MessageAttachment>>& attachments)
{
    return attachments && !attachments->empty();
}

// Where the reply's own tag ends in its HTML, if the HTML begins with it.
std::optional<std::size_t> htmlTagEnd(std::string_view html, std::string_view token)
{
    auto skipped = [&](std::size_t& pos, std::string_view literal) {
        if (html.substr(pos, literal.size()) != literal)
            return false;
        pos += literal.size();
        return true;
    };
    auto skippedWhitespace = [&](std::size_t& pos) {
        if (pos >= html.size())
            return false;
        std::size_t next = pos;
        if (!isUnicodeWhitespace(decodeUTF8(html, next)))
            return false;
        pos = next;
        return true;
    };
    // "(?:\s|<p>|<div>|<span>)*": none of these can begin the tag, so taking as many as there are
    // is the only way the tag can follow.
    std::size_t pos = 0;
    while (skipped(pos, "<p>") || skipped(pos, "<div>") || skipped(pos, "<span>") || skippedWhitespace(pos)) { }
    if (!hasTagShapeAt(html, pos) || html.substr(pos + kTagOpening.size(), kTokenLength) != token)
        return std::nullopt;
    pos += kTagOpening.size() + kTokenLength + 1;
    // "(?:</p>|</div>|</span>|<br\s*/?>|\s)*", as many as there are.
    auto skippedBreak = [&](std::size_t& at) {
        if (html.substr(at, 3) != "<br")
            return false;
        std::size_t q = at + 3;
        while (skippedWhitespace(q)) { }
        if (q < html.size() && html[q] == '/')
            ++q;
        if (q >= html.size() || html[q] != '>')
            return false;  // neither "/>" nor ">" follows: no shorter reading ends in ">" either
        at = q + 1;
        return true;
    };
    while (skipped(pos, "</p>") || skipped(pos, "</div>") || skipped(pos, "</span>") || skippedBreak(pos)
        || skippedWhitespace(pos)) { }
    return pos;
}

DotMessage withoutTag(const DotMessage& message, const TagMatch& tag)
{
    DotMessage clean = message;
    clean.text = Text(trimmed(message.text.substr(tag.end)));
    if (message.html) {
        // HTML that would still show the tag is dropped, so the reply is shown from its text.
        std::optional<std::size_t> end = htmlTagEnd(*message.html, tag.token);
        if (end)
            clean.html = Text(message.html->substr(*end));
        else
            clean.html.reset();
    }
    return clean;
}

// ---- Normalisation ----------------------------------------------------------------------------

// Feeds the normalised form of `text` to `sink` in pieces; sink returns false to stop early.
template <class Sink>
bool normalizeInto(std::string_view text, Sink&& sink)
{
    bool wroteAny = false;
    bool pendingSpace = false;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t start = pos;
        char32_t c = decodeUTF8(text, pos);
        if (isUnicodeWhitespace(c)) {
            pendingSpace = wroteAny;
            continue;
        }
        if (pendingSpace) {
            pendingSpace = false;
            if (!sink(" "sv))
                return false;
        }
        std::string_view piece;
        if (c == U'\u201C' || c == U'\u201D')
            piece = "\""sv;
        else if (c == U'\u2018' || c == U'\u2019')
            piece = "'"sv;
        else
            piece = text.substr(start, pos - start);
        if (!sink(piece))
            return false;
        wroteAny = true;
    }
    return true;
}

// normalized(text) == target, without building the normalised text.
bool normalizesTo(std::string_view text, std::string_view target)
{
    std::size_t matched = 0;
    bool whole = normalizeInto(text, [&](std::string_view piece) {
        // Pieces are a few bytes long; a plain loop beats a memcmp call for each of them.
        if (piece.size() > target.size() - matched)
            return false;
        for (char byte : piece)
            if (target[matched++] != byte)
                return false;
        return true;
    });
    return whole && matched == target.size();
}

// ---- De-duplication ---------------------------------------------------------------------------

// Two readings of one page id: the one with more text wins, a tie going to the later reading.
DotMessage mergedReadings(const DotMessage& earlier, const DotMessage& later)
{
    bool sameText = earlier.text == later.text;
    bool laterIsBase = sameText || characterCount(later.text) >= characterCount(earlier.text);
    const DotMessage& base = laterIsBase ? later : earlier;
    const DotMessage& loser = laterIsBase ? earlier : later;
    DotMessage merged = base;
    if (hasAttachments(loser.attachments)) {
        std::vector<MessageAttachment> combined = base.attachments.value_or(std::vector<MessageAttachment> {});
        std::unordered_set<std::string_view> baseIDs;
        for (const MessageAttachment& attachment : combined)
            baseIDs.insert(attachment.id.view());
        for (const MessageAttachment& attachment : *loser.attachments)
            if (!baseIDs.contains(attachment.id.view()))
                combined.push_back(attachment);
        merged.attachments = std::move(combined);
    }
    if (sameText && (!base.html || base.html->empty()))
        merged.html = loser.html;
    return merged;
}

// Collects page messages one per id in order of first appearance, merging repeated readings.
class UniqueMessages {
public:
    explicit UniqueMessages(std::size_t expected)
    {
        messages_.reserve(expected);
        positions_.reserve(expected);
    }

    void add(const DotMessage& message)
    {
        // Our own prompt shown back by the page is a user turn whatever role the page gave it.
        bool relabel = message.role != "user"sv && isEnvelopeText(message.text);
        auto [slot, fresh] = positions_.try_emplace(message.id.view(), messages_.size());
        if (fresh) {
            messages_.push_back(message);
            if (relabel)
                messages_.back().role = Text("user");
            return;
        }
        DotMessage& stored = messages_[slot->second];
        if (relabel) {
            DotMessage echo = message;
            echo.role = Text("user");
            stored = mergedReadings(stored, echo);
        } else {
            stored = mergedReadings(stored, message);
        }
    }

    std::vector<DotMessage> take() { return std::move(messages_); }

private:
    std::vector<DotMessage> messages_;
    // Keys view the ids of the input messages, which outlive this collector.
    std::unordered_map<std::string_view, std::size_t> positions_;
};

std::unordered_set<std::string_view> idSet(const std::vector<Text>& ids)
{
    std::unordered_set<std::string_view> set;
    set.reserve(ids.size());
    for (const Text& id : ids)
        set.insert(id.view());
    return set;
}

std::vector<DotMessage> taggedReplies(
    const PendingRequest& job, std::string_view token, const std::vector<DotMessage>& messages)
{
    // A reply of this request must have a reading that begins with its tag; only those ids are
    // de-duplicated, which keeps a snapshot of thousands of messages cheap for every watched job.
    std::string opening = std::string(kTagOpening) + std::string(token) + "]";
    std::unordered_set<std::string_view> possible;
    for (const DotMessage& message : messages) {
        std::string_view text = message.text;
        if (text.substr(leadingWhitespaceEnd(text)).starts_with(opening))
            possible.insert(message.id.view());
    }
    if (possible.empty())
        return {};
    // A baseline holds every id the page showed when the request was sent, often thousands,
    // while a request has a handful of replies: hashing the whole baseline for every watched
    // request would cost more than the rest of the work, so the few candidates are looked up.
    if (possible.size() <= 8) {
        std::erase_if(possible, [&](std::string_view id) {
            return std::find(job.baseline.begin(), job.baseline.end(), id) != job.baseline.end();
        });
    } else {
        for (const Text& id : job.baseline)
            possible.erase(id.view());
    }
    if (possible.empty())
        return {};

    UniqueMessages unique(possible.size());
    for (const DotMessage& message : messages)
        if (possible.contains(message.id.view()))
            unique.add(message);

    std::vector<DotMessage> replies;
    for (const DotMessage& message : unique.take()) {
        if (message.role != "assistant"sv)
            continue;
        std::optional<TagMatch> tag = matchReplyTag(message.text);
        if (!tag || tag->token != token)
            continue;
        DotMessage clean = withoutTag(message, *tag);
        if (hasReplyContent(clean))
            replies.push_back(std::move(clean));
    }
    return replies;
}

// The replies of an untagged request: the assistant messages after its own turn (at `turn` in the
// unique messages), up to the next user turn.
std::vector<DotMessage> untaggedRepliesAfter(
    const PendingRequest& job, const std::vector<DotMessage>& unique, std::size_t turn)
{
    std::vector<DotMessage> replies;
    for (std::size_t i = turn + 1; i < unique.size(); ++i) {
        const DotMessage& message = unique[i];
        if (message.role == "user"sv)
            break;
        if (message.role != "assistant"sv || inBaseline(job.baseline, message.id))
            continue;
        // Anything that begins like a tag, well-formed or not, answers some tagged request.
        // (A text that the tag expression matches always begins with "[qv:" once trimmed.)
        if (trimmed(message.text).starts_with(kTagOpening))
            continue;
        if (hasReplyContent(message))
            replies.push_back(message);
    }
    return replies;
}

std::vector<DotMessage> untaggedReplies(const PendingRequest& job, const std::vector<DotMessage>& messages)
{
    if (!job.userMessageID)
        return {};
    std::vector<DotMessage> unique = uniqueDotMessages(messages);
    std::size_t turn = 0;
    while (turn < unique.size() && unique[turn].id != *job.userMessageID)
        ++turn;
    if (turn == unique.size())
        return {};
    return untaggedRepliesAfter(job, unique, turn);
}

bool isEchoPart(const ReplyPart& part)
{
    if (isEnvelopeText(part.text))
        return true;
    if (!part.text.empty() || !part.attachments)
        return false;
    for (const MessageAttachment& attachment : *part.attachments)
        if (isEnvelopeText(attachment.title))
            return true;
    return false;
}

}  // namespace

bool isQuorvaneRequestEnvelope(std::string_view text) { return isEnvelopeText(text); }

bool hasReplyContent(const DotMessage& message)
{
    if (isEnvelopeText(message.text))
        return false;
    if (!message.text.empty())
        return true;
    if (hasAttachments(message.attachments)) {
        for (const MessageAttachment& attachment : *message.attachments)
            if (isEnvelopeText(attachment.title))
                return false;
        return true;
    }
    return message.html && !message.html->empty();
}

std::optional<std::string> replyToken(std::string_view text)
{
    std::optional<TagMatch> tag = matchReplyTag(text);
    if (!tag)
        return std::nullopt;
    return std::string(tag->token);
}

DotMessage cleanReply(const DotMessage& message)
{
    std::optional<TagMatch> tag = matchReplyTag(message.text);
    if (!tag)
        return message;
    return withoutTag(message, *tag);
}

std::string normalized(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    normalizeInto(text, [&](std::string_view piece) {
        out.append(piece);
        return true;
    });
    return out;
}

std::vector<DotMessage> uniqueDotMessages(const std::vector<DotMessage>& messages)
{
    UniqueMessages unique(messages.size());
    for (const DotMessage& message : messages)
        unique.add(message);
    return unique.take();
}

std::unordered_set<std::string> matchingRequestIDs(const PendingRequest& job, const std::vector<DotMessage>& messages)
{
    std::string envelope = requestHeader(job.id);
    std::string target = normalized(job.payload);
    std::unordered_set<std::string_view> baseline = idSet(job.baseline);
    std::unordered_set<std::string> ids;
    for (const DotMessage& message : messages) {
        if (message.role != "user"sv || baseline.contains(message.id.view()))
            continue;
        if (trimmed(message.text).starts_with(envelope) || normalizesTo(message.text, target))
            ids.insert(message.id.str());
    }
    return ids;
}

std::optional<std::string> matchingTurn(const PendingRequest& job, const std::vector<DotMessage>& messages)
{
    std::unordered_set<std::string> ids = matchingRequestIDs(job, messages);
    if (ids.size() != 1)
        return std::nullopt;
    return *ids.begin();
}

namespace {

// A digest of one baseline's ids: their 64-bit hashes in an open-addressed table, so a lookup
// costs one or two memory reads however long the baseline is. The entry holds a copy of the
// baseline, so its shared elements can be neither freed nor changed (a change would copy them
// first) while the digest is kept: the elements' address identifies the digest safely.
struct BaselineDigest {
    CowVector<Text> pinned;
    std::vector<std::uint64_t> slots;  // 0 marks an empty slot; a hash of 0 is stored as 1

    static std::uint64_t slotValue(std::string_view id)
    {
        std::uint64_t hash = std::hash<std::string_view> {}(id);
        return hash == 0 ? 1 : hash;
    }

    explicit BaselineDigest(const CowVector<Text>& baseline)
        : pinned(baseline)
    {
        std::size_t size = 16;
        while (size < 2 * baseline.size())
            size *= 2;
        slots.assign(size, 0);
        for (const Text& id : baseline.elements())
            insert(slotValue(id));
    }

    void insert(std::uint64_t value)
    {
        std::size_t mask = slots.size() - 1;
        for (std::size_t i = value & mask;; i = (i + 1) & mask) {
            if (slots[i] == value)
                return;
            if (slots[i] == 0) {
                slots[i] = value;
                return;
            }
        }
    }

    bool mayContain(std::string_view id) const
    {
        std::uint64_t value = slotValue(id);
        std::size_t mask = slots.size() - 1;
        for (std::size_t i = value & mask;; i = (i + 1) & mask) {
            if (slots[i] == value)
                return true;
            if (slots[i] == 0)
                return false;
        }
    }
};

constexpr std::size_t kLinearBaseline = 32;
constexpr std::size_t kDigestLimit = 4096;

}  // namespace

bool inBaseline(const CowVector<Text>& baseline, std::string_view id)
{
    const std::vector<Text>& ids = baseline.elements();
    auto contains = [&] { return std::find(ids.begin(), ids.end(), id) != ids.end(); };
    if (ids.size() <= kLinearBaseline)
        return contains();
    thread_local std::unordered_map<const std::vector<Text>*, BaselineDigest> digests;
    auto found = digests.find(&ids);
    if (found == digests.end()) {
        if (digests.size() >= kDigestLimit)
            digests.clear();
        found = digests.emplace(&ids, BaselineDigest(baseline)).first;
    }
    // A hash that is absent settles it; one that is present is confirmed against the ids.
    return found->second.mayContain(id) && contains();
}

CorrelationPage::CorrelationPage(const std::vector<DotMessage>& messages)
    : unique_(uniqueDotMessages(messages))
{
    positions_.reserve(unique_.size());
    for (std::size_t i = 0; i < unique_.size(); ++i) {
        const DotMessage& message = unique_[i];
        positions_.emplace(message.id.view(), i);
        if (message.role == "user"sv)
            lastUserTurn_ = i;
        if (message.role != "assistant"sv)
            continue;
        if (std::optional<TagMatch> tag = matchReplyTag(message.text))
            tagged_[tag->token].push_back(TaggedReply { i, tag->end, tag->token });
    }
}

std::optional<std::size_t> CorrelationPage::position(std::string_view id) const
{
    auto found = positions_.find(id);
    if (found == positions_.end())
        return std::nullopt;
    return found->second;
}

const DotMessage* CorrelationPage::find(std::string_view id) const
{
    auto found = positions_.find(id);
    return found == positions_.end() ? nullptr : &unique_[found->second];
}

bool CorrelationPage::hasUserTurnAfter(std::size_t position) const noexcept
{
    return lastUserTurn_ && *lastUserTurn_ > position;
}

std::vector<DotMessage> CorrelationPage::correlatedReplies(const PendingRequest& job) const
{
    if (!job.replyToken) {
        if (!job.userMessageID)
            return {};
        std::optional<std::size_t> turn = position(*job.userMessageID);
        return turn ? untaggedRepliesAfter(job, unique_, *turn) : std::vector<DotMessage> {};
    }
    auto found = tagged_.find(job.replyToken->view());
    if (found == tagged_.end())
        return {};
    std::vector<DotMessage> replies;
    for (const TaggedReply& tagged : found->second) {
        const DotMessage& message = unique_[tagged.position];
        if (inBaseline(job.baseline, message.id))
            continue;
        DotMessage clean = withoutTag(message, TagMatch { tagged.tagEnd, tagged.token });
        if (hasReplyContent(clean))
            replies.push_back(std::move(clean));
    }
    return replies;
}

std::vector<Text> CorrelationPage::correlatedReplyIDs(const PendingRequest& job) const
{
    std::vector<Text> ids;
    if (!job.replyToken) {
        for (const DotMessage& reply : correlatedReplies(job))
            ids.push_back(reply.id);
        return ids;
    }
    auto found = tagged_.find(job.replyToken->view());
    if (found == tagged_.end())
        return ids;
    for (const TaggedReply& tagged : found->second) {
        const DotMessage& message = unique_[tagged.position];
        if (inBaseline(job.baseline, message.id))
            continue;
        // Cleaned text decides unless it is empty; only then do attachments and HTML count.
        std::string_view text = trimmed(message.text.substr(tagged.tagEnd));
        bool content = text.empty() ? hasReplyContent(withoutTag(message, TagMatch { tagged.tagEnd, tagged.token }))
                                    : !isEnvelopeText(text);
        if (content)
            ids.push_back(message.id);
    }
    return ids;
}

std::vector<DotMessage> correlatedReplies(const PendingRequest& job, const std::vector<DotMessage>& messages)
{
    if (job.replyToken)
        return taggedReplies(job, *job.replyToken, messages);
    return untaggedReplies(job, messages);
}

std::optional<std::string> replyFor(const PendingRequest& job, const std::vector<DotMessage>& messages)
{
    std::vector<DotMessage> replies = correlatedReplies(job, messages);
    if (replies.empty())
        return std::nullopt;
    return joinedTexts(replies);
}

std::optional<std::string> richReplyFor(const PendingRequest& job, const std::vector<DotMessage>& messages)
{
    return joinedHTML(correlatedReplies(job, messages));
}

std::vector<ReplyPart> replyPartsFor(const PendingRequest& job, const std::vector<DotMessage>& messages)
{
    std::vector<DotMessage> replies = correlatedReplies(job, messages);
    std::vector<ReplyPart> parts;
    parts.reserve(replies.size());
    for (DotMessage& reply : replies)
        parts.push_back(ReplyPart { std::move(reply.id), std::move(reply.text), std::move(reply.html), std::nullopt,
            std::move(reply.attachments) });
    return parts;
}

std::vector<ReplyPart> datedReplyParts(const std::vector<ReplyPart>& parts,
    const std::optional<std::vector<ReplyPart>>& previous, Date firstDate, std::optional<Date> observedAt)
{
    std::unordered_map<std::string_view, const ReplyPart*> earlier;
    if (previous) {
        earlier.reserve(previous->size());
        for (const ReplyPart& part : *previous)
            earlier.try_emplace(part.id.view(), &part);
    }
    std::vector<ReplyPart> dated = parts;
    for (std::size_t i = 0; i < dated.size(); ++i) {
        ReplyPart& part = dated[i];
        if (auto found = earlier.find(part.id.view()); found != earlier.end())
            part.date = found->second->date;
        else if (!part.date)
            part.date = i == 0 ? std::optional<Date>(firstDate) : observedAt;
    }
    return dated;
}

std::vector<ReplyPart> mergedReplyParts(
    const std::vector<ReplyPart>& parts, const std::optional<std::vector<ReplyPart>>& previous)
{
    std::vector<ReplyPart> merged = previous.value_or(std::vector<ReplyPart> {});
    merged.reserve(merged.size() + parts.size());
    std::unordered_map<Text, std::size_t> positions;
    positions.reserve(merged.size() + parts.size());
    for (std::size_t i = 0; i < merged.size(); ++i)
        positions.try_emplace(merged[i].id, i);

    for (const ReplyPart& part : parts) {
        auto [slot, fresh] = positions.try_emplace(part.id, merged.size());
        if (fresh) {
            merged.push_back(part);
            continue;
        }
        ReplyPart& stored = merged[slot->second];
        // An older, shorter reading of a reply that was still being written keeps what we have.
        if (part.text.size() < stored.text.size() && stored.text.starts_with(part.text)
            && characterCount(part.text) < characterCount(stored.text))
            continue;
        ReplyPart replacement = part;
        if (stored.date)
            replacement.date = stored.date;
        if (!hasAttachments(part.attachments))
            replacement.attachments = stored.attachments;
        if (part.text == stored.text && (!part.html || part.html->empty()))
            replacement.html = stored.html;
        stored = std::move(replacement);
    }
    return merged;
}

namespace {

// ---- Removing echoes ----------------------------------------------------------------------------

// What removing echoes does to one message: nothing, removing it, or replacing it by the
// message without its echo parts.
struct EchoEdit {
    bool remove = false;
    std::optional<ChatMessage> replacement;
};

// A reply filed without parts is an echo, or not, as a whole; a reply with parts loses the ones
// that are echoes, and is removed when they all are. The ids of dropped parts are added to
// `droppedPartIDs`.
EchoEdit echoEdit(const ChatMessage& message, std::unordered_set<Text>& droppedPartIDs)
{
    if (message.role != MessageRole::assistant)
        return {};
    if (!message.parts || message.parts->empty())
        return { isEnvelopeText(message.text), std::nullopt };
    std::vector<ReplyPart> remaining;
    for (const ReplyPart& part : *message.parts) {
        if (isEchoPart(part))
            droppedPartIDs.insert(part.id);
        else
            remaining.push_back(part);
    }
    if (remaining.empty())
        return { true, std::nullopt };
    if (remaining.size() == message.parts->size())
        return {};
    ChatMessage replacement = message;
    replacement.text = Text(joinedTexts(remaining));
    replacement.html = replyHTML(remaining);
    replacement.parts = CowVector<ReplyPart>(std::move(remaining));
    return { false, std::move(replacement) };
}

// The history without echoes, or none when it has none. The history is only read until the
// first change, so copies of the account keep sharing it.
std::optional<std::vector<ChatMessage>> historyWithoutEchoes(
    const std::vector<ChatMessage>& current, std::unordered_set<Text>& droppedPartIDs)
{
    std::optional<std::vector<ChatMessage>> edited;  // made at the first change
    for (std::size_t i = 0; i < current.size(); ++i) {
        EchoEdit edit = echoEdit(current[i], droppedPartIDs);
        if (!edit.remove && !edit.replacement) {
            if (edited)
                edited->push_back(current[i]);
            continue;
        }
        if (!edited)
            edited.emplace(current.begin(), current.begin() + static_cast<std::ptrdiff_t>(i));
        if (edit.replacement)
            edited->push_back(std::move(*edit.replacement));
    }
    return edited;
}

// The watches without the dropped part ids, or none when no watch counted one.
std::optional<std::vector<ReplyWatch>> watchesWithout(
    const std::vector<ReplyWatch>& list, const std::unordered_set<Text>& droppedPartIDs)
{
    std::optional<std::vector<ReplyWatch>> watches;  // made at the first change
    auto dropped = [&](const Text& id) { return droppedPartIDs.contains(id); };
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (std::none_of(list[i].assistantIDs.begin(), list[i].assistantIDs.end(), dropped))
            continue;
        if (!watches)
            watches = list;
        std::erase_if((*watches)[i].assistantIDs, dropped);
    }
    return watches;
}

}  // namespace

void Account::removeRequestEchoes()
{
    // Runs on every recovery, usually finding nothing: the lists are only read until the first
    // change, so copies of the account keep sharing them. Everything is built aside and assigned
    // at the end, so the account is never left half edited.
    std::unordered_set<Text> droppedPartIDs;
    std::optional<std::vector<ChatMessage>> edited = historyWithoutEchoes(messages.elements(), droppedPartIDs);
    std::optional<std::vector<ReplyWatch>> watches;
    if (replyWatches && !droppedPartIDs.empty())
        watches = watchesWithout(replyWatches->elements(), droppedPartIDs);
    std::optional<std::vector<UnassignedReply>> unassigned = unassignedReplies;
    if (unassigned)
        std::erase_if(*unassigned, [](const UnassignedReply& reply) { return !hasReplyContent(reply.message); });

    if (edited)
        messages = CowVector<ChatMessage>(std::move(*edited));
    if (watches)
        *replyWatches = CowVector<ReplyWatch>(std::move(*watches));
    unassignedReplies = std::move(unassigned);
}

}  // namespace quorvane
