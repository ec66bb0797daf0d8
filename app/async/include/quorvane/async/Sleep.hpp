#pragma once

// co_await sleepFor(scheduler, seconds): resumes after `seconds` on the scheduler's clock.
// Cancelling the task while it sleeps resumes it at once with TaskCancelled; destroying the
// task's frame unschedules the timer, so it never fires into a dead frame.

#include <coroutine>

#include "quorvane/async/Scheduler.hpp"
#include "quorvane/async/Task.hpp"

namespace quorvane {

class SleepAwaiter {
public:
    SleepAwaiter(Scheduler& scheduler, double seconds)
        : scheduler_(scheduler)
        , seconds_(seconds)
    {
    }

    bool await_ready() const noexcept { return false; }

    template <async_detail::TaskPromise P>
    bool await_suspend(std::coroutine_handle<P> handle)
    {
        auto cancel = handle.promise().cancel;
        if (cancel && cancel->cancelled()) {
            cancelled_ = true;
            return false;
        }
        timer_ = scheduler_.schedule(seconds_, [this, handle] {
            registration_.reset();
            handle.resume();
        });
        if (cancel) {
            registration_ = cancel->onCancel([this, handle] {
                timer_.reset();
                cancelled_ = true;
                handle.resume();
            });
        }
        return true;
    }

    void await_resume() const
    {
        if (cancelled_)
            throw TaskCancelled();
    }

private:
    Scheduler& scheduler_;
    double seconds_;
    bool cancelled_ = false;
    Scheduler::Timer timer_;  // destroyed with the frame: unschedules
    CancelState::Registration registration_;  // destroyed with the frame: unregisters
};

inline SleepAwaiter sleepFor(Scheduler& scheduler, double seconds) { return SleepAwaiter(scheduler, seconds); }

}  // namespace quorvane
