// Sending the first request of the queue: placing its text in the Dot composer, submitting it
// (or leaving it there for the user to send, for a manual request), and finding its turn.
//
// A page action that the page refused put nothing in the conversation, so the request is tried
// again later (at most three attempts); one whose outcome is unknown may have reached the page,
// so it is never sent again blindly: it becomes uncertain and delivery checks decide.

#include "RunLoopSupport.hpp"
#include "Sentences.hpp"
#include "quorvane/AppFailure.hpp"
#include "quorvane/ReplyCorrelation.hpp"
#include "quorvane/TextRules.hpp"
#include "quorvane/async/Sleep.hpp"
#include "quorvane/controller/RunLoopTiming.hpp"

namespace quorvane {

namespace run_loop {

void retryUnsent(Account& account, std::string_view id, Date now)
{
    PendingRequest* job = findJob(account, id);
    if (!job)
        return;
    if (job->attempts.value_or(0) < run_loop_timing::sendAttempts) {
        job->phase = JobPhase::queued;
        job->note = Text();
        account.setStatus(id, MessageStatus::queued);
    } else {
        job->phase = JobPhase::failed;
        job->note = sentences::notSentYet;
        account.setStatus(id, MessageStatus::failed);
    }
    job->nextAttempt = now + run_loop_timing::retryDelay;
}

}  // namespace run_loop

Task<void> Controller::advanceQueued(const PendingRequest& first, const DotSnapshot& snapshot)
{
    if (!snapshot.ready || (first.nextAttempt && now() < *first.nextAttempt))
        co_return;
    const bool composerEmpty = trimmed(snapshot.draft).empty();
    const bool composerHoldsPayload = !composerEmpty && run_loop::composerHolds(snapshot.draft, first.payload);
    if (!composerEmpty && !composerHoldsPayload) {
        // The user's own typing: never overwrite it.
        connection = ConnectionStatus::attention;
        issue = sentences::unfinishedMessage;
        co_return;
    }

    const std::vector<DotMessage>& messages = snapshot.messages;
    const std::string id = first.id.str();
    if (auto turn = matchingTurn(first, messages)) {
        turnTransaction([&](Vault& vault) {
            Account& account = vault.account();
            if (PendingRequest* job = run_loop::findJob(account, id)) {
                job->userMessageID = *turn;
                job->submitted = now();
            }
            run_loop::setPhase(account, id, JobPhase::waiting, MessageStatus::waiting);
        });
        co_return;
    }
    if (!matchingRequestIDs(first, messages).empty()) {
        // The page shows the request, but not as a turn we can follow: it was delivered.
        turnTransaction([&](Vault& vault) {
            Account& account = vault.account();
            run_loop::setPhase(account, id, JobPhase::uncertain, std::nullopt);
            account.stopWaiting(id);
            account.setStatus(id, MessageStatus::deliveryObserved);
        });
        co_return;
    }

    std::vector<Text> baseline;
    baseline.reserve(messages.size());
    for (const DotMessage& message : messages)
        baseline.push_back(message.id);
    turnTransaction([&](Vault& vault) {
        Account& account = vault.account();
        if (PendingRequest* job = run_loop::findJob(account, id)) {
            job->baseline = CowVector<Text>(baseline);
            job->attempts = job->attempts.value_or(0) + 1;
        }
        run_loop::setPhase(account, id, JobPhase::preparing, MessageStatus::sending);
    });
    co_await sendFirst(id, composerHoldsPayload);
}

Task<void> Controller::sendFirst(std::string id, bool alreadyPlaced)
{
    // However sending ends, the reading of an earlier reply no longer applies.
    struct ClearCandidate {
        Controller& controller;
        ~ClearCandidate() { controller.candidate.clear(); }
    } clearCandidate { *this };

    const PendingRequest* found = run_loop::findJob(vault_.account(), id);
    if (!found)
        co_return;
    const std::string payload = found->payload.str();
    const bool manual = found->manual.value_or(false);
    const std::string url = vault_.account().dotURL.str();

    if (!alreadyPlaced) {
        try {
            co_await browser_->prepare(payload, url);
        } catch (const TaskCancelled&) {
            throw;
        } catch (const std::exception&) {
            // Whatever went wrong, nothing was submitted.
            turnTransaction([&](Vault& vault) { run_loop::retryUnsent(vault.account(), id, now()); });
            co_return;
        }
    }

    if (manual) {
        turnTransaction([&](Vault& vault) {
            run_loop::setPhase(vault.account(), id, JobPhase::composing, MessageStatus::composing);
        });
        showDot();
        co_return;
    }

    turnTransaction([&](Vault& vault) {
        if (PendingRequest* job = run_loop::findJob(vault.account(), id)) {
            job->phase = JobPhase::submitting;
            job->submitted = now();
        }
    });
    co_await sleepFor(services_.scheduler, run_loop_timing::placeBeforeSend);
    try {
        co_await browser_->send(payload, url);
        DotSnapshot fresh = co_await browser_->inspect();
        const std::vector<DotMessage> messages = uniqueDotMessages(fresh.messages);
        turnTransaction([&](Vault& vault) {
            Account& account = vault.account();
            PendingRequest* job = run_loop::findJob(account, id);
            if (!job)
                return;
            job->userMessageID = matchingTurn(*job, messages);
            if (job->userMessageID)
                run_loop::setPhase(account, id, JobPhase::waiting, MessageStatus::waiting);
            else
                run_loop::setPhase(account, id, JobPhase::submitting, MessageStatus::sending);
        });
    } catch (const NotSubmitted&) {
        turnTransaction([&](Vault& vault) { run_loop::retryUnsent(vault.account(), id, now()); });
    } catch (const TaskCancelled&) {
        throw;
    } catch (const std::exception&) {
        // The text may or may not have reached the page.
        if (storageHealthy_)
            turnTransaction([&](Vault& vault) {
                run_loop::setPhase(vault.account(), id, JobPhase::uncertain, MessageStatus::uncertain);
            });
    }
}

}  // namespace quorvane
