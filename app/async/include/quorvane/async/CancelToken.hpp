#pragma once

// Cancellation shared by a chain of awaiting tasks.
//
// Every task started by a TaskScope gets one CancelState; a task awaited by another inherits its
// caller's, so cancelling the outer task reaches whatever await is pending deep inside it. A task
// awaits one thing at a time, so the state holds at most one waiter: the awaitable that is
// suspended right now registers a callback and unregisters it when it resumes or is destroyed.
//
// Cancelling is idempotent and synchronous: the pending waiter runs inside cancel() and resumes
// its coroutine there, which then sees TaskCancelled. Code that hands a GCancellable to a GIO
// call can take it from cancellable(); it is cancelled together with the state.

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>

#include <gio/gio.h>

#include "quorvane/holders/GObjectPtr.hpp"

namespace quorvane {

// Thrown out of a co_await whose task was cancelled while it waited (or before it began).
class TaskCancelled : public std::exception {
public:
    const char* what() const noexcept override { return "The task was cancelled."; }
};

class CancelState : public std::enable_shared_from_this<CancelState> {
public:
    class Registration;

    bool cancelled() const { return cancelled_; }
    void cancel();
    GCancellable* cancellable();

    // Installs the one waiter; the returned registration removes it again when destroyed.
    [[nodiscard]] Registration onCancel(std::function<void()> waiter);

private:
    bool cancelled_ = false;
    std::function<void()> waiter_;
    std::uint64_t waiterID_ = 0;
    GObjectPtr<GCancellable> cancellable_;
};

class CancelState::Registration {
public:
    Registration() = default;
    Registration(std::weak_ptr<CancelState> state, std::uint64_t id)
        : state_(std::move(state))
        , id_(id)
    {
    }
    Registration(Registration&& other) noexcept
        : state_(std::move(other.state_))
        , id_(std::exchange(other.id_, 0))
    {
    }
    Registration& operator=(Registration&& other) noexcept
    {
        if (this != &other) {
            reset();
            state_ = std::move(other.state_);
            id_ = std::exchange(other.id_, 0);
        }
        return *this;
    }
    ~Registration() { reset(); }
    void reset();

private:
    std::weak_ptr<CancelState> state_;
    std::uint64_t id_ = 0;
};

}  // namespace quorvane
