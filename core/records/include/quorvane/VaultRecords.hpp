#pragma once

// The leaf records of the vault: a bot of the crew and the messages of its local conversation.
// Records are plain values: field-by-field equality, and JSON keys equal to the field names.

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "quorvane/Date.hpp"
#include "quorvane/Json.hpp"
#include "quorvane/NamedEnum.hpp"
#include "quorvane/Text.hpp"

namespace quorvane {

// The id of the primary bot, Dot: it is always in the crew, has no personality of its own and
// never takes part in the crew roster.
inline constexpr std::string_view kPrimaryBotID = "dot";

// Who a local message is from; stored as its name.
enum class MessageRole {
    user,  // the user's own message
    assistant,  // a reply
    handoff,  // a task handed to a teammate, in the teammate's conversation
    event,  // a routing notice in the delegating bot's conversation
};

template <>
struct EnumNames<MessageRole> {
    static constexpr std::string_view what = "message role";
    static constexpr std::array<std::string_view, 4> names = { "user", "assistant", "handoff", "event" };
};

// The delivery state a message shows; stored as its name.
enum class MessageStatus {
    queued,  // waiting in the queue
    sending,  // being placed in the Dot composer
    composing,  // waiting for the user to send it in the Dot page
    waiting,  // submitted, reply awaited
    delayed,  // on the page, but no reply in time
    uncertain,  // delivery not known, for example after a restart
    replyPending,  // outcomes of the run loop's delivery checks:
    deliveryObserved,
    deliveryMissing,
    deliveryUnknown,
    streaming,  // a reply still growing, shown live
    delegated,  // handed to teammates
    sent,  // reply filed
    unconfirmed,  // the user stopped waiting, or a chain was stopped
    failed,  // will not be sent
};

template <>
struct EnumNames<MessageStatus> {
    static constexpr std::string_view what = "message status";
    static constexpr std::array<std::string_view, 15> names
        = { "queued", "sending", "composing", "waiting", "delayed", "uncertain", "replyPending", "deliveryObserved",
              "deliveryMissing", "deliveryUnknown", "streaming", "delegated", "sent", "unconfirmed", "failed" };
};

struct MessageAttachment {
    Text id {};
    Text kind {};
    Text title {};
    std::optional<Text> url {};

    bool operator==(const MessageAttachment&) const = default;
};
BOOST_DESCRIBE_STRUCT(MessageAttachment, (), (id, kind, title, url))

struct ReplyPart {
    Text id {};
    Text text {};
    std::optional<Text> html {};
    std::optional<Date> date {};
    std::optional<std::vector<MessageAttachment>> attachments {};

    bool operator==(const ReplyPart&) const = default;
};
BOOST_DESCRIBE_STRUCT(ReplyPart, (), (id, text, html, date, attachments))

struct QuotedReply {
    Text messageID {};
    std::optional<Text> partID {};
    Text author {};
    Text text {};

    bool operator==(const QuotedReply&) const = default;
};
BOOST_DESCRIBE_STRUCT(QuotedReply, (), (messageID, partID, author, text))

struct ChatMessage {
    Text id {};
    Text botID {};
    MessageRole role = MessageRole::user;
    Text text {};
    Date date = 0;
    MessageStatus status = MessageStatus::queued;
    std::optional<Text> html {};
    std::optional<CowVector<ReplyPart>> parts {};
    std::optional<Text> sourceBotID {};
    std::optional<Text> replyToID {};
    std::optional<Text> handoffID {};
    std::optional<bool> isRouting {};
    std::optional<QuotedReply> quotedReply {};

    // What the user has seen of this message: id, text and html, then each part's id, text,
    // html and attachments (id, kind, title, url), absent values as "". The interface sends it
    // back with "read" and it is compared element by element.
    std::vector<Text> readReceipt() const;

    bool operator==(const ChatMessage&) const = default;
};
BOOST_DESCRIBE_STRUCT(ChatMessage, (),
    (id, botID, role, text, date, status, html, parts, sourceBotID, replyToID, handoffID, isRouting, quotedReply))

struct Bot {
    Text id {};
    Text name {};
    Text kind {};
    Text personality {};
    std::optional<Text> role {};
    std::optional<Text> generatedRole {};
    std::optional<Text> generatedRoleSource {};
    std::optional<Text> roleAttemptSource {};
    std::optional<Text> image {};
    bool archived = false;

    // The three starter bots: "dot" (the primary bot, the only one new accounts get), and
    // "ceo" and "muse", which earlier versions gave every account and which are recognised
    // so that untouched copies can be tidied away.
    static const std::vector<Bot>& starters();

    // The identity block that tells the Dot service which bot speaks this turn.
    std::string turnIdentityContext() const;

    // Fingerprint of the personality that a generated role label belongs to.
    std::string roleSource() const;

    // Drops the last labelling attempt, and the generated label when it was made for another
    // personality than the current one.
    void invalidateGeneratedRoleIfNeeded();

    bool operator==(const Bot&) const = default;
};
BOOST_DESCRIBE_STRUCT(Bot, (),
    (id, name, kind, personality, role, generatedRole, generatedRoleSource, roleAttemptSource, image, archived))

}  // namespace quorvane
