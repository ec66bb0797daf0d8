#pragma once

// How the page adapter's return values become results or errors.
//
//   null / undefined                   -> AppFailure "Dot is still loading."
//   inspect: a value that is not JSON  -> AppFailure naming the script engine's complaint
//   inspect: JSON that is not a DotSnapshot -> JsonDecodeError from decoding
//   action: no boolean "ok"            -> AppFailure "We’re checking whether your message was sent."
//   action: "ok" false                 -> NotSubmitted(reason if a string, else
//                                         "Your message is saved. We’ll try again.")

#include <jsc/jsc.h>

#include "quorvane/PageRecords.hpp"

namespace quorvane {

inline constexpr const char* kDotStillLoading = "Dot is still loading.";
inline constexpr const char* kCheckingWhetherSent = "We’re checking whether your message was sent.";
inline constexpr const char* kMessageSavedTryAgain = "Your message is saved. We’ll try again.";
inline constexpr const char* kAdapterMissing = "The Dot connection component is missing. Rebuild Quorvane.";

// Throws for null or undefined (or no value at all).
void requireAdapterValue(JSCValue* value);
// The snapshot of an "inspect" call, its messages made unique.
DotSnapshot snapshotFromAdapter(JSCValue* value);
// Returns when the outcome says "ok"; throws otherwise.
void checkAdapterOutcome(JSCValue* value);

}  // namespace quorvane
