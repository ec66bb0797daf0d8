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

// A reply as the engine files it: its text, its HTML when the page gave some, and, when it was
// read from several page messages, one part per message. The three travel together from the
// reading of the page to the filed message.
struct ReplyContent {
    Text text {};
    std::optional<Text> html {};
    std::optional<std::vector<ReplyPart>> parts {};
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

    // Queues the user's message (trimmed) as request `id` for `botID`, by default the selected
    // bot, quoting message `replyTo` (its part `replyPart`) when given, and files it in the
    // history; a message that opens with "@Teammate task" is handed to that teammate at once. A
    // manual request may be empty: the user writes it in Dot's own composer. Throws AppFailure
    // for an empty message, a full queue, a bot that is archived or unknown, a quote that is gone
    // (as quotedMessage) and a payload beyond the composer's limit.
    void enqueue(std::string_view text, std::string_view id, bool manual, const std::optional<Text>& botID,
        const std::optional<Text>& replyTo, const std::optional<Text>& replyPart, Date now);
    // Takes queued or failed request `id` back: its text and quote return to the bot's draft, its
    // message leaves the history, the handoffs that carry it stop, and text that may stand in the
    // Dot composer is listed for clearing. Throws AppFailure when it is neither queued nor failed.
    void cancelQueued(std::string_view id);
    // Gives up waiting for request `id`: it leaves the queue, a watch still files what its reply
    // brings later, the handoffs that carry it stop, and its message and its tree's root show as
    // unconfirmed. Throws AppFailure when the request is not waiting for a reply.
    void stopWaiting(std::string_view id);
    // Moves a bot out of the sidebar; the primary bot is selected instead when it was. Throws
    // AppFailure for the primary bot and for a bot with queued requests or working handoffs.
    void archive(std::string_view botID);
    // Brings an archived bot back; an unknown id changes nothing.
    void restore(std::string_view botID);
    // Repairs the account after a restart: echoes and redundant reports go, a reply that asked for
    // a handoff that was never recorded is taken back and its request waits again, requests that
    // were in flight become uncertain and those being prepared are queued again.
    void recover();
    // Adds a bot, which is then selected, or edits the one `edit.id` names; labelling requests
    // not yet sent are dropped. Throws AppFailure for a name (64) or personality (1800) that is
    // empty or too long, a role over 48 characters, an unknown avatar kind, an image that is not a
    // small PNG, an edit of the primary bot and a full crew.
    void saveBot(const BotEdit& edit);
    // Empties the history and every list that refers to it, drafts included. Throws AppFailure
    // while requests are queued.
    void clearHistory();

    // ---- Prompt composition (ConversationContext.cpp) -----------------------------------------

    // Fingerprint of the crew as the Dot conversation must know it: 64 lower-case hex digits.
    std::string crewRevision() const;
    // Recomposes job.payload for `bot` around `text`: header and reply tag, a crew setup when the
    // conversation may not know this crew (recorded in job.crewSetup*), the bot's identity and
    // whether it may hand off. The length is the caller's to check.
    void configurePayload(PendingRequest& job, const Bot& bot, std::string_view text) const;
    // Gives queued request `id`, before its first attempt, a reply token and its final payload;
    // a payload beyond the composer's limit fails the request (with a note) instead of throwing.
    void prepareConversationContext(std::string_view id);
    // Records `job`'s crew setup as installed once the page shows the job's turn carrying it and
    // an answer to that turn.
    void observeCrewSetup(const PendingRequest& job, const std::vector<DotMessage>& messages);
    // Gives queued teammate request `id`, before its first attempt, its task preceded by the
    // results its finished siblings filed (newest kept first) and by the quote of a direct mention.
    void prepareHandoffContext(std::string_view id);
    // Whether the user's "@Name task" message made the handoff, rather than a bot's reply.
    bool isDirectMention(const Handoff& handoff) const;
    // The quote of `botID`'s message `id`, or of its part `partID`, cut to 4000 characters.
    // Throws AppFailure when the message or the part is gone.
    QuotedReply quotedMessage(std::string_view id, const std::optional<Text>& partID, std::string_view botID) const;

    // ---- Reply correlation (ReplyCorrelation.cpp) ---------------------------------------------

    // Removes our own prompts filed as replies: whole replies, or the parts of one (its text and
    // HTML are joined again from the rest, and watches forget the parts' ids); offered replies
    // left with nothing to show go too.
    void removeRequestEchoes();

    // ---- Reply intake and reconciliation (ReplyIntake.cpp) ------------------------------------

    // Takes the stable reply of queued request `id`: a labelling reply sets role labels, a valid
    // handoff block hands off, anything else completes the request (a block that could not be
    // accepted is filed as a short apology). A request, or its bot, that is gone changes nothing.
    void acceptResponse(std::string_view id, const ReplyContent& reply, bool directMention, Date now);
    // Files the reply of queued request `id`, marks its message sent and removes it from the queue.
    void complete(std::string_view id, const ReplyContent& reply, Date now);
    // Files `reply` for `job` (as job.id + "-reply") with its copies for the bots that delegated
    // the work, marking them unread when what they show changed, and passes the result to reports
    // that wait for it. An older, shorter reading never replaces a longer one.
    void applyObservedReply(const PendingRequest& job, const ReplyContent& reply, Date now);
    // `message` and its copies for the bots the reply returns to; none for a redundant report.
    std::vector<ChatMessage> projectedReplies(const ChatMessage& message, const PendingRequest& job) const;
    // Watches finished `job` (counting its replies on `messages` now) so that parts its bot adds
    // later are filed too; a job watched already keeps its watch.
    void trackReply(const PendingRequest& job, const std::vector<DotMessage>& messages, bool stopped);
    // Files the new parts of watched requests' replies that the page shows, and settles the turns
    // and the deliveries in doubt that the page confirms.
    void reconcileReplies(const std::vector<DotMessage>& messages, Date now);
    // Queues again watched request `id` whose delivery is missing or unknown. Throws AppFailure
    // when its status has changed since.
    void retryUnconfirmed(std::string_view id);
    // Offers the replies that follow our turns on the page but belong to no request, and files
    // again those the user assigned; offers that a request has claimed since go.
    void collectUnassignedReplies(const std::vector<DotMessage>& messages, Date now);
    // What a change of the Dot page does to the account: reconcileReplies, then
    // collectUnassignedReplies. The order matters: a late part that reconciliation files is then
    // known, so it is never offered as a reply of no request.
    void applyPageChange(const std::vector<DotMessage>& messages, Date now);
    // Files offered reply `id` for `botID` and remembers the choice. Throws AppFailure when the
    // reply is no longer offered or the bot is archived or gone.
    void assignRemoteReply(std::string_view id, std::string_view botID);
    // Files page reply `message` for `botID` as "remote-" + its id, dated `date` when it is new.
    void importAssignedReply(const DotMessage& message, std::string_view botID, Date date);

    // ---- Handoff orchestration (Orchestration.cpp) --------------------------------------------

    // Carries out the handoff directive in `reply` for `job` when it passes every acceptance
    // check; returns false, changing nothing, when it does not.
    bool acceptHandoff(const PendingRequest& job, std::string_view reply, bool directMention, Date now);
    // Settles the handoffs of the tree at `root` whose requests and sub-handoffs have all
    // finished (stopped when one of those stopped), then the root message once nothing works.
    void finishHandoffStatuses(std::string_view root);
    // The bots that receive a copy of `job`'s reply: up the handoff chain from its return bot,
    // ending at the job's own bot or at a loop.
    std::vector<Text> replyDestinations(const PendingRequest& job) const;
    // A report whose bot has handed work off within the same tree since: the teammates' results
    // already say what it would.
    bool isRedundantHandoffReport(const PendingRequest& job) const;
    // Removes redundant reports: their replies and copies, and those not in flight from the queue;
    // their trees are marked complete.
    void retireRedundantHandoffReports();
    // The one active teammate, not the primary bot nor `excludingBotID`, that `text` addresses
    // at its very start as "@Name"; none when no teammate or several match.
    std::optional<Bot> explicitTeammate(std::string_view text, std::string_view excludingBotID) const;

    // ---- Role labels (RoleLabels.cpp) ---------------------------------------------------------

    // Sets the labels a labelling reply gives, for bots whose personality is still the one it was
    // asked about and that have no role of the user's own; anything else in the reply is ignored.
    void applyRoleLabels(const PendingRequest& job, std::string_view reply);
    // Ends labelling request `id`, applying `reply` when there is one; every bot it asked about
    // records the attempt, so the same personality is not asked about twice.
    void finishRoleGeneration(std::string_view id, const std::optional<Text>& reply);
};
BOOST_DESCRIBE_STRUCT(Account, (),
    (id, browserProfile, label, dotURL, connectedOnce, bots, messages, drafts, jobs, selectedBot, handoffs, unreadBots,
        readReplyIDs, replyWatches, pendingDraftCleanup, installedCrewRevision, installedCrewURL, draftReplies,
        unassignedReplies, assignedRemoteReplies, ignoredRemoteReplyIDs))

}  // namespace quorvane
