#pragma once

// A stand-in for a page call: an asynchronous GIO-style operation (GTask based) that the test
// completes, fails or leaves pending by hand, and that counts how often its result was collected.

#include <string>
#include <vector>

#include <gio/gio.h>

#include "quorvane/async/Async.hpp"

namespace quorvane::testing {

class FakeOperations {
public:
    struct Call {
        GObjectPtr<GTask> task;
        GObjectPtr<GCancellable> cancellable;
    };

    // The start function for asyncCall<int>: records the call and leaves it pending.
    auto start()
    {
        return [this](GCancellable* cancellable, GAsyncReadyCallback callback, gpointer data) {
            Call call;
            call.task = GObjectPtr<GTask>::adopt(g_task_new(nullptr, cancellable, callback, data));
            call.cancellable = GObjectPtr<GCancellable>::retain(cancellable);
            calls.push_back(std::move(call));
        };
    }
    // The finish function: counts collections, so a test can see that no result leaks.
    auto finish()
    {
        return [this](GObject*, GAsyncResult* result) -> int {
            ++collected;
            GError* error = nullptr;
            auto value = g_task_propagate_int(G_TASK(result), &error);
            if (error)
                GLibError::raise(error);
            return int(value);
        };
    }
    AsyncCallAwaiter<int> call(GCancellable* lifetime = nullptr) { return asyncCall<int>(start(), finish(), lifetime); }

    void succeed(std::size_t index, int value) { g_task_return_int(calls.at(index).task.get(), value); }
    void fail(std::size_t index, const char* message)
    {
        g_task_return_new_error(calls.at(index).task.get(), G_IO_ERROR, G_IO_ERROR_NOT_FOUND, "%s", message);
    }

    std::vector<Call> calls;
    int collected = 0;
};

// Runs the default main context until `done` holds, giving up after ten seconds so a broken
// resume fails the test instead of hanging it.
template <class Done>
bool iterateUntil(Done done)
{
    gint64 deadline = g_get_monotonic_time() + 10 * G_USEC_PER_SEC;
    while (!done()) {
        if (g_get_monotonic_time() > deadline)
            return false;
        if (!g_main_context_iteration(nullptr, FALSE))
            g_usleep(500);
    }
    return true;
}

inline void drainMainContext()
{
    while (g_main_context_iteration(nullptr, FALSE)) { }
}

}  // namespace quorvane::testing
