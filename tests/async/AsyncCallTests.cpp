// Awaiting GIO-style asynchronous calls: results, GErrors, cancellation, and owners that go away
// while a call is pending.

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "FakeOperation.hpp"
#include "quorvane/async/Async.hpp"

namespace quorvane {
namespace {

using testing::FakeOperations;
using testing::iterateUntil;

struct Outcome {
    std::vector<std::string> log;
    bool ended = false;
};

Task<void> awaitOne(FakeOperations& ops, Outcome& out, GCancellable* lifetime = nullptr)
{
    try {
        int value = co_await ops.call(lifetime);
        out.log.push_back("value " + std::to_string(value));
    } catch (const TaskCancelled& cancelled) {
        out.log.push_back(cancelled.what());
    } catch (const GLibError& error) {
        out.log.push_back("error " + std::string(g_quark_to_string(error.domain)) + "/" + std::to_string(error.code)
            + ": " + error.what());
    }
    out.ended = true;
}

TEST(AsyncCallTest, ResultAndErrorReachTheAwaitingTask)
{
    struct Case {
        const char* name;
        void (*complete)(FakeOperations&);
        const char* expected;
    };
    const Case cases[] = {
        { "success", [](FakeOperations& ops) { ops.succeed(0, 7); }, "value 7" },
        { "failure", [](FakeOperations& ops) { ops.fail(0, "No such page"); },
            "error g-io-error-quark/1: No such page" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeOperations ops;
        Outcome out;
        TaskScope scope;
        scope.spawn(awaitOne(ops, out));
        ASSERT_EQ(ops.calls.size(), 1u);
        EXPECT_FALSE(out.ended);
        c.complete(ops);
        ASSERT_TRUE(iterateUntil([&] { return out.ended; }));
        EXPECT_EQ(out.log, std::vector<std::string> { c.expected });
        EXPECT_EQ(ops.collected, 1);
    }
}

TEST(AsyncCallTest, CancellingMidCallResumesAtOnceAndCancelsTheCall)
{
    FakeOperations ops;
    Outcome out;
    TaskScope scope;
    auto handle = scope.spawn(awaitOne(ops, out));
    ASSERT_EQ(ops.calls.size(), 1u);
    handle.cancel();
    EXPECT_EQ(out.log, std::vector<std::string> { "The task was cancelled." });
    EXPECT_TRUE(g_cancellable_is_cancelled(ops.calls[0].cancellable.get()));
    // The late answer is collected (nothing leaks) and goes nowhere.
    ops.succeed(0, 1);
    ASSERT_TRUE(iterateUntil([&] { return ops.collected == 1; }));
    EXPECT_EQ(out.log.size(), 1u);
}

// A page owner in miniature: it makes calls from its own tasks and dies with them.
class PageOwner {
public:
    PageOwner(FakeOperations& ops, std::vector<std::string>& log)
        : ops_(ops)
        , log_(log)
    {
    }
    void load()
    {
        scope_.spawn([](PageOwner* self) -> Task<void> {
            int value = co_await self->ops_.call();
            self->log_.push_back("loaded " + std::to_string(value));  // would touch a dead owner
        }(this));
    }

private:
    FakeOperations& ops_;
    std::vector<std::string>& log_;
    TaskScope scope_;
};

TEST(AsyncCallTest, DestroyingTheOwnerWhileACallIsPendingNeverResumesIt)
{
    FakeOperations ops;
    std::vector<std::string> log;
    auto owner = std::make_unique<PageOwner>(ops, log);
    owner->load();
    ASSERT_EQ(ops.calls.size(), 1u);
    owner.reset();
    ops.succeed(0, 3);
    ASSERT_TRUE(iterateUntil([&] { return ops.collected == 1; }));
    EXPECT_TRUE(log.empty());
}

TEST(AsyncCallTest, EndOfTheCalleesLifetimeFailsThePendingCallAsCancelled)
{
    FakeOperations ops;
    Outcome out;
    TaskScope scope;
    auto lifetime = GObjectPtr<GCancellable>::adopt(g_cancellable_new());
    scope.spawn(awaitOne(ops, out, lifetime.get()));
    g_cancellable_cancel(lifetime.get());
    EXPECT_EQ(out.log, std::vector<std::string> { "error g-io-error-quark/19: Operation was cancelled" });
    EXPECT_TRUE(g_cancellable_is_cancelled(ops.calls[0].cancellable.get()));
    // A call started after the end fails the same way without being made.
    Outcome second;
    scope.spawn(awaitOne(ops, second, lifetime.get()));
    EXPECT_EQ(second.log, out.log);
    EXPECT_EQ(ops.calls.size(), 1u);
    // The cancelled call still reports back, as GIO calls do; its result is collected and dropped.
    ops.fail(0, "Operation was cancelled");
    ASSERT_TRUE(iterateUntil([&] { return ops.collected == 1; }));
}

TEST(AsyncCallTest, TwoTasksResumeInTheOrderTheirCallsComplete)
{
    FakeOperations ops;
    Outcome first, second;
    TaskScope scope;
    scope.spawn(awaitOne(ops, first));
    scope.spawn(awaitOne(ops, second));
    ASSERT_EQ(ops.calls.size(), 2u);
    ops.succeed(1, 20);
    ASSERT_TRUE(iterateUntil([&] { return second.ended; }));
    EXPECT_FALSE(first.ended);
    ops.succeed(0, 10);
    ASSERT_TRUE(iterateUntil([&] { return first.ended; }));
    EXPECT_EQ(first.log, std::vector<std::string> { "value 10" });
    EXPECT_EQ(second.log, std::vector<std::string> { "value 20" });
}

TEST(AsyncCallTest, ACallThatCompletesInsideStartDoesNotSuspend)
{
    TaskScope scope;
    std::string result;
    scope.spawn([](std::string& result) -> Task<void> {
        result = std::to_string(co_await asyncCall<int>(
            [](GCancellable* cancellable, GAsyncReadyCallback callback, gpointer data) {
                // Report straight away, from inside the start function.
                GTask* task = g_task_new(nullptr, cancellable, nullptr, nullptr);
                g_task_return_int(task, 5);
                callback(nullptr, G_ASYNC_RESULT(task), data);
                g_object_unref(task);
            },
            [](GObject*, GAsyncResult* result) { return int(g_task_propagate_int(G_TASK(result), nullptr)); }));
    }(result));
    EXPECT_EQ(result, "5");
    EXPECT_EQ(scope.running(), 0u);
}

}  // namespace
}  // namespace quorvane
