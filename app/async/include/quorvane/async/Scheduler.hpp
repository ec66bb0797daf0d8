#pragma once

// Where waits come from. Code that sleeps takes a Scheduler, so the real application waits on
// GLib timeouts while tests drive a ManualScheduler's clock by hand.
//
// schedule() calls `fire` once, `seconds` from now, unless the returned Timer is destroyed (or
// reset) first; destroying a Timer after it fired is harmless. A Timer is the only thing that
// keeps a callback scheduled: whatever the callback touches must outlive the Timer, which is
// why awaitables keep their Timer inside the coroutine frame.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>

namespace quorvane {

class Scheduler {
public:
    class Timer;
    virtual ~Scheduler() = default;
    virtual double now() const = 0;  // seconds on the scheduler's own continuous clock
    [[nodiscard]] virtual Timer schedule(double seconds, std::function<void()> fire) = 0;
};

class Scheduler::Timer {
public:
    struct Cancel {
        virtual ~Cancel() = default;
    };
    Timer() = default;
    explicit Timer(std::unique_ptr<Cancel> cancel)
        : cancel_(std::move(cancel))
    {
    }
    void reset() { cancel_.reset(); }
    explicit operator bool() const { return bool(cancel_); }

private:
    std::unique_ptr<Cancel> cancel_;  // its destructor unschedules
};

// Real time: g_timeout sources on the thread-default main context, g_get_monotonic_time clock.
class GLibScheduler final : public Scheduler {
public:
    double now() const override;
    Timer schedule(double seconds, std::function<void()> fire) override;
    static GLibScheduler& shared();
};

// Fake time for tests: nothing fires until advance() moves the clock; timers fire in due order
// (ties in scheduling order), each seeing now() at its own due time.
class ManualScheduler final : public Scheduler {
public:
    double now() const override { return now_; }
    Timer schedule(double seconds, std::function<void()> fire) override;
    void advance(double seconds);
    std::size_t pending() const { return state_->timers.size(); }

private:
    struct State {
        std::map<std::pair<double, std::uint64_t>, std::function<void()>> timers;
        std::uint64_t next = 0;
    };
    double now_ = 0;
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

}  // namespace quorvane
