#pragma once

// Task<T>: the coroutine type of the application's main-thread code.
//
// Tasks are LAZY: calling a coroutine that returns Task<T> only creates its frame; the body runs
// when the Task is co_awaited (by another task) or handed to TaskScope::spawn. Lazy start means
// the caller's cancellation reaches the callee from its first instruction and a Task that is
// dropped unawaited never runs half-way.
//
// Awaiting a Task resumes the caller when the callee finishes (symmetric transfer, so long chains
// do not grow the stack); the callee's value is returned and its exception is rethrown in the
// caller, which is how an error crosses co_await. The callee shares the caller's CancelState.
//
// A Task owns its frame: destroying a Task destroys the frame, and with it every awaitable that
// is suspended inside (their destructors detach from GLib sources and pending calls). This is
// how an owner's destruction stops its tasks: they are destroyed, never resumed.
//
// Everything runs on the GLib main thread; nothing here is thread-safe.

#include <coroutine>
#include <exception>
#include <memory>
#include <optional>
#include <type_traits>
#include <utility>

#include "quorvane/async/CancelToken.hpp"

namespace quorvane {

namespace async_detail {

struct PromiseBase {
    std::shared_ptr<CancelState> cancel;  // set by whoever starts the task
    std::coroutine_handle<> continuation;
    std::exception_ptr error;
};

template <class P>
concept TaskPromise = std::is_base_of_v<PromiseBase, P>;

template <class T>
struct ValueSlot {
    std::optional<T> value;
    template <class U>
    void return_value(U&& v)
    {
        value.emplace(std::forward<U>(v));
    }
    T take() { return std::move(*value); }
};

template <>
struct ValueSlot<void> {
    void return_void() { }
    void take() { }
};

// The cancellation state of the coroutine that is about to suspend on an awaitable.
template <TaskPromise P>
std::shared_ptr<CancelState> cancelStateOf(std::coroutine_handle<P> handle)
{
    return handle.promise().cancel;
}

}  // namespace async_detail

template <class T = void>
class [[nodiscard]] Task {
public:
    struct promise_type : async_detail::PromiseBase, async_detail::ValueSlot<T> {
        Task get_return_object() { return Task(std::coroutine_handle<promise_type>::from_promise(*this)); }
        std::suspend_always initial_suspend() noexcept { return {}; }
        auto final_suspend() noexcept
        {
            struct Final {
                bool await_ready() noexcept { return false; }
                std::coroutine_handle<> await_suspend(std::coroutine_handle<promise_type> h) noexcept
                {
                    if (auto next = h.promise().continuation)
                        return next;
                    return std::noop_coroutine();
                }
                void await_resume() noexcept { }
            };
            return Final {};
        }
        void unhandled_exception() { this->error = std::current_exception(); }
    };

    Task() = default;
    Task(Task&& other) noexcept
        : handle_(std::exchange(other.handle_, nullptr))
    {
    }
    Task& operator=(Task&& other) noexcept
    {
        if (this != &other) {
            destroy();
            handle_ = std::exchange(other.handle_, nullptr);
        }
        return *this;
    }
    Task(const Task&) = delete;
    Task& operator=(const Task&) = delete;
    ~Task() { destroy(); }

    bool valid() const { return bool(handle_); }

    // Awaiting: starts the body with the caller's cancellation and resumes the caller at its end.
    bool await_ready() const noexcept { return false; }
    template <async_detail::TaskPromise P>
    std::coroutine_handle<> await_suspend(std::coroutine_handle<P> caller)
    {
        auto& promise = handle_.promise();
        promise.cancel = caller.promise().cancel;
        promise.continuation = caller;
        return handle_;
    }
    T await_resume()
    {
        auto& promise = handle_.promise();
        if (promise.error)
            std::rethrow_exception(promise.error);
        return promise.take();
    }

    // For TaskScope: the frame, handed over with its ownership.
    std::coroutine_handle<promise_type> release() { return std::exchange(handle_, nullptr); }

private:
    explicit Task(std::coroutine_handle<promise_type> handle)
        : handle_(handle)
    {
    }
    void destroy()
    {
        if (handle_)
            std::exchange(handle_, nullptr).destroy();
    }

    std::coroutine_handle<promise_type> handle_;
};

// Ends the current task with TaskCancelled when it has been cancelled; for loops that do work
// between awaits and want to stop promptly.
struct ThrowIfCancelled {
    std::shared_ptr<CancelState> state;
    bool await_ready() const noexcept { return false; }
    template <async_detail::TaskPromise P>
    bool await_suspend(std::coroutine_handle<P> h)
    {
        state = h.promise().cancel;
        return false;
    }
    void await_resume() const
    {
        if (state && state->cancelled())
            throw TaskCancelled();
    }
};
inline ThrowIfCancelled throwIfCancelled() { return {}; }

}  // namespace quorvane
