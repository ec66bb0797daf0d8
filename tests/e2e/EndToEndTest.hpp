#pragma once

// The fixture of every end-to-end scenario: the Dot simulator and the real `quorvane` program
// with data folders of its own, in the private session bus, keyring and X server that the test
// process runs in (see CMakeLists.txt). What a scenario does through the page goes through the
// page's own road: commands are window messages as the page posts them, text is typed into the
// page's composer, and what is checked is the state the page received or what it shows.

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <boost/json/value.hpp>
#include <gtest/gtest.h>

#include "AppProcess.hpp"
#include "Simulator.hpp"

namespace quorvane::testing {

class EndToEndTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Starts the simulator (with `options`, e.g. "--signed-in") and then Quorvane.
    void startSimulator(std::vector<std::string> options = { "--signed-in" });
    void launch();
    // Quits Quorvane as the user does and starts it again on the same data.
    void restart();

    // The ClientState the page received last (null before the first).
    boost::json::value state();
    // Runs `body` in the page's own world (see AppProcess::run).
    boost::json::value page(const std::string& body, const std::string& argument = "");
    // Posts a command as the page does; its id.
    std::string post(const std::string& command, const boost::json::object& data = {});
    // Waits for the shell's answer to `id`: null or the sentence.
    boost::json::value answer(const std::string& id, double seconds = 60);

    // Waits until `holds` is true of the page's state; a failure names `what` and shows the
    // state it saw last.
    ::testing::AssertionResult waitFor(
        const std::string& what, const std::function<bool(const boost::json::value&)>& holds, double seconds = 90);

    std::filesystem::path folder;
    std::unique_ptr<Simulator> sim;
    std::unique_ptr<AppProcess> app;
};

// Waits until `holds` is true of the state the page of `app` received; a failure names `what`
// and shows the state it saw last.
::testing::AssertionResult waitForState(AppProcess& app, const std::string& what,
    const std::function<bool(const boost::json::value&)>& holds, double seconds = 90);

// Small readers of a ClientState.
const boost::json::array& messagesOf(const boost::json::value& state);
// A list of the account (`jobs`, `handoffs`, …); empty when the state has none.
const boost::json::array& accountList(const boost::json::value& state, const char* key);
std::string stringAt(const boost::json::value& object, const char* key);

// The request ids of every Quorvane request typed into the Dot page, in order, over all of the
// simulator's conversations.
std::vector<std::string> requestsTypedIntoDot(Simulator& sim);

}  // namespace quorvane::testing
