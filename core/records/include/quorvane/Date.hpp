#pragma once

// Dates are seconds (with fraction) since 2001-01-01 00:00:00 UTC, the reference date that
// vault files have always used. They are plain doubles so records stay trivially comparable.

#include <string>

namespace quorvane {

using Date = double;

// Seconds between the Unix epoch and the reference date.
inline constexpr double kReferenceDateUnixSeconds = 978307200.0;

inline constexpr Date dateFromUnixSeconds(double unixSeconds) { return unixSeconds - kReferenceDateUnixSeconds; }
inline constexpr double unixSecondsFromDate(Date date) { return date + kReferenceDateUnixSeconds; }

// The wall clock. Only the application's clock reads it; the engine takes "now" as an argument.
Date systemNow();

// "2026-12-09T22:37:17.250Z": how the interface page receives dates.
std::string iso8601(Date date);

}  // namespace quorvane
