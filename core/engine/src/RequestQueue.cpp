// The request queue and the crew roster: queueing a user message for a bot, taking a request
// back into the draft, giving up on a reply, archiving and restoring bots, repairing the queue
// after a restart, and the rules for saving a bot and clearing the history.

#include <algorithm>
#include <array>

#include <boost/json/serialize.hpp>
#include <boost/json/value.hpp>

#include "AccountLists.hpp"
#include "AvatarImage.hpp"
#include "EngineCommon.hpp"
#include "TeammateMention.hpp"
#include "quorvane/Account.hpp"
#include "quorvane/AppFailure.hpp"
#include "quorvane/ConversationContext.hpp"
#include "quorvane/Orchestration.hpp"
#include "quorvane/RosterLimits.hpp"
#include "quorvane/TextRules.hpp"

namespace quorvane {

namespace {

bool isCancellable(JobPhase phase) { return phase == JobPhase::queued || phase == JobPhase::failed; }

bool isStoppable(JobPhase phase)
{
    return phase == JobPhase::waiting || phase == JobPhase::delayed || phase == JobPhase::uncertain
        || phase == JobPhase::composing;
}

bool wasInFlight(JobPhase phase)
{
    return phase == JobPhase::submitting || phase == JobPhase::waiting || phase == JobPhase::delayed
        || phase == JobPhase::uncertain;
}

bool isWaitingLabelJob(const PendingRequest& job) { return job.roleTargets && job.phase == JobPhase::queued; }

const Bot* findActiveBot(const Account& account, std::string_view id)
{
    const Bot* bot = findBot(account, id);
    return bot && !bot->archived ? bot : nullptr;
}

// The user gave up on this request: the handoff that carries it, and the handoffs above it, are
// stopped, and the root message no longer claims a reply is coming.
void stopHandoffs(Account& account, const PendingRequest& job)
{
    if (account.handoffs) {
        std::vector<Text> visited { job.id };
        Text current = job.id;
        while (true) {
            auto& list = *account.handoffs;
            auto found = positionOfID(list, current);
            if (!found)
                break;
            std::optional<Text> parent = list[*found].parentRequestID;
            list.mutableAt(*found).status = HandoffStatus::stopped;
            if (!parent || std::find(visited.begin(), visited.end(), *parent) != visited.end())
                break;
            current = *parent;
            visited.push_back(current);
        }
    }
    account.setStatus(rootOf(job), MessageStatus::unconfirmed);
}

// {"request_id":…,"task":…,"to":…}: the block a bot would write to hand the task to one teammate.
std::string directMentionBlock(std::string_view id, std::string_view task, std::string_view to)
{
    boost::json::object directive;
    directive["request_id"] = id;  // keys inserted in sorted order; the object keeps that order
    directive["task"] = task;
    directive["to"] = to;
    return "```quorvane-handoff\n" + boost::json::serialize(directive) + "\n```";
}

}  // namespace

void Account::enqueue(std::string_view text, std::string_view id, bool manual, const std::optional<Text>& botID,
    const std::optional<Text>& replyTo, const std::optional<Text>& replyPart, Date now)
{
    const std::string_view message = trimmed(text);
    if (message.empty() && !manual)
        throw AppFailure("Write a message first.");
    if (jobs.size() >= kQueueLimit)
        throw AppFailure("Let a few queued messages finish first.");
    const Text target = botID.value_or(selectedBot);
    const Bot* found = findActiveBot(*this, target);
    if (!found)
        throw AppFailure("Choose an active Dot.");
    const Bot bot = *found;

    std::optional<QuotedReply> quote;
    std::string inputText(message);
    if (replyTo) {
        quote = quotedMessage(*replyTo, replyPart, bot.id);
        inputText = quotedReplyBlock(quote->author, quote->text) + inputText;
    }

    PendingRequest job = PendingRequest::make(id, bot, inputText);
    job.rootRequestID = Text(id);
    job.delegationDepth = 0;
    job.manual = manual;
    configurePayload(job, bot, inputText);
    if (characterCount(job.payload) > kPayloadCharacterLimit)
        throw AppFailure("That message is too long. Try splitting it into smaller parts.");

    // Every check has passed; from here on the account changes.
    ChatMessage user;
    user.id = id;
    user.botID = bot.id;
    user.role = MessageRole::user;
    user.text = manual && message.empty() ? std::string_view("Message from Dot\u2019s full composer") : message;
    user.date = now;
    user.status = MessageStatus::queued;
    user.quotedReply = quote;
    messages.push_back(std::move(user));

    if (draftReplies)
        draftReplies->erase(bot.id.str());

    auto waitingLabels = std::find_if(jobs.begin(), jobs.end(), isWaitingLabelJob);
    jobs.insert(waitingLabels, std::move(job));
    drafts[bot.id.str()] = Text();

    if (manual)
        return;
    if (auto mention = mentionedTeammate(*this, message, bot.id)) {
        std::string_view rest = trimmed(message.substr(mention->end));
        if (!rest.empty())
            acceptResponse(id, ReplyContent { directMentionBlock(id, rest, mention->bot.id) }, true, now);
    }
}

void Account::cancelQueued(std::string_view id)
{
    auto found = std::find_if(
        jobs.begin(), jobs.end(), [&](const PendingRequest& j) { return j.id == id && isCancellable(j.phase); });
    if (found == jobs.end())
        throw AppFailure("This message may already be in Dot. It can\u2019t be cancelled here.");
    const PendingRequest job = *found;

    if (const ChatMessage* message = findMessage(*this, id)) {
        const std::string key = job.botID.str();
        auto draft = drafts.find(key);
        const Text current = draft == drafts.end() ? Text() : draft->second;
        drafts[key] = current.empty() ? message->text : Text(current + "\n\n" + message->text);
        bool hasQuote = draftReplies && draftReplies->count(key);
        if (!hasQuote && message->quotedReply) {
            if (!draftReplies)
                draftReplies.emplace();
            (*draftReplies)[key] = *message->quotedReply;
        }
    }
    stopHandoffs(*this, job);
    // Some of the text may already stand in the Dot composer; the run loop clears it there.
    if (job.attempts.value_or(0) > 0)
        appendOnce(pendingDraftCleanup, job.payload);
    erase_if(messages, [&](const ChatMessage& m) { return m.id == id; });
    std::erase_if(jobs, [&](const PendingRequest& j) { return j.id == id; });
}

void Account::stopWaiting(std::string_view id)
{
    auto found = std::find_if(
        jobs.begin(), jobs.end(), [&](const PendingRequest& j) { return j.id == id && isStoppable(j.phase); });
    if (found == jobs.end())
        throw AppFailure("This message is still being processed. Check its status first.");
    const PendingRequest job = *found;
    trackReply(job, {}, true);
    stopHandoffs(*this, job);
    setStatus(id, MessageStatus::unconfirmed);
    std::erase_if(jobs, [&](const PendingRequest& j) { return j.id == id; });
}

void Account::archive(std::string_view botID)
{
    if (botID == kPrimaryBotID)
        throw AppFailure("Your primary Dot stays in the sidebar.");
    if (std::any_of(jobs.begin(), jobs.end(), [&](const PendingRequest& j) { return j.botID == botID; }))
        throw AppFailure("Wait for this Dot\u2019s pending messages before archiving it.");
    if (handoffs) {
        bool working = std::any_of(handoffs->begin(), handoffs->end(), [&](const Handoff& h) {
            return h.status == HandoffStatus::working && (h.sourceBotID == botID || h.targetBotID == botID);
        });
        if (working)
            throw AppFailure("Wait for this Dot\u2019s handoffs before archiving it.");
    }
    if (Bot* bot = findBot(*this, botID))
        bot->archived = true;
    if (selectedBot == botID)
        selectedBot = kPrimaryBotID;
}

void Account::restore(std::string_view botID)
{
    if (Bot* bot = findBot(*this, botID))
        bot->archived = false;
}

void Account::recover()
{
    removeRequestEchoes();
    retireRedundantHandoffReports();

    // A reply that asked for a handoff but whose handoff was never recorded (the application
    // stopped in between) is taken back, and its request waits for it again.
    std::vector<Text> delegatingReplies;
    for (const auto& message : messages.elements())
        if (message.role == MessageRole::assistant && requestOfReply(message.id)
            && handoffEnvelope(message.text).kind == HandoffEnvelope::Kind::valid)
            delegatingReplies.push_back(message.id);
    for (const Text& filedID : delegatingReplies) {
        const std::string requestID(*requestOfReply(filedID));
        if (std::any_of(jobs.begin(), jobs.end(), [&](const PendingRequest& j) { return j.id == requestID; }))
            continue;
        if (handoffs && std::any_of(handoffs->begin(), handoffs->end(), [&](const Handoff& h) {
                return h.parentRequestID == requestID;
            }))
            continue;
        const auto& history = messages.elements();
        auto user = std::find_if(history.begin(), history.end(),
            [&](const ChatMessage& m) { return m.id == requestID && m.role == MessageRole::user; });
        if (user == history.end())
            continue;
        const Bot* bot = findBot(*this, user->botID);
        if (!bot)
            continue;
        PendingRequest job = PendingRequest::make(requestID, *bot, user->text);
        job.phase = JobPhase::waiting;
        job.submitted = user->date;
        job.rootRequestID = Text(requestID);
        jobs.insert(jobs.begin(), std::move(job));
        erase_if(messages, [&](const ChatMessage& m) { return m.id == filedID; });
    }

    for (auto& job : jobs) {
        if (wasInFlight(job.phase)) {
            job.phase = JobPhase::uncertain;
            setStatus(job.id, MessageStatus::uncertain);
        } else if (job.phase == JobPhase::preparing) {
            job.phase = JobPhase::queued;
            job.note = Text();
            setStatus(job.id, MessageStatus::queued);
        }
    }
}

void Account::saveBot(const BotEdit& edit)
{
    const std::string_view name = trimmed(edit.name);
    const std::string_view personality = trimmed(edit.personality);
    const std::size_t nameLength = characterCount(name);
    const std::size_t personalityLength = characterCount(personality);
    if (nameLength == 0 || nameLength > kBotNameLimit || personalityLength == 0
        || personalityLength > kBotPersonalityLimit)
        throw AppFailure("Add a name and a short personality description.");

    std::optional<Text> role;
    if (edit.role) {
        std::string_view given = trimmed(*edit.role);
        if (characterCount(given) > kBotRoleLimit)
            throw AppFailure("Keep the short role to 48 characters or fewer.");
        if (!given.empty())
            role = Text(given);
    }

    const Text kind = edit.kind.value_or("dot");
    if (std::find(kAvatarKinds.begin(), kAvatarKinds.end(), kind.view()) == kAvatarKinds.end())
        throw AppFailure("Choose an avatar.");

    if (edit.image && !isAcceptableAvatar(*edit.image))
        throw AppFailure("Choose a smaller PNG avatar.");

    if (Bot* existing = edit.id ? findBot(*this, *edit.id) : nullptr) {
        if (existing->id == kPrimaryBotID)
            throw AppFailure("Create a new Dot to use a custom personality.");
        existing->name = name;
        existing->kind = kind;
        existing->personality = personality;
        existing->role = role;
        existing->image = edit.image;
        existing->invalidateGeneratedRoleIfNeeded();
    } else {
        if (bots.size() >= kCrewLimit)
            throw AppFailure("Your crew is full for now.");
        Bot bot;
        bot.id = newUUID();
        bot.name = name;
        bot.kind = kind;
        bot.personality = personality;
        bot.role = role;
        bot.image = edit.image;
        bot.invalidateGeneratedRoleIfNeeded();
        selectedBot = bot.id;
        bots.push_back(std::move(bot));
    }
    std::erase_if(jobs, isWaitingLabelJob);
}

void Account::clearHistory()
{
    if (!jobs.empty())
        throw AppFailure("Wait for pending messages before clearing history.");
    messages.clear();
    drafts.clear();
    draftReplies.emplace();
    handoffs.emplace();
    unreadBots.emplace();
    readReplyIDs.emplace();
    replyWatches.emplace();
    unassignedReplies.emplace();
    assignedRemoteReplies.emplace();
    ignoredRemoteReplyIDs.emplace();
}

}  // namespace quorvane
