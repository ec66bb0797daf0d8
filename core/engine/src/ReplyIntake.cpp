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
}  // namespace

void Account::acceptResponse(std::string_view id, std::string_view reply, const std::optional<Text>& html,
    const std::optional<std::vector<ReplyPart>>& parts, bool directMention, Date now)
{
    const PendingRequest* found = findByID(jobs, id);
    if (!found || !findBot(*this, found->botID))
        return;
    const PendingRequest job = *found;
    if (job.roleTargets) {
        finishRoleGeneration(id, Text(reply));
        return;
    }
    const Text root = rootOf(job);
    if (acceptHandoff(job, reply, directMention, now))
        return;

    // A reply that tried to hand off but could not is not shown as written: its block may carry
    // instructions that were refused.
    if (handoffEnvelope(reply).kind != HandoffEnvelope::Kind::none)
        complete(job.id, kHandoffFailedReply, std::nullopt, std::nullopt, now);
    else
        complete(job.id, reply, html, parts, now);
    if (auto filed = positionOfID(messages, replyID(job.id));
        filed && messages[*filed].replyToID != job.parentRequestID)
        messages.mutableAt(*filed).replyToID = job.parentRequestID;
    finishHandoffStatuses(root);
}

void Account::complete(std::string_view id, std::string_view reply, const std::optional<Text>& html,
    const std::optional<std::vector<ReplyPart>>& parts, Date now)
{
    const PendingRequest* found = findByID(jobs, id);
    if (!found)
        return;
    const PendingRequest job = *found;
    applyObservedReply(job, reply, html, parts, now);
    setStatus(id, MessageStatus::sent);
    std::erase_if(jobs, [&](const PendingRequest& j) { return j.id == id; });
}

void Account::applyObservedReply(const PendingRequest& job, std::string_view reply, const std::optional<Text>& html,
    const std::optional<std::vector<ReplyPart>>& parts, Date now)
{
    if (job.roleTargets) {
        applyRoleLabels(job, reply);
        return;
    }
    const Text filedID = replyID(job.id);
    ChatMessage message;
    message.id = filedID;
    message.botID = job.botID;
    message.role = MessageRole::assistant;
    message.text = reply;
    message.date = job.submitted.value_or(now);
    message.status = MessageStatus::sent;
    message.html = html;
    message.replyToID = job.parentRequestID;
    if (parts) {
        const ChatMessage* existing = findMessage(*this, filedID);
        Date firstDate = existing ? existing->date : job.submitted.value_or(now);
        std::optional<Date> observedAt = hasParts(existing) ? std::optional<Date>(now) : std::nullopt;
        message.parts
            = datedReplyParts(*parts, existing ? plainParts(existing->parts) : std::nullopt, firstDate, observedAt);
    }

    for (ChatMessage& projected : projectedReplies(message, job)) {
        auto position = positionOfID(messages, projected.id);
        if (!position) {
            Text botID = projected.botID;
            messages.push_back(std::move(projected));
            markUnread(*this, botID);
            continue;
        }
        const ChatMessage* existing = &messages[*position];
        if (isOlderReading(projected.text, existing->text))
            continue;
        projected.date = existing->date;
        if (projected == *existing)
            continue;
        bool contentChanged = projected.text != existing->text || projected.html != existing->html
            || allAttachments(projected) != allAttachments(*existing);
        Text botID = projected.botID;
        messages.mutableAt(*position) = std::move(projected);
        if (contentChanged)
            markUnread(*this, botID);
    }

    // Reports that carry this result onward receive it in their payload.
    const ChatMessage* filed = findMessage(*this, filedID);
    const Text resultText = filed ? filed->text : Text(reply);
    for (auto& waiting : jobs) {
        if (waiting.resultRequestID != job.id || waiting.phase != JobPhase::queued)
            continue;
        const ChatMessage* original = findMessage(*this, rootOf(job));
        const Bot* bot = findBot(*this, job.botID);
        auto at = waiting.payload.rfind(kUserMessageMarker);
        if (at == Text::npos)
            continue;
        std::string payload(waiting.payload.substr(0, at + kUserMessageMarker.size()));
        payload += "Original request:\n";
        payload += original ? original->text.view() : std::string_view("Continue the original task.");
        payload += "\n\nResult from ";
        payload += bot ? bot->name.view() : std::string_view("your teammate");
        payload += ":\n";
        payload += prefixCharacters(resultText, 10000);
        waiting.payload = payload;
    }
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
    // Everything about the page is worked out once, so each watch costs only its own replies.
    const CorrelationPage page(pageMessages);
    const std::vector<DotMessage>& unique = page.unique();
    MessageIndex local(*this);

    std::unordered_set<std::string_view> bots;
    for (const auto& watch : *replyWatches)
        bots.insert(watch.job.botID.view());
    for (const auto& job : jobs)
        bots.insert(job.botID.view());
    const bool severalBots = bots.size() > 1;

    // Our own request turns on the page, by the request id their envelope names.
    std::unordered_map<std::string_view, std::vector<Text>> turns;
    for (const auto& message : unique) {
        if (message.role != "user")
            continue;
        if (auto requestID = requestIDInHeader(message.text))
            turns[*requestID].push_back(message.id);
    }

    for (std::size_t w = 0; w < replyWatches->size(); ++w) {
        // Most watches do not change on a page change, so a watch is copied only once it does.
        const ReplyWatch& stored = (*replyWatches)[w];
        std::optional<ReplyWatch> changed;
        auto change = [&]() -> ReplyWatch& {
            if (!changed)
                changed = stored;
            return *changed;
        };

        auto shownAsOther = [&](const Text& id) {
            const DotMessage* shown = page.find(id);
            return shown && shown->role != "assistant";
        };
        if (std::any_of(stored.assistantIDs.begin(), stored.assistantIDs.end(), shownAsOther))
            std::erase_if(change().assistantIDs, shownAsOther);

        if (auto turn = turns.find(stored.job.id.view()); turn != turns.end()) {
            std::vector<Text> candidates;
            for (const auto& id : turn->second)
                if (!inBaseline(stored.job.baseline, id))
                    candidates.push_back(id);
            if (candidates.size() == 1) {
                if (stored.job.userMessageID != candidates.front())
                    change().job.userMessageID = candidates.front();
                const ChatMessage* user = local.find(stored.job.id);
                if (user
                    && (user->status == MessageStatus::deliveryUnknown
                        || user->status == MessageStatus::deliveryMissing))
                    setStatus(stored.job.id, MessageStatus::sent);
            }
        }
        const ReplyWatch& watch = changed ? *changed : stored;
        const PendingRequest& job = watch.job;

        std::vector<DotMessage> replies = page.correlatedReplies(job);
        auto counted = [&](const Text& id) {
            return std::binary_search(watch.assistantIDs.begin(), watch.assistantIDs.end(), id);
        };

        // With several bots sharing the conversation, an untagged request whose turn is the last
        // one on the page cannot tell its own late replies from other answers: it keeps to the
        // replies it already counted.
        if (!job.replyToken && severalBots && !watch.assistantIDs.empty() && job.userMessageID) {
            if (auto turn = page.position(*job.userMessageID); turn && !page.hasUserTurnAfter(*turn))
                std::erase_if(replies, [&](const DotMessage& m) { return !counted(m.id); });
        }

        std::unordered_set<std::string_view> replyIDs;
        for (const auto& reply : replies)
            replyIDs.insert(reply.id.view());
        std::vector<DotMessage> added;
        for (const Text& id : watch.assistantIDs) {
            if (replyIDs.count(id.view()))
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
            replyIDs.insert(reply.id.view());
            replies.push_back(std::move(reply));
        }

        const ChatMessage* existing = local.find(replyID(job.id));
        // Until the page shows the whole reply again, a reply filed without parts cannot be
        // rebuilt from what is visible; wait rather than file a fragment.
        if (!hasParts(existing)) {
            bool missing = std::any_of(watch.assistantIDs.begin(), watch.assistantIDs.end(),
                [&](const Text& id) { return !replyIDs.count(id.view()); });
            if (missing)
                continue;
        }

        // The common case on every page change: the page shows exactly the reply already filed.
        // Then merging changes nothing and the watch stays as it is, so the rest is skipped.
        if (!changed && hasParts(existing)
            && std::all_of(replies.begin(), replies.end(), [&](const DotMessage& r) { return counted(r.id); })
            && showsFiledReply(replies, *existing))
            continue;

        std::vector<ReplyPart> fresh;
        fresh.reserve(replies.size());
        for (const auto& reply : replies)
            fresh.push_back(ReplyPart { reply.id, reply.text, reply.html, std::nullopt, reply.attachments });
        std::vector<ReplyPart> merged = mergedReplyParts(fresh, existing ? plainParts(existing->parts) : std::nullopt);

        std::string text = joinedTexts(merged);
        std::optional<Text> htmlValue = replyHTML(merged);
        if (!merged.empty() && handoffEnvelope(text).kind == HandoffEnvelope::Kind::none) {
            bool unchanged = existing && existing->text == text && existing->html == htmlValue && existing->parts
                && existing->parts->elements() == merged;
            if (!unchanged) {
                applyObservedReply(job, text, htmlValue, merged, now);
                setStatus(job.id, MessageStatus::sent);
            }
        }

        std::set<Text> ids(watch.assistantIDs.begin(), watch.assistantIDs.end());
        for (const auto& reply : replies)
            ids.insert(reply.id);
        ReplyWatch updated = watch;
        updated.assistantIDs.assign(ids.begin(), ids.end());
        if (updated != stored)
            replyWatches->mutableAt(w) = std::move(updated);
    }
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
    std::vector<const PendingRequest*> tracked;
    if (replyWatches)
        for (const auto& watch : *replyWatches)
            tracked.push_back(&watch.job);
    for (const auto& job : jobs)
        tracked.push_back(&job);

    // The anchor is named by a tracked request or a local user message. Tracked requests are few
    // and usually name it; the whole history is read only when the page names another request.
    std::unordered_set<std::string_view> trackedIDs;
    for (const auto* job : tracked)
        trackedIDs.insert(job->id.view());
    std::optional<std::unordered_set<std::string_view>> userIDs;
    auto isAnchorID = [&](std::string_view id) {
        if (trackedIDs.count(id))
            return true;
        if (!userIDs) {
            userIDs.emplace();
            for (const auto& message : messages.elements())
                if (message.role == MessageRole::user)
                    userIDs->insert(message.id.view());
        }
        return userIDs->count(id) > 0;
    };

    const CorrelationPage page(pageMessages);
    const std::vector<DotMessage>& unique = page.unique();

    // Only what follows the first of our own request turns can be a reply to us.
    std::size_t anchor = unique.size();
    for (std::size_t i = 0; i < unique.size() && anchor == unique.size(); ++i) {
        if (unique[i].role != "user")
            continue;
        if (auto requestID = requestIDInHeader(unique[i].text); requestID && isAnchorID(*requestID))
            anchor = i;
    }
    if (anchor == unique.size())
        return;

    // Only two kinds of page id need to be told apart as known or not: the assistant messages
    // that the walk below may collect, and the replies already offered. Known ids are found by
    // looking these few up in every source, rather than gathering every id the account knows.
    // (Views point into the page's own messages and the offered replies, which stay in place.)
    std::unordered_set<std::string_view> candidates;
    for (std::size_t i = anchor + 1; i < unique.size(); ++i)
        if (unique[i].role == "assistant")
            candidates.insert(unique[i].id.view());
    if (unassignedReplies)
        for (const auto& offered : *unassignedReplies)
            candidates.insert(offered.id.view());
    std::unordered_set<std::string_view> known;
    auto mark = [&](std::string_view id) {
        if (auto candidate = candidates.find(id); candidate != candidates.end())
            known.insert(*candidate);
    };
    // Marking stops as soon as every candidate is known: on most page changes the watches alone
    // account for every reply on the page.
    auto allKnown = [&] { return known.size() == candidates.size(); };
    if (replyWatches)
        for (const auto& watch : *replyWatches)
            for (const auto& id : watch.assistantIDs)
                mark(id);
    if (!allKnown())
        for (const auto& message : messages.elements())
            if (message.parts)
                for (const auto& part : *message.parts)
                    mark(part.id);
    if (!allKnown())
        for (const auto* job : tracked)
            for (const auto& id : page.correlatedReplyIDs(*job))
                mark(id);
    std::optional<std::unordered_set<std::string_view>> tokens;
    auto isTrackedToken = [&](std::string_view token) {
        if (!tokens) {
            tokens.emplace();
            for (const auto* job : tracked)
                if (job->replyToken)
                    tokens->insert(job->replyToken->view());
        }
        return tokens->count(token) > 0;
    };
    std::unordered_set<std::string_view> ignored;
    if (ignoredRemoteReplyIDs)
        for (const auto& id : *ignoredRemoteReplyIDs)
            ignored.insert(id.view());

    bool afterOurTurn = true;
    for (std::size_t i = anchor + 1; i < unique.size(); ++i) {
        const DotMessage& message = unique[i];
        if (message.role == "user") {
            afterOurTurn = startsWithRequestHeader(message.text);
            continue;
        }
        if (message.role != "assistant" || !afterOurTurn)
            continue;
        if (assignedRemoteReplies) {
            if (auto assigned = assignedRemoteReplies->find(message.id.str());
                assigned != assignedRemoteReplies->end()) {
                const ChatMessage* imported = findMessage(*this, remoteReplyID(message.id));
                importAssignedReply(message, assigned->second, imported ? imported->date : now);
                continue;
            }
        }
        if (known.count(message.id.view()) || ignored.count(message.id.view()))
            continue;
        if (handoffEnvelope(message.text).kind != HandoffEnvelope::Kind::none)
            continue;
        if (auto token = replyToken(message.text)) {
            if (isTrackedToken(*token))
                continue;
        } else if (trimmed(message.text).starts_with("[qv:")) {
            continue;
        }
        DotMessage cleaned = cleanReply(message);
        if (!hasReplyContent(cleaned))
            continue;
        if (!unassignedReplies)
            unassignedReplies.emplace();
        if (UnassignedReply* entry = findByID(*unassignedReplies, message.id)) {
            if (entry->message != cleaned)
                entry->message = std::move(cleaned);
        } else {
            unassignedReplies->push_back(UnassignedReply { message.id, std::move(cleaned), now });
        }
    }
    if (unassignedReplies)
        std::erase_if(*unassignedReplies, [&](const UnassignedReply& r) { return known.count(r.id.view()) > 0; });
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
