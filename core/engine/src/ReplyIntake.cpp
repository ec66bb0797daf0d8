// Reply intake: a reply read from the Dot page becomes local history — the reply message, copies
// for the bots that delegated the work, status and unread marks — or starts handoffs. Finished
// requests stay watched so that parts a bot adds later are filed too, and replies that belong to
// no known request are offered to the user.

#include <algorithm>
#include <set>
#include <unordered_map>
#include <unordered_set>

#include "AccountLists.hpp"
#include "EngineCommon.hpp"
#include "quorvane/Account.hpp"
#include "quorvane/AppFailure.hpp"
#include "quorvane/Orchestration.hpp"
#include "quorvane/ReplyCorrelation.hpp"
#include "quorvane/TextRules.hpp"

namespace quorvane {

namespace {

constexpr std::string_view kHandoffFailedReply = "I couldn\u2019t complete that handoff. Please try asking again.";

void markUnread(Account& account, const Text& botID) { appendOnce(account.unreadBots, botID); }

// A reading that is a shorter beginning of what is stored is an older reading of a reply that was
// still being written; it never replaces the longer one.
bool isOlderReading(std::string_view newer, std::string_view stored)
{
    return stored.starts_with(newer) && characterCount(newer) < characterCount(stored);
}

std::vector<MessageAttachment> allAttachments(const ChatMessage& message)
{
    std::vector<MessageAttachment> all;
    if (message.parts)
        for (const auto& part : *message.parts)
            if (part.attachments)
                all.insert(all.end(), part.attachments->begin(), part.attachments->end());
    return all;
}

std::optional<std::vector<ReplyPart>> plainParts(const std::optional<CowVector<ReplyPart>>& parts)
{
    if (!parts)
        return std::nullopt;
    return parts->elements();
}

bool hasParts(const ChatMessage* message) { return message && message->parts && !message->parts->empty(); }

// Whether `whole` is the pieces joined with `separator`, without building the joined text.
template <class Pieces>
bool isJoined(std::string_view whole, const Pieces& pieces, std::string_view separator)
{
    std::size_t at = 0;
    bool first = true;
    for (std::string_view piece : pieces) {
        if (!first) {
            if (whole.substr(at, separator.size()) != separator)
                return false;
            at += separator.size();
        }
        first = false;
        if (whole.substr(at, piece.size()) != piece)
            return false;
        at += piece.size();
    }
    return at == whole.size();
}

// Whether these page replies are exactly the parts of the filed reply, and its text and HTML are
// those parts joined, so that merging them in would change nothing.
bool showsFiledReply(const std::vector<DotMessage>& replies, const ChatMessage& filed)
{
    const auto& parts = filed.parts->elements();
    if (replies.size() != parts.size())
        return false;
    for (const auto& reply : replies) {
        auto part = std::find_if(parts.begin(), parts.end(), [&](const ReplyPart& p) { return p.id == reply.id; });
        if (part == parts.end() || part->text != reply.text || part->html != reply.html
            || part->attachments != reply.attachments)
            return false;
    }
    std::vector<std::string_view> texts;
    std::vector<std::string_view> html;
    for (const auto& part : parts) {
        if (!part.text.empty())
            texts.push_back(part.text);
        if (part.html)
            html.push_back(*part.html);
    }
    bool htmlJoined = filed.html ? !filed.html->empty() && isJoined(*filed.html, html, "\n")
                                 : html.empty() || isJoined("", html, "\n");
    return isJoined(filed.text, texts, "\n\n") && htmlJoined;
}

// Local messages by id, for operations that look up many of them: an open-addressed table of
// positions made in one pass, without an allocation per message. Messages filed while it is in
// use are found too: they are appended, or replace a message of the same id in place.
class MessageIndex {
public:
    explicit MessageIndex(const Account& account)
        : account_(account)
    {
        const auto& messages = account.messages.elements();
        indexed_ = messages.size();
        std::size_t size = 16;
        while (size < 2 * indexed_)
            size *= 2;
        slots_.assign(size, kEmpty);
        // Inserted from the last to the first, so the first message with an id is the one found.
        for (std::size_t i = indexed_; i-- > 0;)
            slots_[slotFor(messages[i].id)] = static_cast<std::uint32_t>(i);
    }

    const ChatMessage* find(std::string_view id) const
    {
        const auto& messages = account_.messages.elements();
        if (std::uint32_t at = slots_[slotFor(id)]; at != kEmpty)
            return &messages[at];
        for (std::size_t i = indexed_; i < messages.size(); ++i)
            if (messages[i].id == id)
                return &messages[i];
        return nullptr;
    }

private:
    static constexpr std::uint32_t kEmpty = 0xFFFFFFFF;

    // The slot holding `id`, or the empty slot where it would go. Inserting over an existing
    // entry for the id is how the first of several messages with one id wins.
    std::size_t slotFor(std::string_view id) const
    {
        const auto& messages = account_.messages.elements();
        std::size_t mask = slots_.size() - 1;
        for (std::size_t i = std::hash<std::string_view> {}(id)&mask;; i = (i + 1) & mask) {
            std::uint32_t at = slots_[i];
            if (at == kEmpty || (at < messages.size() && messages[at].id == id))
                return i;
        }
    }

    const Account& account_;
    std::vector<std::uint32_t> slots_;
    std::size_t indexed_ = 0;
};

// ---- Filing a reply -----------------------------------------------------------------------------

// The message a reply of `job` is filed as, before it is copied to the bots that delegated the
// work. Parts keep the date they were first filed with; parts new to a reply filed before are
// dated `now`.
ChatMessage replyMessage(const Account& account, const PendingRequest& job, const ReplyContent& reply, Date now)
{
    ChatMessage message;
    message.id = replyID(job.id);
    message.botID = job.botID;
    message.role = MessageRole::assistant;
    message.text = reply.text;
    message.date = job.submitted.value_or(now);
    message.status = MessageStatus::sent;
    message.html = reply.html;
    message.replyToID = job.parentRequestID;
    if (reply.parts) {
        const ChatMessage* existing = findMessage(account, message.id);
        Date firstDate = existing ? existing->date : job.submitted.value_or(now);
        std::optional<Date> observedAt = hasParts(existing) ? std::optional<Date>(now) : std::nullopt;
        message.parts = datedReplyParts(
            *reply.parts, existing ? plainParts(existing->parts) : std::nullopt, firstDate, observedAt);
    }
    return message;
}

// Adds the reply, or replaces the one filed under its id, keeping the date it was first filed
// with. The bot is marked unread when the reply is new or shows something else than before.
void fileReply(Account& account, ChatMessage reply)
{
    auto& messages = account.messages;
    auto position = positionOfID(messages, reply.id);
    if (!position) {
        Text botID = reply.botID;
        messages.push_back(std::move(reply));
        markUnread(account, botID);
        return;
    }
    const ChatMessage& existing = messages[*position];
    if (isOlderReading(reply.text, existing.text))
        return;
    reply.date = existing.date;
    if (reply == existing)
        return;
    bool contentChanged = reply.text != existing.text || reply.html != existing.html
        || allAttachments(reply) != allAttachments(existing);
    Text botID = reply.botID;
    messages.mutableAt(*position) = std::move(reply);
    if (contentChanged)
        markUnread(account, botID);
}

// Reports that carry this result onward receive it in their payload, after the user's text.
void passResultOnward(Account& account, const PendingRequest& job, std::string_view result)
{
    const ChatMessage* original = findMessage(account, rootOf(job));
    const Bot* bot = findBot(account, job.botID);
    for (auto& waiting : account.jobs) {
        if (waiting.resultRequestID != job.id || waiting.phase != JobPhase::queued)
            continue;
        auto at = waiting.payload.rfind(kUserMessageMarker);
        if (at == Text::npos)
            continue;
        std::string payload(waiting.payload.substr(0, at + kUserMessageMarker.size()));
        payload += "Original request:\n";
        payload += original ? original->text.view() : std::string_view("Continue the original task.");
        payload += "\n\nResult from ";
        payload += bot ? bot->name.view() : std::string_view("your teammate");
        payload += ":\n";
        payload += prefixCharacters(result, 10000);
        waiting.payload = payload;
    }
}

// ---- Reconciliation -----------------------------------------------------------------------------

// What reconciliation works out once per page change, so that each watch costs only its own
// replies.
struct PageReading {
    const CorrelationPage& page;
    const MessageIndex& local;
    // Our own request turns on the page, by the request id their header names.
    std::unordered_map<std::string_view, std::vector<Text>> turns;
    // Whether requests of more than one bot are watched or queued.
    bool severalBots = false;
};

std::unordered_map<std::string_view, std::vector<Text>> requestTurns(const std::vector<DotMessage>& unique)
{
    std::unordered_map<std::string_view, std::vector<Text>> turns;
    for (const auto& message : unique) {
        if (message.role != "user")
            continue;
        if (auto requestID = requestIDInHeader(message.text))
            turns[*requestID].push_back(message.id);
    }
    return turns;
}

bool severalBotsAwaitReplies(const Account& account)
{
    std::unordered_set<std::string_view> bots;
    for (const auto& watch : *account.replyWatches)
        bots.insert(watch.job.botID.view());
    for (const auto& job : account.jobs)
        bots.insert(job.botID.view());
    return bots.size() > 1;
}

// A watch as reconciliation changes it. Most watches do not change on a page change, so the
// stored one is copied only once it does.
class WatchEdit {
public:
    explicit WatchEdit(const ReplyWatch& stored)
        : stored_(stored)
    {
    }
    const ReplyWatch& stored() const { return stored_; }
    const ReplyWatch& current() const { return changed_ ? *changed_ : stored_; }
    bool changed() const { return changed_.has_value(); }
    ReplyWatch& change()
    {
        if (!changed_)
            changed_ = stored_;
        return *changed_;
    }

private:
    const ReplyWatch& stored_;
    std::optional<ReplyWatch> changed_;
};

// Ids the watch counted that the page now shows as something other than a reply are dropped.
void dropIDsShownAsOther(WatchEdit& edit, const CorrelationPage& page)
{
    auto shownAsOther = [&](const Text& id) {
        const DotMessage* shown = page.find(id);
        return shown && shown->role != "assistant";
    };
    const auto& ids = edit.stored().assistantIDs;
    if (std::any_of(ids.begin(), ids.end(), shownAsOther))
        std::erase_if(edit.change().assistantIDs, shownAsOther);
}

// When exactly one of our turns for the request is new since it was sent, that turn is its own:
// the watch remembers it, and a delivery that was in doubt is settled.
void confirmTurn(Account& account, WatchEdit& edit, const PageReading& reading)
{
    const PendingRequest& job = edit.stored().job;
    auto turn = reading.turns.find(job.id.view());
    if (turn == reading.turns.end())
        return;
    std::vector<Text> candidates;
    for (const auto& id : turn->second)
        if (!inBaseline(job.baseline, id))
            candidates.push_back(id);
    if (candidates.size() != 1)
        return;
    if (job.userMessageID != candidates.front())
        edit.change().job.userMessageID = candidates.front();
    const ChatMessage* user = reading.local.find(job.id);
    if (user && (user->status == MessageStatus::deliveryUnknown || user->status == MessageStatus::deliveryMissing))
        account.setStatus(job.id, MessageStatus::sent);
}

bool isCounted(const ReplyWatch& watch, const Text& id)
{
    return std::binary_search(watch.assistantIDs.begin(), watch.assistantIDs.end(), id);
}

// The replies the page shows for a watch, and their ids. (Views point into the replies' ids,
// which stay in place when the list grows.)
struct WatchedReplies {
    std::vector<DotMessage> replies;
    std::unordered_set<std::string_view> ids;
};

// The replies that correlate with the watched request, then the ones it counted before that the
// page still shows as replies of no other tagged request.
WatchedReplies watchedReplies(const ReplyWatch& watch, const PageReading& reading)
{
    const PendingRequest& job = watch.job;
    const CorrelationPage& page = reading.page;
    WatchedReplies watched { page.correlatedReplies(job), {} };
    auto& replies = watched.replies;

    // With several bots sharing the conversation, an untagged request whose turn is the last
    // one on the page cannot tell its own late replies from other answers: it keeps to the
    // replies it already counted.
    if (!job.replyToken && reading.severalBots && !watch.assistantIDs.empty() && job.userMessageID) {
        if (auto turn = page.position(*job.userMessageID); turn && !page.hasUserTurnAfter(*turn))
            std::erase_if(replies, [&](const DotMessage& m) { return !isCounted(watch, m.id); });
    }

    for (const auto& reply : replies)
        watched.ids.insert(reply.id.view());
    std::vector<DotMessage> added;
    for (const Text& id : watch.assistantIDs) {
        if (watched.ids.count(id.view()))
            continue;
        const DotMessage* shown = page.find(id);
        if (!shown || shown->role != "assistant")
            continue;
        if (auto token = replyToken(shown->text); token && (!job.replyToken || *job.replyToken != *token))
            continue;
        DotMessage cleaned = cleanReply(*shown);
        if (hasReplyContent(cleaned))
            added.push_back(std::move(cleaned));
    }
    for (auto& reply : added) {
        watched.ids.insert(reply.id.view());
        replies.push_back(std::move(reply));
    }
    return watched;
}

bool missesCountedReply(const ReplyWatch& watch, const WatchedReplies& watched)
{
    return std::any_of(watch.assistantIDs.begin(), watch.assistantIDs.end(),
        [&](const Text& id) { return !watched.ids.count(id.view()); });
}

// The page shows exactly the reply already filed, and the watch counted all of it.
bool showsFiledReplyAsCounted(const ReplyWatch& watch, const std::vector<DotMessage>& replies, const ChatMessage* filed)
{
    return hasParts(filed)
        && std::all_of(replies.begin(), replies.end(), [&](const DotMessage& r) { return isCounted(watch, r.id); })
        && showsFiledReply(replies, *filed);
}

std::vector<ReplyPart> partsOf(const std::vector<DotMessage>& replies)
{
    std::vector<ReplyPart> parts;
    parts.reserve(replies.size());
    for (const auto& reply : replies)
        parts.push_back(ReplyPart { reply.id, reply.text, reply.html, std::nullopt, reply.attachments });
    return parts;
}

// Files what the page shows of the request's reply, merged into what is filed already; a reply
// that turns out to be a handoff block is left to acceptance.
void fileMergedReply(Account& account, const PendingRequest& job, const std::vector<DotMessage>& replies,
    const ChatMessage* filed, Date now)
{
    std::vector<ReplyPart> merged = mergedReplyParts(partsOf(replies), filed ? plainParts(filed->parts) : std::nullopt);
    if (merged.empty())
        return;
    std::string text = joinedTexts(merged);
    if (handoffEnvelope(text).kind != HandoffEnvelope::Kind::none)
        return;
    std::optional<Text> html = replyHTML(merged);
    if (filed && filed->text == text && filed->html == html && filed->parts && filed->parts->elements() == merged)
        return;
    account.applyObservedReply(job, ReplyContent { Text(text), std::move(html), std::move(merged) }, now);
    account.setStatus(job.id, MessageStatus::sent);
}

// The watch counts every reply it was shown; it is stored again only when that changed it.
void countReplies(Account& account, std::size_t w, const WatchEdit& edit, const std::vector<DotMessage>& replies)
{
    const ReplyWatch& watch = edit.current();
    std::set<Text> ids(watch.assistantIDs.begin(), watch.assistantIDs.end());
    for (const auto& reply : replies)
        ids.insert(reply.id);
    ReplyWatch updated = watch;
    updated.assistantIDs.assign(ids.begin(), ids.end());
    if (updated != edit.stored())
        account.replyWatches->mutableAt(w) = std::move(updated);
}

// Brings the watch at `w` in line with the page: its turn, the replies it counts and the reply
// filed for its request.
void reconcileWatch(Account& account, std::size_t w, const PageReading& reading, Date now)
{
    WatchEdit edit((*account.replyWatches)[w]);
    dropIDsShownAsOther(edit, reading.page);
    confirmTurn(account, edit, reading);
    const ReplyWatch& watch = edit.current();
    const WatchedReplies watched = watchedReplies(watch, reading);

    const ChatMessage* filed = reading.local.find(replyID(watch.job.id));
    // Until the page shows the whole reply again, a reply filed without parts cannot be
    // rebuilt from what is visible; wait rather than file a fragment.
    if (!hasParts(filed) && missesCountedReply(watch, watched))
        return;
    // The common case on every page change: the page shows exactly the reply already filed.
    // Then merging changes nothing and the watch stays as it is, so the rest is skipped.
    if (!edit.changed() && showsFiledReplyAsCounted(watch, watched.replies, filed))
        return;

    fileMergedReply(account, watch.job, watched.replies, filed, now);
    countReplies(account, w, edit, watched.replies);
}

// ---- Replies that belong to no request ----------------------------------------------------------

// The requests whose replies are accounted for: the watched ones and the queued ones.
std::vector<const PendingRequest*> trackedRequests(const Account& account)
{
    std::vector<const PendingRequest*> tracked;
    if (account.replyWatches)
        for (const auto& watch : *account.replyWatches)
            tracked.push_back(&watch.job);
    for (const auto& job : account.jobs)
        tracked.push_back(&job);
    return tracked;
}

// Where the first of our own request turns stands on the page: only what follows it can be a
// reply to us. The turn is ours when its header names a tracked request or a local user
// message. Tracked requests are few and usually name it; the whole history is read only when the
// page names another request.
std::optional<std::size_t> firstOwnTurn(
    const Account& account, const std::vector<DotMessage>& unique, const std::vector<const PendingRequest*>& tracked)
{
    std::unordered_set<std::string_view> trackedIDs;
    for (const auto* job : tracked)
        trackedIDs.insert(job->id.view());
    std::optional<std::unordered_set<std::string_view>> userIDs;
    auto isOwnRequest = [&](std::string_view id) {
        if (trackedIDs.count(id))
            return true;
        if (!userIDs) {
            userIDs.emplace();
            for (const auto& message : account.messages.elements())
                if (message.role == MessageRole::user)
                    userIDs->insert(message.id.view());
        }
        return userIDs->count(id) > 0;
    };
    for (std::size_t i = 0; i < unique.size(); ++i) {
        if (unique[i].role != "user")
            continue;
        if (auto requestID = requestIDInHeader(unique[i].text); requestID && isOwnRequest(*requestID))
            return i;
    }
    return std::nullopt;
}

// Which of the page's replies after the anchor, and of the replies already offered, the account
// knows already.
//
// Only these two kinds of page id need to be told apart as known or not: the assistant messages
// that the walk may collect, and the replies already offered. Known ids are found by looking these
// few up in every source, rather than gathering every id the account knows. (Views point into the
// page's own messages and the offered replies, which stay in place.)
std::unordered_set<std::string_view> knownReplyIDs(const Account& account, const CorrelationPage& page,
    std::size_t anchor, const std::vector<const PendingRequest*>& tracked)
{
    const std::vector<DotMessage>& unique = page.unique();
    std::unordered_set<std::string_view> candidates;
    for (std::size_t i = anchor + 1; i < unique.size(); ++i)
        if (unique[i].role == "assistant")
            candidates.insert(unique[i].id.view());
    if (account.unassignedReplies)
        for (const auto& offered : *account.unassignedReplies)
            candidates.insert(offered.id.view());
    std::unordered_set<std::string_view> known;
    auto mark = [&](std::string_view id) {
        if (auto candidate = candidates.find(id); candidate != candidates.end())
            known.insert(*candidate);
    };
    // Marking stops as soon as every candidate is known: on most page changes the watches alone
    // account for every reply on the page.
    auto allKnown = [&] { return known.size() == candidates.size(); };
    if (account.replyWatches)
        for (const auto& watch : *account.replyWatches)
            for (const auto& id : watch.assistantIDs)
                mark(id);
    if (!allKnown())
        for (const auto& message : account.messages.elements())
            if (message.parts)
                for (const auto& part : *message.parts)
                    mark(part.id);
    if (!allKnown())
        for (const auto* job : tracked)
            for (const auto& id : page.correlatedReplyIDs(*job))
                mark(id);
    return known;
}

// Tells the page replies that some request or the user already accounts for from the ones to
// offer.
class ReplyClaims {
public:
    ReplyClaims(const Account& account, const std::vector<const PendingRequest*>& tracked,
        const std::unordered_set<std::string_view>& known)
        : tracked_(tracked)
        , known_(known)
    {
        if (account.ignoredRemoteReplyIDs)
            for (const auto& id : *account.ignoredRemoteReplyIDs)
                ignored_.insert(id.view());
    }

    // Known, ignored by the user, a handoff block, tagged for a tracked request, or beginning
    // like a tag without being one.
    bool claimed(const DotMessage& message)
    {
        if (known_.count(message.id.view()) || ignored_.count(message.id.view()))
            return true;
        if (handoffEnvelope(message.text).kind != HandoffEnvelope::Kind::none)
            return true;
        if (auto token = replyToken(message.text))
            return isTrackedToken(*token);
        return trimmed(message.text).starts_with("[qv:");
    }

private:
    bool isTrackedToken(std::string_view token)
    {
        if (!tokens_) {
            tokens_.emplace();
            for (const auto* job : tracked_)
                if (job->replyToken)
                    tokens_->insert(job->replyToken->view());
        }
        return tokens_->count(token) > 0;
    }

    const std::vector<const PendingRequest*>& tracked_;
    const std::unordered_set<std::string_view>& known_;
    std::unordered_set<std::string_view> ignored_;
    std::optional<std::unordered_set<std::string_view>> tokens_;
};

// A page reply the user assigned to a bot is filed again as the page shows it now.
bool importIfAssigned(Account& account, const DotMessage& message, Date now)
{
    if (!account.assignedRemoteReplies)
        return false;
    auto assigned = account.assignedRemoteReplies->find(message.id.str());
    if (assigned == account.assignedRemoteReplies->end())
        return false;
    const ChatMessage* imported = findMessage(account, remoteReplyID(message.id));
    account.importAssignedReply(message, assigned->second, imported ? imported->date : now);
    return true;
}

// Offers the reply to the user, or updates the offer with what the page shows now.
void offerReply(Account& account, const DotMessage& message, Date now)
{
    DotMessage cleaned = cleanReply(message);
    if (!hasReplyContent(cleaned))
        return;
    auto& offered = account.unassignedReplies;
    if (!offered)
        offered.emplace();
    if (UnassignedReply* entry = findByID(*offered, message.id)) {
        if (entry->message != cleaned)
            entry->message = std::move(cleaned);
    } else {
        offered->push_back(UnassignedReply { message.id, std::move(cleaned), now });
    }
}

}  // namespace

void Account::acceptResponse(std::string_view id, const ReplyContent& reply, bool directMention, Date now)
{
    const PendingRequest* found = findByID(jobs, id);
    if (!found || !findBot(*this, found->botID))
        return;
    const PendingRequest job = *found;
    if (job.roleTargets) {
        finishRoleGeneration(id, reply.text);
        return;
    }
    const Text root = rootOf(job);
    if (acceptHandoff(job, reply.text, directMention, now))
        return;

    // A reply that tried to hand off but could not is not shown as written: its block may carry
    // instructions that were refused.
    if (handoffEnvelope(reply.text).kind != HandoffEnvelope::Kind::none)
        complete(job.id, ReplyContent { kHandoffFailedReply }, now);
    else
        complete(job.id, reply, now);
    if (auto filed = positionOfID(messages, replyID(job.id));
        filed && messages[*filed].replyToID != job.parentRequestID)
        messages.mutableAt(*filed).replyToID = job.parentRequestID;
    finishHandoffStatuses(root);
}

void Account::complete(std::string_view id, const ReplyContent& reply, Date now)
{
    const PendingRequest* found = findByID(jobs, id);
    if (!found)
        return;
    const PendingRequest job = *found;
    applyObservedReply(job, reply, now);
    setStatus(id, MessageStatus::sent);
    std::erase_if(jobs, [&](const PendingRequest& j) { return j.id == id; });
}

void Account::applyObservedReply(const PendingRequest& job, const ReplyContent& reply, Date now)
{
    if (job.roleTargets) {
        applyRoleLabels(job, reply.text);
        return;
    }
    ChatMessage message = replyMessage(*this, job, reply, now);
    for (ChatMessage& projected : projectedReplies(message, job))
        fileReply(*this, std::move(projected));
    const ChatMessage* filed = findMessage(*this, message.id);
    passResultOnward(*this, job, filed ? filed->text : reply.text);
}

std::vector<ChatMessage> Account::projectedReplies(const ChatMessage& message, const PendingRequest& job) const
{
    if (isRedundantHandoffReport(job))
        return {};
    std::vector<ChatMessage> projected { message };
    if (message.isRouting.value_or(false))
        return projected;
    for (const Text& destination : replyDestinations(job)) {
        ChatMessage copy = message;
        copy.id = handoffResultID(message.id, destination);
        copy.botID = destination;
        copy.sourceBotID = job.botID;
        copy.replyToID = rootOf(job);
        projected.push_back(std::move(copy));
    }
    return projected;
}

void Account::trackReply(const PendingRequest& job, const std::vector<DotMessage>& messages, bool stopped)
{
    if (!replyWatches)
        replyWatches.emplace();
    const auto& watches = *replyWatches;
    if (std::any_of(watches.begin(), watches.end(), [&](const ReplyWatch& w) { return w.job.id == job.id; }))
        return;
    std::set<Text> ids;
    for (const auto& reply : correlatedReplies(job, messages))
        ids.insert(reply.id);
    replyWatches->push_back(ReplyWatch { job, std::vector<Text>(ids.begin(), ids.end()), stopped });
}

void Account::reconcileReplies(const std::vector<DotMessage>& pageMessages, Date now)
{
    if (!replyWatches || replyWatches->empty())
        return;
    const CorrelationPage page(pageMessages);
    const MessageIndex local(*this);
    const PageReading reading { page, local, requestTurns(page.unique()), severalBotsAwaitReplies(*this) };
    for (std::size_t w = 0; w < replyWatches->size(); ++w)
        reconcileWatch(*this, w, reading, now);
}

void Account::retryUnconfirmed(std::string_view id)
{
    const ChatMessage* message = findMessage(*this, id);
    bool unconfirmed = message
        && (message->status == MessageStatus::deliveryMissing || message->status == MessageStatus::deliveryUnknown);
    bool queued = std::any_of(jobs.begin(), jobs.end(), [&](const PendingRequest& j) { return j.id == id; });
    const ReplyWatch* watch = nullptr;
    if (replyWatches) {
        auto found = std::find_if(
            replyWatches->begin(), replyWatches->end(), [&](const ReplyWatch& w) { return w.job.id == id; });
        if (found != replyWatches->end())
            watch = &*found;
    }
    if (!unconfirmed || queued || !watch)
        throw AppFailure("This message\u2019s status changed. Check the latest reply before trying again.");

    PendingRequest job = watch->job;
    job.phase = JobPhase::queued;
    job.userMessageID.reset();
    job.submitted.reset();
    job.attempts = 0;
    job.nextAttempt.reset();
    job.deliveryChecks.reset();
    job.lastDeliveryCheck.reset();
    job.note = Text();
    erase_if(*replyWatches, [&](const ReplyWatch& w) { return w.job.id == id; });
    jobs.push_back(std::move(job));
    setStatus(id, MessageStatus::queued);
    if (handoffs)
        if (auto handoff = positionOfID(*handoffs, id))
            handoffs->mutableAt(*handoff).status = HandoffStatus::working;
}

void Account::collectUnassignedReplies(const std::vector<DotMessage>& pageMessages, Date now)
{
    const std::vector<const PendingRequest*> tracked = trackedRequests(*this);
    const CorrelationPage page(pageMessages);
    const std::vector<DotMessage>& unique = page.unique();
    const std::optional<std::size_t> anchor = firstOwnTurn(*this, unique, tracked);
    if (!anchor)
        return;
    const std::unordered_set<std::string_view> known = knownReplyIDs(*this, page, *anchor, tracked);
    ReplyClaims claims(*this, tracked, known);

    // A reply follows one of our turns; the user's own turns and their answers are left alone.
    bool afterOurTurn = true;
    for (std::size_t i = *anchor + 1; i < unique.size(); ++i) {
        const DotMessage& message = unique[i];
        if (message.role == "user") {
            afterOurTurn = startsWithRequestHeader(message.text);
            continue;
        }
        if (message.role != "assistant" || !afterOurTurn)
            continue;
        if (importIfAssigned(*this, message, now) || claims.claimed(message))
            continue;
        offerReply(*this, message, now);
    }
    // An offered reply that some request has claimed since is no longer offered. `known` may view
    // the ids of the offers themselves, so none of them is overwritten (as erasing in place would
    // do, releasing the text a later look-up compares against) until every offer has been looked up.
    if (unassignedReplies) {
        std::vector<UnassignedReply> kept;
        kept.reserve(unassignedReplies->size());
        for (const UnassignedReply& offer : *unassignedReplies)
            if (known.count(offer.id.view()) == 0)
                kept.push_back(offer);
        if (kept.size() != unassignedReplies->size())
            *unassignedReplies = std::move(kept);
    }
}

void Account::applyPageChange(const std::vector<DotMessage>& messages, Date now)
{
    reconcileReplies(messages, now);
    collectUnassignedReplies(messages, now);
}

void Account::assignRemoteReply(std::string_view id, std::string_view botID)
{
    const Bot* bot = findBot(*this, botID);
    const UnassignedReply* reply = unassignedReplies ? findByID(*unassignedReplies, id) : nullptr;
    if (!bot || bot->archived || !reply)
        throw AppFailure("That reply is no longer available.");
    const UnassignedReply chosen = *reply;
    if (!assignedRemoteReplies)
        assignedRemoteReplies.emplace();
    (*assignedRemoteReplies)[std::string(id)] = Text(botID);
    importAssignedReply(chosen.message, botID, chosen.date);
    std::erase_if(*unassignedReplies, [&](const UnassignedReply& r) { return r.id == id; });
}

void Account::importAssignedReply(const DotMessage& message, std::string_view botID, Date date)
{
    DotMessage cleaned = cleanReply(message);
    if (!hasReplyContent(cleaned))
        return;
    ChatMessage imported;
    imported.id = remoteReplyID(message.id);
    imported.botID = botID;
    imported.role = MessageRole::assistant;
    imported.text = cleaned.text;
    imported.html = cleaned.html;
    imported.date = date;
    imported.status = MessageStatus::sent;
    imported.parts
        = CowVector<ReplyPart> { ReplyPart { message.id, cleaned.text, cleaned.html, date, cleaned.attachments } };

    auto position = positionOfID(messages, imported.id);
    if (!position) {
        messages.push_back(std::move(imported));
        markUnread(*this, Text(botID));
        return;
    }
    const ChatMessage& existing = messages[*position];
    imported.date = existing.date;
    imported.parts->mutableAt(0).date = existing.date;
    if (imported == existing)
        return;
    messages.mutableAt(*position) = std::move(imported);
    markUnread(*this, Text(botID));
}

}  // namespace quorvane
