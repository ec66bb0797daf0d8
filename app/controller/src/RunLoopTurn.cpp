// One turn of the run loop: read the page, check it, bring the vault in line with it, and move
// the first request of the queue one step.

#include "HomeConversation.hpp"
#include "PageChange.hpp"
#include "RunLoopSupport.hpp"
#include "Sentences.hpp"
#include "quorvane/DotService.hpp"
#include "quorvane/ReplyCorrelation.hpp"
#include "quorvane/TextRules.hpp"
#include "quorvane/controller/RunLoopTiming.hpp"
#include "quorvane/controller/StatusFile.hpp"

namespace quorvane {

namespace {

constexpr std::string_view kPrimaryBot = "dot";

std::int64_t watchCount(const Account& account)
{
    return account.replyWatches ? static_cast<std::int64_t>(account.replyWatches->size()) : 0;
}

bool isUnstartedRoleLabelRequest(const PendingRequest& job)
{
    return job.roleTargets && job.phase == JobPhase::queued && job.attempts.value_or(0) == 0;
}

}  // namespace

namespace run_loop {

bool composerHolds(std::string_view draft, std::string_view payload)
{
    return normalized(trimmed(draft)) == normalized(payload);
}

}  // namespace run_loop

Task<void> Controller::turn()
{
    using namespace run_loop_timing;

    if (!browser_->error().empty()) {
        repairConnection();
        co_return;
    }
    if (browser_->loading()) {
        if (!loadingSince)
            loadingSince = now();
        connection = vault_.account().connectedOnce ? ConnectionStatus::recovering : ConnectionStatus::connecting;
        if (now() - *loadingSince > loadingBeforeRepair)
            repairConnection();
        co_return;
    }
    loadingSince.reset();

    DotSnapshot snapshot;
    try {
        snapshot = co_await browser_->inspect();
    } catch (const TaskCancelled&) {
        throw;
    } catch (const std::exception&) {
        if (storageHealthy_)
            repairConnection();
        co_return;
    }
    snapshot.messages = uniqueDotMessages(snapshot.messages);
    lastRemoteDraft = snapshot.draft.str();

    if (snapshot.requiresSignIn.value_or(false)) {
        connection = vault_.account().connectedOnce ? ConnectionStatus::expired : ConnectionStatus::signIn;
        issue.clear();
        co_return;
    }

    // Page checks.
    if (!validDotURL(snapshot.url)) {
        repairConnection();
        co_return;
    }
    if (!snapshot.ready && !snapshot.busy) {
        if (snapshot.blockedByDialog.value_or(false)) {
            connection = ConnectionStatus::attention;
            issue = sentences::finishOpenStep;
        } else {
            repairConnection();
        }
        co_return;
    }
    if (const Account& account = vault_.account(); !account.dotURL.empty() && account.dotURL != snapshot.url) {
        if (!adoptsConversation(account, snapshot)) {
            repairConnection();
            co_return;
        }
        // The first message sent from the home page opened a conversation of its own; the account
        // follows it there instead of pulling the page back home, where the reply never shows.
        turnTransaction([&](Vault& vault) { vault.account().dotURL = snapshot.url; });
    }

    if (!vault_.account().connectedOnce) {
        turnTransaction([&](Vault& vault) {
            vault.account().dotURL = snapshot.url;
            vault.account().connectedOnce = true;
        });
        browser_->hideWindow();
    }

    connection = ConnectionStatus::connected;
    issue.clear();
    recoveryStarted.reset();
    recoveryAttempts = 0;
    nextRecovery = kDistantPast;

    if (snapshot.profileName) {
        const std::size_t length = characterCount(*snapshot.profileName);
        const auto& bots = vault_.account().bots;
        auto primary = std::find_if(bots.begin(), bots.end(), [](const Bot& bot) { return bot.id == kPrimaryBot; });
        if (length >= profileNameMin && length <= profileNameMax && primary != bots.end()
            && primary->name != *snapshot.profileName) {
            turnTransaction([&](Vault& vault) {
                for (Bot& bot : vault.account().bots)
                    if (bot.id == kPrimaryBot)
                        bot.name = *snapshot.profileName;
            });
        }
    }

    if (snapshot.avatarURL && *snapshot.avatarURL != avatarSource)
        startAvatarSync(snapshot.avatarURL->str());

    if (diagnosticsEnabled())
        writeStatusFile(services_.statusFile, statusFileJSON(snapshot, vault_.account()));

    // A turn in which only the streaming reply changed cannot change what the page change finds
    // (PageChange.hpp), so it skips it: the account does not know the last page, the loop does.
    const std::vector<DotMessage>& messages = snapshot.messages;
    if (!lastRemoteMessages || lastWatchCount != watchCount(vault_.account())
        || pageChange(vault_.account(), *lastRemoteMessages, messages) == PageChange::other) {
        Account changed = vault_.account();
        changed.applyPageChange(messages, now());
        if (changed != vault_.account())
            turnTransaction([&](Vault& vault) { vault.account() = changed; });
        lastRemoteMessages = messages;
        lastWatchCount = watchCount(vault_.account());
    }

    // Text of a cancelled request may still stand in the Dot composer; it goes first.
    if (const auto& cleanup = vault_.account().pendingDraftCleanup; cleanup && !cleanup->empty()) {
        if (snapshot.ready) {
            const std::string text = cleanup->front().str();
            try {
                co_await browser_->clearDraft(text, vault_.account().dotURL.str());
            } catch (const TaskCancelled&) {
                throw;
            } catch (const std::exception&) {
                repairConnection();
                co_return;
            }
            turnTransaction([&](Vault& vault) {
                if (auto& list = vault.account().pendingDraftCleanup)
                    std::erase(*list, Text(text));
            });
        }
        co_return;
    }

    // Labelling requests are no longer made; those never sent are dropped.
    const auto& jobs = vault_.account().jobs;
    if (std::any_of(jobs.begin(), jobs.end(), isUnstartedRoleLabelRequest))
        turnTransaction([](Vault& vault) { std::erase_if(vault.account().jobs, isUnstartedRoleLabelRequest); });

    if (!vault_.account().jobs.empty()) {
        const PendingRequest first = vault_.account().jobs.front();
        turnTransaction([&](Vault& vault) { vault.account().observeCrewSetup(first, messages); });
    }

    if (!vault_.account().jobs.empty()) {
        const PendingRequest& first = vault_.account().jobs.front();
        if (first.phase == JobPhase::queued && first.attempts.value_or(0) == 0 && trimmed(snapshot.draft).empty()
            && matchingRequestIDs(first, messages).empty()) {
            turnTransaction([id = first.id.str()](Vault& vault) { vault.account().prepareConversationContext(id); });
        }
    }

    if (vault_.account().jobs.empty())
        co_return;
    const PendingRequest first = vault_.account().jobs.front();
    if (first.roleTargets && first.phase == JobPhase::failed) {
        turnTransaction([&](Vault& vault) { vault.account().finishRoleGeneration(first.id, std::nullopt); });
        co_return;
    }
    switch (first.phase) {
    case JobPhase::preparing:
        co_return;  // its page action is still running
    case JobPhase::queued:
        co_await advanceQueued(first, snapshot);
        co_return;
    case JobPhase::composing:
    case JobPhase::submitting:
    case JobPhase::waiting:
    case JobPhase::delayed:
    case JobPhase::uncertain:
        co_await observe(first, snapshot);
        co_return;
    case JobPhase::failed:
        if (first.attempts.value_or(0) < sendAttempts && run_loop::composerHolds(snapshot.draft, first.payload))
            turnTransaction([&](Vault& vault) { run_loop::retryUnsent(vault.account(), first.id, now()); });
        co_return;
    }
}

}  // namespace quorvane
