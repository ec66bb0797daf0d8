#pragma once

// The controller's fixed user-facing sentences, in one place. The interface shows them
// unchanged, and tests check them word for word.

namespace quorvane::sentences {

inline constexpr const char* storageUnavailable = "Local storage is unavailable. Reopen Quorvane before continuing.";
inline constexpr const char* saveFailed
    = "Your conversation couldn\u2019t be saved. Sending is paused; your visible draft is still here.";
inline constexpr const char* reopenAfterUnlocking = "Reopen Quorvane after unlocking your keyring.";
inline constexpr const char* historyCouldNotBeOpened
    = "Your local history couldn\u2019t be opened. Unlock your keyring "
      "and reopen Quorvane. Your saved data hasn\u2019t been changed.";

// Answers of the command dispatcher.
inline constexpr const char* actionUnavailable = "That action isn\u2019t available.";
inline constexpr const char* chooseActiveDot = "Choose an active Dot.";
inline constexpr const char* shortenDraft = "Please shorten this draft.";
inline constexpr const char* connectFirst = "Connect your Dot first.";
inline constexpr const char* connectionChanged
    = "Your connection changed. Send this message again in the intended chat.";
inline constexpr const char* messageNotSaved = "This message couldn\u2019t be saved. Try again.";
inline constexpr const char* attachmentsUnsupported
    = "Attachments aren\u2019t supported in this composer yet. Open Dot from Settings to use them there.";
inline constexpr const char* waitBeforeClearing = "Wait for pending messages before clearing history.";
inline constexpr const char* replyFinished = "This reply has already finished.";
inline constexpr const char* mightAlreadyBeInDot
    = "This message might already be in Dot. Check the Dot window before continuing.";
// Exports.
inline constexpr const char* exportConversation = "Export Conversation";
inline constexpr const char* exportAllConversations = "Export All Conversations";
inline constexpr const char* exportNotEncrypted = "The exported file is not encrypted.";

inline constexpr const char* waitBeforeSwitching = "Wait for pending replies before switching accounts.";
inline constexpr const char* cardPictureUnreadable = "This character card\u2019s picture couldn\u2019t be read.";
inline constexpr const char* cardNotMade = "This Dot couldn\u2019t be made into a character card.";
inline constexpr const char* primaryNotExported = "Only teammates can be exported as character cards.";

inline constexpr const char* recovering = "Your messages are saved. We\u2019re getting things moving again.";
inline constexpr const char* finishOpenStep = "Finish the open step in your Dot window to continue.";
inline constexpr const char* unfinishedMessage
    = "You have an unfinished message in your Dot window. Finish it there, then we\u2019ll continue here.";
inline constexpr const char* notSentYet = "Your message is saved, but couldn\u2019t be sent yet.";
inline constexpr const char* checkingDelivery = "Checking delivery automatically\u2026";
inline constexpr const char* powerReason = "Waiting for your Dot reply";

}  // namespace quorvane::sentences
