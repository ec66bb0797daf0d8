#include "quorvane/async/Scheduler.hpp"

#include <algorithm>
#include <cmath>

#include <glib.h>

namespace quorvane {

namespace {

// The GLib source holds only a weak reference to the callback's slot; the Timer holds the strong
// one and removes the source when it goes away first.
struct GLibTimer final : Scheduler::Timer::Cancel {
    struct Slot {
        std::function<void()> fire;
        guint source = 0;
    };
    std::shared_ptr<Slot> slot = std::make_shared<Slot>();

    ~GLibTimer() override
    {
        if (slot->source)
            g_source_remove(slot->source);
    }

    static gboolean dispatch(gpointer data)
    {
        auto slot = static_cast<std::weak_ptr<Slot>*>(data)->lock();
        if (!slot)
            return G_SOURCE_REMOVE;
        slot->source = 0;  // the source ends with this call; nothing to remove later
        auto fire = std::move(slot->fire);
        if (fire)
            fire();
        return G_SOURCE_REMOVE;
    }
    static void release(gpointer data) { delete static_cast<std::weak_ptr<Slot>*>(data); }
};

struct ManualTimer final : Scheduler::Timer::Cancel {
    std::weak_ptr<void> state;
    std::function<void(void)> unschedule;
    ~ManualTimer() override
    {
        if (!state.expired())
            unschedule();
    }
};

}  // namespace

double GLibScheduler::now() const { return double(g_get_monotonic_time()) / G_USEC_PER_SEC; }

Scheduler::Timer GLibScheduler::schedule(double seconds, std::function<void()> fire)
{
    auto timer = std::make_unique<GLibTimer>();
    timer->slot->fire = std::move(fire);
    auto ms = guint(std::clamp(std::ceil(std::max(seconds, 0.0) * 1000.0), 0.0, double(G_MAXUINT)));
    timer->slot->source = g_timeout_add_full(G_PRIORITY_DEFAULT, ms, &GLibTimer::dispatch,
        new std::weak_ptr<GLibTimer::Slot>(timer->slot), &GLibTimer::release);
    return Timer(std::move(timer));
}

GLibScheduler& GLibScheduler::shared()
{
    static GLibScheduler scheduler;
    return scheduler;
}

Scheduler::Timer ManualScheduler::schedule(double seconds, std::function<void()> fire)
{
    auto key = std::make_pair(now_ + std::max(seconds, 0.0), state_->next++);
    state_->timers.emplace(key, std::move(fire));
    auto timer = std::make_unique<ManualTimer>();
    timer->state = state_;
    std::weak_ptr<State> weak = state_;
    timer->unschedule = [weak, key] {
        if (auto state = weak.lock())
            state->timers.erase(key);
    };
    return Timer(std::move(timer));
}

void ManualScheduler::advance(double seconds)
{
    double end = now_ + seconds;
    auto state = state_;
    while (!state->timers.empty() && state->timers.begin()->first.first <= end) {
        auto node = state->timers.extract(state->timers.begin());
        now_ = std::max(now_, node.key().first);
        node.mapped()();
    }
    now_ = end;
}

}  // namespace quorvane
