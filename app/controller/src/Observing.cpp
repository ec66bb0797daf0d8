// Following a sent request: its turn on the page, its growing reply (shown as the live reply and
// accepted once it stays the same while the page rests), and what happens when the turn or the
// reply does not come: delayed, refreshed, uncertain, delivery checks.

#include <algorithm>
#include <unordered_set>

#include "RunLoopSupport.hpp"
#include "Sentences.hpp"
#include "quorvane/Orchestration.hpp"
#include "quorvane/ReplyCorrelation.hpp"
#include "quorvane/TextRules.hpp"
#include "quorvane/controller/RunLoopTiming.hpp"

namespace quorvane {

namespace {

using namespace run_loop_timing;

// The reading that must stay the same for a reply to count as finished: everything the user
// would see of it, each piece prefixed with its length so that no two readings run together.
std::string readingOf(const ChatMessage& reply)
{
    std::string reading;
    for (const Text& piece : reply.readReceipt()) {
        reading += std::to_string(piece.size());
        reading += ':';
        reading += piece.view();
    }
    return reading;
}

// The reply as it stands now, built from its parts on the page merged into what was seen before.
ChatMessage liveReplyFor(const PendingRequest& job, const std::vector<DotMessage>& messages,
    const std::optional<ChatMessage>& current, const Account& account, Date now)
{
    const Text id = job.id + "-reply";
    std::optional<std::vector<ReplyPart>> previous;
    Date firstDate = job.submitted.value_or(now);
    if (current && current->id == id) {
        firstDate = current->date;
        if (current->parts)
            previous = current->parts->elements();
    } else {
        const auto& stored = account.messages.elements();
        auto found = std::find_if(stored.begin(), stored.end(), [&](const ChatMessage& m) { return m.id == id; });
        if (found != stored.end()) {
            firstDate = found->date;
            if (found->parts)
                previous = found->parts->elements();
        }
    }
    std::vector<ReplyPart> parts
        = datedReplyParts(mergedReplyParts(replyPartsFor(job, messages), previous), previous, firstDate, now);

    std::string text, html;
    bool anyHTML = false;
    for (const ReplyPart& part : parts) {
        if (!part.text.empty()) {
            if (!text.empty())
                text += "\n\n";
            text += part.text.view();
        }
        if (part.html) {
            if (anyHTML)
                html += "\n";
            html += part.html->view();
            anyHTML = true;
        }
    }
    ChatMessage reply;
    reply.id = id;
    reply.botID = job.botID;
    reply.role = MessageRole::assistant;
    reply.text = text;
    reply.date = firstDate;
    reply.status = MessageStatus::streaming;
    if (!html.empty())
        reply.html = html;
    reply.parts = CowVector<ReplyPart>(std::move(parts));
    reply.isRouting = isHandoffResponse(text);
    return reply;
}

// Whether a page message after the request's turn (up to the next user turn) is one the account
// already filed elsewhere: offered as an unassigned reply, assigned by the user, or dismissed.
bool replyAlreadyKnown(const Account& account, const std::vector<DotMessage>& messages, std::string_view turnID)
{
    auto turn = std::find_if(messages.begin(), messages.end(), [&](const DotMessage& m) { return m.id == turnID; });
    if (turn == messages.end())
        return false;
    std::unordered_set<std::string_view> known;
    if (account.unassignedReplies)
        for (const auto& reply : *account.unassignedReplies)
            known.insert(reply.id.view());
    if (account.assignedRemoteReplies)
        for (const auto& [pageID, bot] : *account.assignedRemoteReplies)
            known.insert(pageID);
    if (account.ignoredRemoteReplyIDs)
        for (const Text& ignored : *account.ignoredRemoteReplyIDs)
            known.insert(ignored.view());
    for (auto next = std::next(turn); next != messages.end() && next->role != "user"; ++next)
        if (known.contains(next->id.view()))
            return true;
    return false;
}

// Whether the page still shows the last (up to) three messages it showed when the request was
// sent: then it is the same page, and the request's absence from it means it never arrived.
bool baselineStillShown(const PendingRequest& job, const std::vector<DotMessage>& messages)
{
    std::unordered_set<std::string_view> shown;
    for (const DotMessage& message : messages)
        shown.insert(message.id.view());
    const auto& baseline = job.baseline.elements();
    for (std::size_t i = baseline.size() > 3 ? baseline.size() - 3 : 0; i < baseline.size(); ++i)
        if (!shown.contains(baseline[i].view()))
            return false;
    return true;
}

}  // namespace

// Once the run loop has accepted `job`'s reply: when that filed a reply the user can read (not a
// handoff, which files a routing notice instead, nor a report that the teammates' results made
// redundant), the desktop hears of it. Streaming never gets here: only acceptance does, once.
void Controller::noticeFiledReply(const PendingRequest& job)
{
    const Account& account = vault_.account();
    if (run_loop::findJob(account, job.id.view()))
        return;
    const std::string replyID = job.id.str() + "-reply";
    for (const ChatMessage& message : account.messages.elements()) {
        if (message.id != replyID)
            continue;
        if (message.role != MessageRole::assistant || message.isRouting.value_or(false))
            return;
        auto bot = std::find_if(
            account.bots.begin(), account.bots.end(), [&](const Bot& b) { return b.id == message.botID; });
        if (bot == account.bots.end())
            return;
        services_.notifications.replyFiled(
            ReplyNotice { account.id.str(), bot->id.str(), bot->name.str(), replyNoticeBody(message.text.view()) });
        return;
    }
}

Task<void> Controller::observe(const PendingRequest& first, const DotSnapshot& snapshot)
{
    const std::vector<DotMessage>& messages = snapshot.messages;
    const std::string id = first.id.str();
    const std::optional<std::string> turn = matchingTurn(first, messages);
    if (turn
        && (first.userMessageID != turn || first.phase == JobPhase::composing || first.phase == JobPhase::submitting
            || first.phase == JobPhase::uncertain)) {
        turnTransaction([&](Vault& vault) {
            Account& account = vault.account();
            if (PendingRequest* job = run_loop::findJob(account, id))
                job->userMessageID = *turn;
            run_loop::setPhase(account, id, JobPhase::waiting, MessageStatus::waiting);
        });
        if (first.manual.value_or(false))
            browser_->hideWindow();
    }

    const PendingRequest* current = run_loop::findJob(vault_.account(), id);
    if (!current)
        co_return;
    const PendingRequest job = *current;
    const Date now = this->now();
    const std::optional<std::string> reply = replyFor(job, messages);

    if (job.roleTargets) {
        if (!reply) {
            candidate.clear();
        } else {
            if (*reply != candidate) {
                candidate = *reply;
                candidateSince = now;
            }
            if (!snapshot.busy && now - candidateSince >= replyStable) {
                turnTransaction([&](Vault& vault) {
                    vault.account().trackReply(job, messages, false);
                    vault.account().finishRoleGeneration(id, Text(*reply));
                });
                candidate.clear();
            }
        }
        if (job.submitted && now - *job.submitted > roleLabelTimeout && run_loop::findJob(vault_.account(), id)) {
            turnTransaction([&](Vault& vault) {
                vault.account().trackReply(job, messages, true);
                vault.account().finishRoleGeneration(id, std::nullopt);
            });
            candidate.clear();
        }
        co_return;
    }

    if (reply) {
        liveReply = liveReplyFor(job, messages, liveReply, vault_.account(), now);
        const std::string reading = readingOf(*liveReply);
        if (reading != candidate) {
            candidate = reading;
            candidateSince = now;
        }
        const bool unfinishedHandoff = handoffResponseIsIncomplete(liveReply->text);
        const bool stable
            = unfinishedHandoff ? now - candidateSince > unfinishedHandoffStable : now - candidateSince >= replyStable;
        if (!snapshot.busy && stable) {
            const ChatMessage accepted = *std::exchange(liveReply, std::nullopt);
            turnTransaction([&](Vault& vault) {
                Account& account = vault.account();
                if (!isHandoffResponse(accepted.text))
                    account.trackReply(job, messages, false);
                std::optional<std::vector<ReplyPart>> parts;
                if (accepted.parts)
                    parts = accepted.parts->elements();
                account.acceptResponse(id, ReplyContent { accepted.text, accepted.html, parts }, false, now);
            });
            candidate.clear();
            noticeFiledReply(job);
        }
        co_return;
    }

    candidate.clear();
    if (!job.submitted)
        co_return;
    const double elapsed = now - *job.submitted;
    const bool composerEmpty = trimmed(snapshot.draft).empty();
    const std::string url = vault_.account().dotURL.str();

    if (turn) {
        if (job.replyToken && job.userMessageID && elapsed > replyDelayed && !snapshot.busy
            && replyAlreadyKnown(vault_.account(), messages, *job.userMessageID)) {
            // Its reply came without the tag and was filed as a stray; the user decides.
            turnTransaction([&](Vault& vault) {
                vault.account().stopWaiting(id);
                vault.account().setStatus(id, MessageStatus::replyPending);
            });
            liveReply.reset();
            co_return;
        }
        if (elapsed > replyDelayed && job.phase == JobPhase::waiting)
            turnTransaction([&](Vault& vault) {
                run_loop::setPhase(vault.account(), id, JobPhase::delayed, MessageStatus::delayed);
            });
        if (elapsed > replyRefreshFrom && elapsed < replyRefreshUntil && !snapshot.busy && !browser_->windowVisible()
            && composerEmpty && now - lastReplyRefresh > replyRefreshInterval) {
            lastReplyRefresh = now;
            browser_->open(url);
        }
        co_return;
    }

    if (elapsed <= turnMissing)
        co_return;
    if (job.phase != JobPhase::uncertain)
        turnTransaction([&](Vault& vault) {
            run_loop::setPhase(vault.account(), id, JobPhase::uncertain, MessageStatus::uncertain);
        });
    const std::int64_t checks = job.deliveryChecks.value_or(0);
    const bool checkDue = !job.lastDeliveryCheck || now - *job.lastDeliveryCheck >= deliveryCheckInterval;
    // A send that never came back leaves this request's own text in the composer and the page
    // busy with it (its send control held disabled) until the page is loaded again. Reloading
    // then loses nothing of the user's (the text is the saved request) and is the only way out;
    // waiting for an empty, idle page would keep the request uncertain for good.
    const bool stuckOnOwnSend = !composerEmpty && run_loop::composerHolds(snapshot.draft, job.payload);
    const bool pageFree = (!snapshot.busy && composerEmpty) || stuckOnOwnSend;
    if (checks < deliveryCheckCount) {
        if (pageFree && !browser_->windowVisible() && checkDue) {
            turnTransaction([&](Vault& vault) {
                if (PendingRequest* checked = run_loop::findJob(vault.account(), id)) {
                    checked->deliveryChecks = checks + 1;
                    checked->lastDeliveryCheck = now;
                    checked->note = sentences::checkingDelivery;
                }
            });
            browser_->open(url);
            connection = ConnectionStatus::recovering;
        }
    } else if (!snapshot.busy && checkDue) {
        const MessageStatus verdict = !matchingRequestIDs(job, messages).empty() ? MessageStatus::deliveryObserved
            : baselineStillShown(job, messages)                                  ? MessageStatus::deliveryMissing
                                                                                 : MessageStatus::deliveryUnknown;
        turnTransaction([&](Vault& vault) {
            vault.account().stopWaiting(id);
            vault.account().setStatus(id, verdict);
        });
    }
}

}  // namespace quorvane
