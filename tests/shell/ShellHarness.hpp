#pragma once

// What every end-to-end test of the shell needs: the real application (AdwApplication, the
// AppDelegate, the real Controller over a real store in a throw-away keyring) showing the test
// page of tests/shell/page instead of the interface page, a way to run scripts in that page, and
// a stand-in for the user's browser. Each case runs in its own process, on its own X server and
// session bus (see CMakeLists.txt), so the application id is free for every case.

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <boost/json/value.hpp>
#include <gtest/gtest.h>

#include "quorvane/shell/AppDelegate.hpp"
#include "quorvane/shell/Application.hpp"

namespace quorvane::testing {

// Runs the main loop until `done` holds; false after `seconds`.
bool runUntil(const std::function<bool()>& done, double seconds = 20);
void runFor(double seconds);

// The first difference between two JSON values, as "path: a ≠ b"; empty when they are equal
// (object keys in any order, as the page reads them).
std::string jsonDifference(const boost::json::value& a, const boost::json::value& b, const std::string& path = "$");

class ShellTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Starts the application (startup and the first activation) and waits until the page has
    // loaded and, unless `waitForVault` is false, the vault is open. `adjust` may change the
    // options first.
    void launch(const std::function<void(ShellOptions&)>& adjust = {}, bool waitForVault = true);
    AppDelegate& shell() const { return *application->delegate(); }

    // Runs `script` (a function body) in the page's own world; its result as JSON.
    boost::json::value page(const std::string& script);
    // What the test page recorded (window.__test).
    boost::json::value record();
    // The page posts one command as the interface page does.
    void post(const std::string& id, const std::string& command, const std::string& dataJSON = "");
    // Posts a command and waits for its reply; the reply's error (null on success).
    boost::json::value roundTrip(const std::string& id, const std::string& command, const std::string& dataJSON = "");

    // The main window as drawn (GTK's own rendering of it), as a PNG file.
    void screenshot(const std::filesystem::path& file);
    // Any window of the application (a dialog), the same way.
    void screenshot(GtkWindow* window, const std::filesystem::path& file);

    // Runs the application's own main loop until it quits; false when it was still running
    // after `seconds` (the test then stops it).
    bool runsUntilQuit(double seconds);

    std::unique_ptr<Application> application;
    std::vector<std::string> opened;  // addresses handed to the user's browser
    std::filesystem::path pageFolder;
};

}  // namespace quorvane::testing
