#pragma once

// TaskScope: the owner of detached tasks. An object that starts background work keeps a
// TaskScope member; spawn() starts a Task<void> at once (it runs until its first suspension
// before spawn returns) and the scope keeps it until it ends.
//
// Two ways to stop:
//   - cancel (TaskHandle::cancel, cancelAll): the pending await resumes with TaskCancelled, which
//     the task may catch to tidy up; the task then ends normally.
//   - destroy the scope (i.e. its owner): every task still running is destroyed where it stands
//     and is NEVER resumed, so no code of a dead owner runs. Locals of the task are destroyed,
//     which detaches their timers and pending calls.
//
// An exception that escapes a detached task (other than TaskCancelled) is logged with g_warning;
// there is no one left to rethrow it to.

#include <cstddef>
#include <memory>
#include <vector>

#include "quorvane/async/Task.hpp"

namespace quorvane {

namespace async_detail {
struct ScopeEntry;
struct ScopeState;
}  // namespace async_detail

// A weak reference to one spawned task; outliving the task or its scope is fine.
class TaskHandle {
public:
    TaskHandle() = default;
    explicit TaskHandle(std::weak_ptr<async_detail::ScopeEntry> entry)
        : entry_(std::move(entry))
    {
    }
    void cancel() const;
    bool running() const;

private:
    std::weak_ptr<async_detail::ScopeEntry> entry_;
};

class TaskScope {
public:
    TaskScope();
    ~TaskScope();
    TaskScope(const TaskScope&) = delete;
    TaskScope& operator=(const TaskScope&) = delete;

    TaskHandle spawn(Task<void> task);
    void cancelAll();
    std::size_t running() const;

private:
    std::shared_ptr<async_detail::ScopeState> state_;
};

}  // namespace quorvane
