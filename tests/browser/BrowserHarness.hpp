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

// Script run in the page's own world (as the page's code would), its result as a string.
std::string evalInPage(WebKitWebView* view, const std::string& script);

class BrowserTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Starts the simulator with `options` and installs its configuration.
    void startSimulator(std::vector<std::string> options = { "--signed-in" });
    std::unique_ptr<DotBrowser> makeBrowser(const std::string& profile);

    // Opens `url` and waits until the adapter answers with a snapshot that satisfies `ready`.
    DotSnapshot openAndInspect(
        DotBrowser& browser, const std::string& url,
        const std::function<bool(const DotSnapshot&)>& ready = [](const DotSnapshot& s) { return s.ready; });
    DotSnapshot inspectUntil(
        DotBrowser& browser, const std::function<bool(const DotSnapshot&)>& ready, double seconds = 20);

    std::filesystem::path folder;
    std::unique_ptr<Simulator> simulator;
    std::vector<std::unique_ptr<DotBrowser>> browsers;
};

}  // namespace quorvane::testing
