#pragma once

// An account: one Dot conversation with its crew of bots, the local history of every bot, the
// drafts and the request queue.
//
// The account is a plain value. The conversation engine is the set of its operations below,
// grouped by the seam that implements them (the .cpp file of the same name). Every operation
// either completes or throws AppFailure and leaves the account exactly as it was; one that finds
// nothing to act on does nothing. Operations that stamp dates take the current time as `now`,
// so the engine never reads a clock of its own.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "quorvane/CowVector.hpp"
#include "quorvane/PageRecords.hpp"
#include "quorvane/RequestRecords.hpp"
#include "quorvane/VaultRecords.hpp"

namespace quorvane {

// The fields of the "saveBot" command, as the interface sends them.
struct BotEdit {
    std::optional<Text> id {};  // an existing bot to edit; absent (or unknown) adds a new bot
    Text name {};
    Text personality {};
    std::optional<Text> role {};
    std::optional<Text> kind {};
    std::optional<Text> image {};  // "data:image/png;base64,…"; given but empty counts as given
};

struct Account {
    Text id {};
    Text browserProfile {};
    Text label {};
    Text dotURL {};
    bool connectedOnce = false;
    std::vector<Bot> bots {};
    CowVector<ChatMessage> messages {};  // long: shared between copies until changed
    std::map<std::string, Text> drafts {};
    std::vector<PendingRequest> jobs {};
    Text selectedBot {};
    std::optional<CowVector<Handoff>> handoffs {};
    std::optional<std::vector<Text>> unreadBots {};
    std::optional<std::map<std::string, std::vector<Text>>> readReplyIDs {};
    std::optional<CowVector<ReplyWatch>> replyWatches {};
    std::optional<std::vector<Text>> pendingDraftCleanup {};
    std::optional<Text> installedCrewRevision {};
    std::optional<Text> installedCrewURL {};
    std::optional<std::map<std::string, QuotedReply>> draftReplies {};
    std::optional<std::vector<UnassignedReply>> unassignedReplies {};
    std::optional<std::map<std::string, Text>> assignedRemoteReplies {};
    std::optional<std::vector<Text>> ignoredRemoteReplyIDs {};

    bool operator==(const Account&) const = default;

    // ---- Records (Account.cpp) ---------------------------------------------------------------

    // A fresh account: new ids, label "Your Dot", only the primary bot, everything else empty.
    static Account fresh();

    // Runs on every load: the primary bot loses the personality older versions gave it, and
    // starter bots that the user never touched are removed.
    void removeUnusedStarterBots();

    // Sets the status of the first message with this id; no such message, no change.
    void setStatus(std::string_view id, MessageStatus status);

    // ---- Request queue and crew roster (RequestQueue.cpp) -------------------------------------

    void enqueue(std::string_view text, std::string_view id, bool manual, const std::optional<Text>& botID,
        const std::optional<Text>& replyTo, const std::optional<Text>& replyPart, Date now);
    void cancelQueued(std::string_view id);
    void stopWaiting(std::string_view id);
    void archive(std::string_view botID);
    void restore(std::string_view botID);
    void recover();
    void saveBot(const BotEdit& edit);
    void clearHistory();

    // ---- Prompt composition (ConversationContext.cpp) -----------------------------------------

    // Fingerprint of the crew as the Dot conversation must know it: 64 lower-case hex digits.
    std::string crewRevision() const;
    // Recomposes job.payload for `bot` around `text`, adding a crew setup when needed.
    void configurePayload(PendingRequest& job, const Bot& bot, std::string_view text) const;
    void prepareConversationContext(std::string_view id);
    void observeCrewSetup(const PendingRequest& job, const std::vector<DotMessage>& messages);
    void prepareHandoffContext(std::string_view id);
    bool isDirectMention(const Handoff& handoff) const;
    QuotedReply quotedMessage(std::string_view id, const std::optional<Text>& partID, std::string_view botID) const;

    // ---- Reply correlation (ReplyCorrelation.cpp) ---------------------------------------------

    void removeRequestEchoes();

    // ---- Reply intake and reconciliation (ReplyIntake.cpp) ------------------------------------

    void acceptResponse(std::string_view id, std::string_view reply, const std::optional<Text>& html,
        const std::optional<std::vector<ReplyPart>>& parts, bool directMention, Date now);
    void complete(std::string_view id, std::string_view reply, const std::optional<Text>& html,
        const std::optional<std::vector<ReplyPart>>& parts, Date now);
    void applyObservedReply(const PendingRequest& job, std::string_view reply, const std::optional<Text>& html,
        const std::optional<std::vector<ReplyPart>>& parts, Date now);
    std::vector<ChatMessage> projectedReplies(const ChatMessage& message, const PendingRequest& job) const;
    void trackReply(const PendingRequest& job, const std::vector<DotMessage>& messages, bool stopped);
    void reconcileReplies(const std::vector<DotMessage>& messages, Date now);
    void retryUnconfirmed(std::string_view id);
    void collectUnassignedReplies(const std::vector<DotMessage>& messages, Date now);
    // What a change of the Dot page does to the account: reconcileReplies, then
    // collectUnassignedReplies. The order matters: a late part that reconciliation files is then
    // known, so it is never offered as a reply of no request.
    void applyPageChange(const std::vector<DotMessage>& messages, Date now);
    void assignRemoteReply(std::string_view id, std::string_view botID);
    void importAssignedReply(const DotMessage& message, std::string_view botID, Date date);

    // ---- Handoff orchestration (Orchestration.cpp) --------------------------------------------

    // Carries out the handoff directive in `reply` for `job` when it passes every acceptance
    // check; returns false, changing nothing, when it does not.
    bool acceptHandoff(const PendingRequest& job, std::string_view reply, bool directMention, Date now);
    void finishHandoffStatuses(std::string_view root);
    std::vector<Text> replyDestinations(const PendingRequest& job) const;
    bool isRedundantHandoffReport(const PendingRequest& job) const;
    void retireRedundantHandoffReports();
    std::optional<Bot> explicitTeammate(std::string_view text, std::string_view excludingBotID) const;

    // ---- Role labels (RoleLabels.cpp) ---------------------------------------------------------

    void applyRoleLabels(const PendingRequest& job, std::string_view reply);
    void finishRoleGeneration(std::string_view id, const std::optional<Text>& reply);
};
BOOST_DESCRIBE_STRUCT(Account, (),
    (id, browserProfile, label, dotURL, connectedOnce, bots, messages, drafts, jobs, selectedBot, handoffs, unreadBots,
        readReplyIDs, replyWatches, pendingDraftCleanup, installedCrewRevision, installedCrewURL, draftReplies,
        unassignedReplies, assignedRemoteReplies, ignoredRemoteReplyIDs))

}  // namespace quorvane
