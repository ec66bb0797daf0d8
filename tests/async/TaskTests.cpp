// Tasks, scopes, sleeps and cancellation on a fake clock, plus real GLib timers.

#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "FakeOperation.hpp"
#include "quorvane/async/Async.hpp"

namespace quorvane {
namespace {

using testing::drainMainContext;
using testing::iterateUntil;

Task<int> doubledAfter(Scheduler& clock, double seconds, int value)
{
    co_await sleepFor(clock, seconds);
    co_return value * 2;
}

Task<void> failAfter(Scheduler& clock, double seconds, std::string message)
{
    co_await sleepFor(clock, seconds);
    throw std::runtime_error(message);
}

TEST(TaskTest, ValuesAndExceptionsCrossCoAwait)
{
    ManualScheduler clock;
    TaskScope scope;
    std::vector<std::string> log;
    scope.spawn([](Scheduler& clock, std::vector<std::string>& log) -> Task<void> {
        log.push_back("value " + std::to_string(co_await doubledAfter(clock, 1, 21)));
        try {
            co_await failAfter(clock, 1, "The page went away.");
            log.push_back("not reached");
        } catch (const std::runtime_error& error) {
            log.push_back(std::string("caught ") + error.what());
        }
        log.push_back("end");
    }(clock, log));

    EXPECT_TRUE(log.empty());
    clock.advance(1);
    EXPECT_EQ(log, (std::vector<std::string> { "value 42" }));
    clock.advance(1);
    EXPECT_EQ(log, (std::vector<std::string> { "value 42", "caught The page went away.", "end" }));
    EXPECT_EQ(scope.running(), 0u);
}

TEST(TaskTest, TwoTasksInterleaveOnTheFakeClock)
{
    ManualScheduler clock;
    TaskScope scope;
    std::vector<std::string> log;
    auto worker
        = [](Scheduler& clock, std::vector<std::string>& log, std::string name, double step, int turns) -> Task<void> {
        for (int i = 1; i <= turns; ++i) {
            co_await sleepFor(clock, step);
            log.push_back(name + std::to_string(i) + "@" + std::to_string(int(clock.now() * 10)));
        }
    };
    scope.spawn(worker(clock, log, "a", 0.5, 3));
    scope.spawn(worker(clock, log, "b", 0.7, 2));
    clock.advance(5);
    EXPECT_EQ(log, (std::vector<std::string> { "a1@5", "b1@7", "a2@10", "b2@14", "a3@15" }));
}

TEST(TaskTest, CancellingMidSleepResumesWithTaskCancelledAndUnschedules)
{
    ManualScheduler clock;
    TaskScope scope;
    std::vector<std::string> log;
    auto handle = scope.spawn([](Scheduler& clock, std::vector<std::string>& log) -> Task<void> {
        try {
            co_await doubledAfter(clock, 10, 1);  // the cancellation reaches the nested task's sleep
            log.push_back("slept");
        } catch (const TaskCancelled& cancelled) {
            log.push_back(cancelled.what());
        }
        // A cancelled task stays cancelled: its next await ends it at once.
        try {
            co_await sleepFor(clock, 1);
            log.push_back("slept again");
        } catch (const TaskCancelled&) {
            log.push_back("still cancelled");
        }
    }(clock, log));

    clock.advance(3);
    EXPECT_TRUE(handle.running());
    EXPECT_EQ(clock.pending(), 1u);
    handle.cancel();
    EXPECT_EQ(log, (std::vector<std::string> { "The task was cancelled.", "still cancelled" }));
    EXPECT_FALSE(handle.running());
    EXPECT_EQ(clock.pending(), 0u);
    handle.cancel();  // harmless once the task is gone
    clock.advance(20);
    EXPECT_EQ(log.size(), 2u);
}

TEST(TaskTest, CancelAllEndsEveryTaskQuietly)
{
    ManualScheduler clock;
    TaskScope scope;
    int finished = 0;
    auto sleeper = [](Scheduler& clock, int& finished) -> Task<void> {
        co_await sleepFor(clock, 1);
        ++finished;
    };
    scope.spawn(sleeper(clock, finished));
    scope.spawn(sleeper(clock, finished));
    EXPECT_EQ(scope.running(), 2u);
    scope.cancelAll();
    EXPECT_EQ(scope.running(), 0u);
    clock.advance(2);
    EXPECT_EQ(finished, 0);
}

TEST(TaskTest, ThrowIfCancelledStopsALoopBetweenAwaits)
{
    ManualScheduler clock;
    TaskScope scope;
    int turns = 0;
    std::string ending;
    auto handle = scope.spawn([](Scheduler& clock, int& turns, std::string& ending) -> Task<void> {
        try {
            for (;;) {
                co_await throwIfCancelled();
                ++turns;
                co_await sleepFor(clock, 0.5);
            }
        } catch (const TaskCancelled&) {
            ending = "cancelled";
        }
    }(clock, turns, ending));
    clock.advance(1.0);
    EXPECT_EQ(turns, 3);
    handle.cancel();
    EXPECT_EQ(ending, "cancelled");
    EXPECT_EQ(turns, 3);
}

// An owner of background work, as the controller will be: it holds a scope and a lifetime.
class Owner {
public:
    explicit Owner(Scheduler& clock, std::vector<std::string>& log)
        : clock_(clock)
        , log_(log)
    {
    }
    void startTicking()
    {
        scope_.spawn([](Owner* self) -> Task<void> {
            for (;;) {
                co_await sleepFor(self->clock_, 0.01);
                self->log_.push_back("tick");
            }
        }(this));
    }

private:
    Scheduler& clock_;
    std::vector<std::string>& log_;
    TaskScope scope_;
};

TEST(TaskTest, DestroyingTheOwnerStopsItsTimersOnTheFakeClock)
{
    ManualScheduler clock;
    std::vector<std::string> log;
    auto owner = std::make_unique<Owner>(clock, log);
    owner->startTicking();
    clock.advance(0.015);
    EXPECT_EQ(log.size(), 1u);
    owner.reset();
    EXPECT_EQ(clock.pending(), 0u);
    clock.advance(1);
    EXPECT_EQ(log.size(), 1u);
}

TEST(TaskTest, DestroyingTheOwnerWhileAGLibTimerIsPendingNeverFiresIntoIt)
{
    std::vector<std::string> log;
    auto owner = std::make_unique<Owner>(GLibScheduler::shared(), log);
    owner->startTicking();
    ASSERT_TRUE(iterateUntil([&] { return !log.empty(); }));
    owner.reset();  // a timeout is pending now
    bool later = false;
    auto guard = GLibScheduler::shared().schedule(0.05, [&] { later = true; });
    ASSERT_TRUE(iterateUntil([&] { return later; }));
    EXPECT_EQ(log.size(), 1u);
}

TEST(TaskTest, TwoTasksInterleaveOnTheGLibMainLoop)
{
    auto& clock = GLibScheduler::shared();
    TaskScope scope;
    std::vector<std::string> log;
    // "slow" waits once for long; "quick" takes several short turns meanwhile.
    scope.spawn([](Scheduler& clock, std::vector<std::string>& log) -> Task<void> {
        log.push_back("slow starts");
        co_await sleepFor(clock, 0.3);
        log.push_back("slow ends");
    }(clock, log));
    scope.spawn([](Scheduler& clock, std::vector<std::string>& log) -> Task<void> {
        for (int i = 0; i < 3; ++i) {
            co_await sleepFor(clock, 0.001);
            log.push_back("quick");
        }
    }(clock, log));
    ASSERT_TRUE(iterateUntil([&] { return scope.running() == 0; }));
    EXPECT_EQ(log, (std::vector<std::string> { "slow starts", "quick", "quick", "quick", "slow ends" }));
}

TEST(LifetimeTest, WeakCallbackDoesNothingOnceTheOwnerIsGone)
{
    int calls = 0;
    auto lifetime = std::make_unique<Lifetime>();
    auto callback = weakCallback(lifetime->token(), [&](int n) { calls += n; });
    callback(2);
    lifetime.reset();
    callback(5);
    EXPECT_EQ(calls, 2);
}

}  // namespace
}  // namespace quorvane
