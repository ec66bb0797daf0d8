#pragma once

// co_await asyncCall<R>(start, finish [, lifetime]): awaits one GIO-style asynchronous call
// (one that takes a GCancellable, a GAsyncReadyCallback and user data), for example
// webkit_web_view_call_async_javascript_function.
//
//   start(GCancellable*, GAsyncReadyCallback, gpointer)  begins the call; it must pass all three on.
//   finish(GObject* source, GAsyncResult*) -> R           collects the result; it throws (usually
//                                                         GLibError) when the call failed.
//
// The callback's user data is a weak reference to the waiting awaitable plus the finish function,
// never the awaitable itself: when the waiting frame is gone (its task was destroyed or
// cancelled), the callback still calls finish, so the result is freed, and then drops it.
//
// Cancellation: each call gets its own GCancellable. Cancelling the task cancels it and resumes
// the task at once with TaskCancelled (the call's late callback is then ignored). The optional
// `lifetime` cancellable belongs to the object the call is made on: when it is cancelled (its
// owner is going away), the call's GCancellable is cancelled too and the task resumes at once
// with GLibError G_IO_ERROR_CANCELLED, so no task waits forever for an owner that is gone.

#include <coroutine>
#include <exception>
#include <functional>
#include <memory>
#include <optional>

#include <gio/gio.h>

#include "quorvane/async/GLibError.hpp"
#include "quorvane/async/Lifetime.hpp"
#include "quorvane/async/Task.hpp"
#include "quorvane/holders/GObjectPtr.hpp"

namespace quorvane {

template <class R>
class AsyncCallAwaiter {
public:
    using Start = std::function<void(GCancellable*, GAsyncReadyCallback, gpointer)>;
    using Finish = std::function<R(GObject*, GAsyncResult*)>;

    AsyncCallAwaiter(Start start, Finish finish, GCancellable* lifetime)
        : start_(std::move(start))
        , finish_(std::move(finish))
        , lifetime_(GObjectPtr<GCancellable>::retain(lifetime))
    {
    }
    AsyncCallAwaiter(AsyncCallAwaiter&&) = default;
    ~AsyncCallAwaiter()
    {
        if (lifetimeHandler_)
            g_signal_handler_disconnect(lifetime_.get(), lifetimeHandler_);
    }

    bool await_ready() const noexcept { return false; }

    template <async_detail::TaskPromise P>
    bool await_suspend(std::coroutine_handle<P> handle)
    {
        auto cancel = handle.promise().cancel;
        if (cancel && cancel->cancelled()) {
            waiter_->outcome = Outcome::Cancelled;
            return false;
        }
        if (lifetime_ && g_cancellable_is_cancelled(lifetime_.get())) {
            waiter_->outcome = Outcome::Ended;
            return false;
        }
        waiter_->resume = handle;
        waiter_->call = GObjectPtr<GCancellable>::adopt(g_cancellable_new());
        if (cancel) {
            registration_ = cancel->onCancel([waiter = waiter_.get()] { waiter->stop(Outcome::Cancelled); });
        }
        if (lifetime_) {
            lifetimeHandler_
                = g_signal_connect_data(lifetime_.get(), "cancelled", G_CALLBACK(&AsyncCallAwaiter::lifetimeEnded),
                    newWeakData(waiter_), &deleteWeakClosureData<Waiter>, GConnectFlags(0));
        }
        waiter_->suspending = true;
        start_(waiter_->call.get(), &AsyncCallAwaiter::ready, new CallbackData { finish_, waiter_ });
        waiter_->suspending = false;
        // A call that completed inside start() resumes without suspending.
        return waiter_->outcome == Outcome::Pending;
    }

    R await_resume()
    {
        registration_.reset();
        switch (waiter_->outcome) {
        case Outcome::Cancelled:
            throw TaskCancelled();
        case Outcome::Ended:
            throw GLibError(G_IO_ERROR, G_IO_ERROR_CANCELLED, "Operation was cancelled");
        case Outcome::Failed:
            std::rethrow_exception(waiter_->error);
        case Outcome::Pending:
        case Outcome::Done:
            break;
        }
        return std::move(*waiter_->result);
    }

private:
    enum class Outcome { Pending, Done, Failed, Cancelled, Ended };
    struct Waiter {
        std::coroutine_handle<> resume;
        bool suspending = false;
        Outcome outcome = Outcome::Pending;
        std::optional<R> result;
        std::exception_ptr error;
        GObjectPtr<GCancellable> call;
        void settle(Outcome o)
        {
            outcome = o;
            if (!suspending)
                resume.resume();
        }
        // Cancels the call, then resumes the task unless the call's callback already did (a
        // cancelled call may report back synchronously).
        void stop(Outcome why)
        {
            if (outcome != Outcome::Pending)
                return;
            g_cancellable_cancel(call.get());
            if (outcome == Outcome::Pending)
                settle(why);
        }
    };
    struct CallbackData {
        Finish finish;
        std::weak_ptr<Waiter> waiter;
    };

    static void ready(GObject* source, GAsyncResult* result, gpointer data)
    {
        std::unique_ptr<CallbackData> call(static_cast<CallbackData*>(data));
        std::optional<R> value;
        std::exception_ptr error;
        try {
            value.emplace(call->finish(source, result));
        } catch (...) {
            error = std::current_exception();
        }
        auto waiter = call->waiter.lock();
        if (!waiter || waiter->outcome != Outcome::Pending)
            return;  // nobody waits any more: the result is dropped here
        if (error) {
            waiter->error = error;
            waiter->settle(Outcome::Failed);
        } else {
            waiter->result = std::move(value);
            waiter->settle(Outcome::Done);
        }
    }

    static void lifetimeEnded(GCancellable*, gpointer data)
    {
        if (auto waiter = lockWeakData<Waiter>(data))
            waiter->stop(Outcome::Ended);
    }

    Start start_;
    Finish finish_;
    GObjectPtr<GCancellable> lifetime_;
    gulong lifetimeHandler_ = 0;
    CancelState::Registration registration_;
    std::shared_ptr<Waiter> waiter_ = std::make_shared<Waiter>();
};

template <class R>
AsyncCallAwaiter<R> asyncCall(typename AsyncCallAwaiter<R>::Start start, typename AsyncCallAwaiter<R>::Finish finish,
    GCancellable* lifetime = nullptr)
{
    return AsyncCallAwaiter<R>(std::move(start), std::move(finish), lifetime);
}

}  // namespace quorvane
