#pragma once

// Every timing rule of the run loop, in one place. Seconds throughout; the loop reads time only
// through the controller's injected clock and waits only on its injected scheduler, so tests run
// all of these in microseconds.

#include <array>
#include <cstddef>

namespace quorvane::run_loop_timing {

// Pause between turns (on the scheduler's continuous clock).
inline constexpr double turnPause = 0.5;
// A page still loading after more than this is repaired.
inline constexpr double loadingBeforeRepair = 30;
// The first reload of a recovery episode, after its start.
inline constexpr double firstReload = 2;
// Later reloads of an episode: 5 s, 15 s, 30 s, then 60 s for every one after.
inline constexpr std::array<double, 4> reloadBackOff = { 5, 15, 30, 60 };
// Between placing a request's text in the Dot composer and submitting it.
inline constexpr double placeBeforeSend = 0.45;
// A reply reading unchanged this long, with the page not busy, is accepted.
inline constexpr double replyStable = 3;
// The same for a reply that is an unfinished handoff block (more than this).
inline constexpr double unfinishedHandoffStable = 30;
// No turn on the page more than this after submission: the request becomes uncertain.
inline constexpr double turnMissing = 15;
// A turn but no reply more than this after submission: the request is delayed.
inline constexpr double replyDelayed = 45;
// Reloads that refresh a slow reply: only between these times after submission, and at most
// one per replyRefreshInterval.
inline constexpr double replyRefreshFrom = 45;
inline constexpr double replyRefreshUntil = 240;
inline constexpr double replyRefreshInterval = 60;
// Delivery checks of an uncertain request: at most this many, at least this far apart.
inline constexpr int deliveryCheckCount = 3;
inline constexpr double deliveryCheckInterval = 10;
// A role-label request submitted more than this long ago is given up.
inline constexpr double roleLabelTimeout = 90;
// A page refusal puts the request back in the queue, to be tried again after this.
inline constexpr double retryDelay = 2;
// Attempts before a refused request stays failed.
inline constexpr int sendAttempts = 3;
// A page profile name of this many characters renames the primary bot.
inline constexpr std::size_t profileNameMin = 1;
inline constexpr std::size_t profileNameMax = 64;

}  // namespace quorvane::run_loop_timing
