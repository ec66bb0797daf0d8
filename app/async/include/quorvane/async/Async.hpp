#pragma once

// The async layer in one include: tasks, scopes, sleeps, awaitable GIO-style calls,
// cancellation and weak lifetimes, all on the GLib main loop of the main thread.

#include "quorvane/async/AsyncCall.hpp"
#include "quorvane/async/CancelToken.hpp"
#include "quorvane/async/GLibError.hpp"
#include "quorvane/async/Lifetime.hpp"
#include "quorvane/async/Scheduler.hpp"
#include "quorvane/async/Sleep.hpp"
#include "quorvane/async/Task.hpp"
#include "quorvane/async/TaskScope.hpp"
#include "quorvane/holders/GObjectPtr.hpp"
