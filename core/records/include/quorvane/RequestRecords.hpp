#pragma once

// Work in flight: a request ("job") that must be typed into the Dot conversation and whose reply
// must be collected, and the records an account keeps about such work.

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "quorvane/PageRecords.hpp"
#include "quorvane/VaultRecords.hpp"

namespace quorvane {

// Every prompt typed into the Dot composer opens with "[Quorvane request <id>]": the page shows
// our turns back with it, and that is how they are told apart from the user's own turns.
inline constexpr std::string_view kRequestHeaderStart = "[Quorvane request ";
// Where the user's own text starts in a prompt.
inline constexpr std::string_view kUserMessageMarker = "[User message]\n";

// Stored as its name; a name outside this list makes the vault fail to decode.
enum class JobPhase {
    queued,  // waiting for its turn; its payload may still be recomposed
    preparing,  // sending has started; the payload is being placed in the Dot composer
    composing,  // the payload stands in the composer and waits for the user to send it there
    submitting,  // placed and submitted; its turn is not yet seen on the page
    waiting,  // its turn is on the page; the reply is awaited
    delayed,  // its turn is on the page but no reply came in time
    uncertain,  // not known whether the page received it
    failed,  // will not be sent; `note` says why
};

template <>
struct EnumNames<JobPhase> {
    static constexpr std::string_view what = "job phase";
    static constexpr std::array<std::string_view, 8> names
        = { "queued", "preparing", "composing", "submitting", "waiting", "delayed", "uncertain", "failed" };
};

// Where a handoff stands; stored as its name.
enum class HandoffStatus {
    working,  // the teammate's request is queued or running, or its own teammates are working
    complete,  // finished
    stopped,  // the user stopped it, or a teammate below it
};

template <>
struct EnumNames<HandoffStatus> {
    static constexpr std::string_view what = "handoff status";
    static constexpr std::array<std::string_view, 3> names = { "working", "complete", "stopped" };
};

struct RoleTarget {
    Text botID {};
    Text source {};  // the bot's role source when the labelling request was made

    bool operator==(const RoleTarget&) const = default;
};
BOOST_DESCRIBE_STRUCT(RoleTarget, (), (botID, source))

struct PendingRequest {
    Text id {};
    Text botID {};
    Text payload {};
    JobPhase phase = JobPhase::queued;
    CowVector<Text> baseline {};  // set once when sending starts; shared by every copy of the job
    std::optional<Text> userMessageID {};
    std::optional<Date> submitted {};
    Text note {};
    std::optional<Text> rootRequestID {};
    std::optional<Text> parentRequestID {};
    std::optional<Text> returnBotID {};
    std::optional<std::int64_t> delegationDepth {};
    std::optional<bool> isReport {};
    std::optional<bool> manual {};
    std::optional<Text> resultRequestID {};
    std::optional<std::int64_t> attempts {};
    std::optional<Date> nextAttempt {};
    std::optional<std::vector<RoleTarget>> roleTargets {};
    std::optional<std::int64_t> deliveryChecks {};
    std::optional<Date> lastDeliveryCheck {};
    std::optional<Text> inputText {};
    std::optional<Text> turnName {};
    std::optional<Text> turnIdentity {};
    std::optional<Text> replyToken {};
    std::optional<Text> crewSetupRevision {};
    std::optional<Text> crewSetupBody {};
    std::optional<Text> crewSetupURL {};

    // A queued job for `bot` with a provisional payload; callers that queue it recompose the
    // payload (Account::configurePayload) before it is sent.
    static PendingRequest make(std::string_view id, const Bot& bot, std::string_view text);

    bool operator==(const PendingRequest&) const = default;
};
BOOST_DESCRIBE_STRUCT(PendingRequest, (),
    (id, botID, payload, phase, baseline, userMessageID, submitted, note, rootRequestID, parentRequestID, returnBotID,
        delegationDepth, isReport, manual, resultRequestID, attempts, nextAttempt, roleTargets, deliveryChecks,
        lastDeliveryCheck, inputText, turnName, turnIdentity, replyToken, crewSetupRevision, crewSetupBody,
        crewSetupURL))

struct Handoff {
    Text id {};  // also the id of the teammate request that carries the task
    Text rootRequestID {};
    Text sourceBotID {};
    Text targetBotID {};
    Text task {};
    HandoffStatus status = HandoffStatus::working;
    std::optional<Text> parentRequestID {};
    std::optional<bool> directMention {};

    bool operator==(const Handoff&) const = default;
};
BOOST_DESCRIBE_STRUCT(
    Handoff, (), (id, rootRequestID, sourceBotID, targetBotID, task, status, parentRequestID, directMention))

struct ReplyWatch {
    PendingRequest job {};  // a copy of the finished job
    std::vector<Text> assistantIDs {};  // page ids already counted as its reply, ascending
    bool stopped = false;  // the user stopped waiting for it

    bool operator==(const ReplyWatch&) const = default;
};
BOOST_DESCRIBE_STRUCT(ReplyWatch, (), (job, assistantIDs, stopped))

struct UnassignedReply {
    Text id {};  // the page message id
    DotMessage message {};  // as read from the page, reply tag removed
    Date date = 0;  // first seen

    bool operator==(const UnassignedReply&) const = default;
};
BOOST_DESCRIBE_STRUCT(UnassignedReply, (), (id, message, date))

}  // namespace quorvane
