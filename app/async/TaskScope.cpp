#include "quorvane/async/TaskScope.hpp"

#include <algorithm>

#include <glib.h>

namespace quorvane {

namespace async_detail {

struct ScopeEntry {
    std::coroutine_handle<> frame;
    std::shared_ptr<CancelState> cancel;
};

struct ScopeState {
    std::vector<std::shared_ptr<ScopeEntry>> entries;
};

namespace {

// The top of a detached chain: runs the task, swallows its end, and destroys itself.
struct Runner {
    struct promise_type : PromiseBase {
        std::weak_ptr<ScopeState> scope;
        ScopeEntry* entry = nullptr;

        Runner get_return_object() { return Runner { std::coroutine_handle<promise_type>::from_promise(*this) }; }
        std::suspend_always initial_suspend() noexcept { return {}; }
        std::suspend_never final_suspend() noexcept { return {}; }
        void return_void() { }
        void unhandled_exception() { std::terminate(); }  // the body catches everything

        ~promise_type()
        {
            entry->frame = nullptr;
            if (auto state = scope.lock()) {
                auto& list = state->entries;
                list.erase(std::remove_if(list.begin(), list.end(), [this](const auto& e) { return e.get() == entry; }),
                    list.end());
            }
        }
    };
    std::coroutine_handle<promise_type> handle;
};

Runner run(Task<void> task)
{
    try {
        co_await std::move(task);
    } catch (const TaskCancelled&) {
        // A cancelled task ends quietly.
    } catch (const std::exception& error) {
        g_warning("A background task failed: %s", error.what());
    } catch (...) {
        g_warning("A background task failed.");
    }
}

}  // namespace
}  // namespace async_detail

using namespace async_detail;

void TaskHandle::cancel() const
{
    if (auto entry = entry_.lock())
        entry->cancel->cancel();
}

bool TaskHandle::running() const
{
    auto entry = entry_.lock();
    return entry && entry->frame;
}

TaskScope::TaskScope()
    : state_(std::make_shared<ScopeState>())
{
}

TaskScope::~TaskScope()
{
    // Take the list and drop the state first, so the frames being destroyed do not edit it.
    auto entries = std::move(state_->entries);
    state_.reset();
    for (auto& entry : entries) {
        if (auto frame = std::exchange(entry->frame, nullptr))
            frame.destroy();
    }
}

TaskHandle TaskScope::spawn(Task<void> task)
{
    auto runner = run(std::move(task));
    auto entry = std::make_shared<ScopeEntry>();
    entry->frame = runner.handle;
    entry->cancel = std::make_shared<CancelState>();
    auto& promise = runner.handle.promise();
    promise.cancel = entry->cancel;
    promise.scope = state_;
    promise.entry = entry.get();
    state_->entries.push_back(entry);
    TaskHandle handle(entry);
    runner.handle.resume();  // may finish (and forget the entry) before returning
    return handle;
}

void TaskScope::cancelAll()
{
    auto entries = state_->entries;  // cancelled tasks remove themselves while we go
    for (auto& entry : entries)
        entry->cancel->cancel();
}

std::size_t TaskScope::running() const { return state_->entries.size(); }

}  // namespace quorvane
