#pragma once

// What every end-to-end browser test needs: its own temporary data and cache homes, GTK, a
// running Dot simulator whose configuration is installed, and ways to wait on the main loop.

#include <exception>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <boost/json.hpp>
#include <gtest/gtest.h>

#include "Simulator.hpp"
#include "quorvane/async/Async.hpp"
#include "quorvane/browser/DotBrowser.hpp"

namespace quorvane::testing {

// Runs the main loop until `done` holds; false after `seconds`.
bool runUntil(const std::function<bool()>& done, double seconds = 20);
// Runs the main loop for `seconds`.
void runFor(double seconds);

// Runs a task to its end on the main loop and hands back its value or its exception.
template <class T>
T await(Task<T> task, double seconds = 30)
{
    std::optional<T> value;
    std::exception_ptr error;
    bool done = false;
    TaskScope scope;
    scope.spawn([](Task<T> task, std::optional<T>& value, std::exception_ptr& error, bool& done) -> Task<void> {
        try {
            value.emplace(co_await std::move(task));
        } catch (...) {
            error = std::current_exception();
        }
        done = true;
    }(std::move(task), value, error, done));
    if (!runUntil([&] { return done; }, seconds))
        throw std::runtime_error("The task did not finish in time.");
    if (error)
        std::rethrow_exception(error);
    return std::move(*value);
}
void awaitVoid(Task<void> task, double seconds = 30);

// The message of whatever `task` throws, or "" when it succeeds.
std::string failureOf(Task<void> task);
// "ok", or the kind and message of what `task` throws: "NotSubmitted: …", "AppFailure: …",
// "cancelled" (a GLib cancellation) or "other: …".
std::string outcomeOf(Task<void> task, double seconds = 30);

// A call left running on the main loop while the test does other things (advances a clock,
// replaces the browser); outcome() reads as outcomeOf() once done() holds.
class PendingCall {
public:
    explicit PendingCall(Task<void> task);
    bool done() const { return *done_; }
    const std::string& outcome() const { return *outcome_; }

private:
    std::shared_ptr<bool> done_ = std::make_shared<bool>(false);
    std::shared_ptr<std::string> outcome_ = std::make_shared<std::string>();
    TaskScope scope_;
};

// Script run in the page's own world (as the page's code would), its result as a string.
std::string evalInPage(WebKitWebView* view, const std::string& script);

// Opens `url` and waits until the adapter answers with a snapshot that satisfies `ready`.
DotSnapshot openAndInspect(
    DotBrowser& browser, const std::string& url,
    const std::function<bool(const DotSnapshot&)>& ready = [](const DotSnapshot& s) { return s.ready; },
    double seconds = 20);
DotSnapshot inspectUntil(
    DotBrowser& browser, const std::function<bool(const DotSnapshot&)>& ready, double seconds = 20);

// A test case in a process of its own: its own data folders and, when it starts one, its own
// simulator.
class BrowserTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Starts the simulator with `options` and installs its configuration.
    void startSimulator(std::vector<std::string> options = { "--signed-in" });
    std::unique_ptr<DotBrowser> makeBrowser(const std::string& profile);

    std::filesystem::path folder;
    std::unique_ptr<Simulator> simulator;
    std::vector<std::unique_ptr<DotBrowser>> browsers;
};

// Test cases of a binary that runs as one process (registered as one CTest test): they share
// one simulator (started --signed-in on first use) and one set of data folders, which saves a
// simulator start per case. Before each case the simulator is reset (conversations, faults,
// page variant) and signs everyone in again; each case makes its own browsers.
class SharedSimulatorTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    std::unique_ptr<DotBrowser> makeBrowser(Scheduler& scheduler = GLibScheduler::shared());
    // Applies a page variant (the simulator's `page` call) to the pages opened from now on.
    void pageVariant(const boost::json::object& variant);

    // A conversation with one exchange ("Hello Dot"), opened in `browser`; returns its address.
    std::string startConversation(DotBrowser& browser);
    // Prepares and sends `payload`, then waits until its answer is done.
    DotSnapshot sendAndSettle(DotBrowser& browser, const std::string& payload, const std::string& url);
    // The conversation at `url` as the simulator keeps it.
    boost::json::array conversationMessages(const std::string& url);
    // What the page submitted for each user turn of that conversation, in order.
    std::vector<std::string> typedTurns(const std::string& url);

    Simulator* simulator = nullptr;
};

}  // namespace quorvane::testing
