#pragma once

// How the page adapter's return values become results or errors.
//
//   null / undefined                   -> AppFailure "Dot is still loading."
//   inspect: anything but a string     -> AppFailure "The Dot page snapshot couldn’t be read."
//            (the snapshot itself is JSON text: see SnapshotAssembler)
//   action: no boolean "ok"            -> AppFailure "We’re checking whether your message was sent."
//                                         (the outcome is unknown; the adapter says so on purpose
//                                         with {outcome: "unknown"})
//   action: "ok" false                 -> NotSubmitted(reason if a string, else
//                                         "Your message is saved. We’ll try again.")

#include <jsc/jsc.h>

#include "quorvane/holders/GLibHolders.hpp"

namespace quorvane {

inline constexpr const char* kDotStillLoading = "Dot is still loading.";
inline constexpr const char* kCheckingWhetherSent = "We’re checking whether your message was sent.";
inline constexpr const char* kMessageSavedTryAgain = "Your message is saved. We’ll try again.";
inline constexpr const char* kAdapterMissing = "The Dot connection component is missing. Rebuild Quorvane.";
inline constexpr const char* kSnapshotUnreadable = "The Dot page snapshot couldn’t be read.";

// Throws for null or undefined (or no value at all).
void requireAdapterValue(JSCValue* value);
// The JSON text of an "inspect" answer.
GCharPtr snapshotAnswer(JSCValue* value);
// Returns when the outcome says "ok"; throws otherwise.
void checkAdapterOutcome(JSCValue* value);

}  // namespace quorvane
