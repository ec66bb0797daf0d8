// Repairing the page connection: reload the conversation with a back-off, but never while the
// user's own text stands in the Dot composer (a reload would lose it) or while the user is
// looking at the Dot window.

#include "RunLoopSupport.hpp"
#include "Sentences.hpp"
#include "quorvane/ReplyCorrelation.hpp"
#include "quorvane/TextRules.hpp"
#include "quorvane/controller/RunLoopTiming.hpp"

namespace quorvane {

bool Controller::composerBlocksReload() const
{
    const std::string_view draft = trimmed(lastRemoteDraft);
    if (draft.empty())
        return false;
    const std::string text = normalized(draft);
    const Account& account = vault_.account();
    for (const PendingRequest& job : account.jobs)
        if (!job.manual.value_or(false) && normalized(job.payload) == text)
            return false;
    if (account.pendingDraftCleanup)
        for (const Text& entry : *account.pendingDraftCleanup)
            if (normalized(trimmed(entry)) == text)
                return false;
    return true;
}

void Controller::repairConnection()
{
    using namespace run_loop_timing;
    connection = ConnectionStatus::recovering;
    issue = sentences::recovering;
    const Date now = this->now();
    if (!recoveryStarted) {
        recoveryStarted = now;
        nextRecovery = now + firstReload;
    }
    if (now >= nextRecovery && !composerBlocksReload() && !browser_->windowVisible()) {
        nextRecovery = now + reloadBackOff[std::min<std::size_t>(recoveryAttempts, reloadBackOff.size() - 1)];
        ++recoveryAttempts;
        browser_->open(vault_.account().dotURL.str());
    }
}

}  // namespace quorvane
