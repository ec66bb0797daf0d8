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
inline constexpr const char* recovering = "Your messages are saved. We\u2019re getting things moving again.";
inline constexpr const char* finishOpenStep = "Finish the open step in your Dot window to continue.";
inline constexpr const char* unfinishedMessage
    = "You have an unfinished message in your Dot window. Finish it there, then we\u2019ll continue here.";
inline constexpr const char* notSentYet = "Your message is saved, but couldn\u2019t be sent yet.";
inline constexpr const char* checkingDelivery = "Checking delivery automatically\u2026";
inline constexpr const char* powerReason = "Waiting for your Dot reply";

}  // namespace quorvane::sentences
