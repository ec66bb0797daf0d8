// A crew whose model will not stop delegating (the simulator's handoff modes): every answer
// hands the work on to the other teammates, or to the bot that speaks, or ends in a block that
// never closes. The chain must stop at the crew's limits, the user must be able to read in the
// conversation why it stopped, every request must reach the Dot page once, and the queue must
// drain and stay empty.

#include <chrono>
#include <iostream>
#include <set>
#include <thread>

#include <boost/json/serialize.hpp>

#include "Conversation.hpp"
#include "EndToEndTest.hpp"

namespace quorvane::testing {

namespace {

constexpr const char* kHandoffRefused = "I couldn\u2019t complete that handoff. Please try asking again.";
// The most handoffs the crew makes under one request of the user.
constexpr std::size_t kMaxHandoffsPerRoot = 6;

struct RunawayCase {
    const char* mode;  // the simulator's handoff mode
    bool chainRuns;  // whether any handoff can be accepted at all
};

void PrintTo(const RunawayCase& c, std::ostream* out) { *out << c.mode; }

std::vector<boost::json::value> handoffsOf(const boost::json::value& state, const std::string& rootID)
{
    std::vector<boost::json::value> found;
    for (const auto& handoff : accountList(state, "handoffs")) {
        if (stringAt(handoff, "rootRequestID") == rootID)
            found.push_back(handoff);
    }
    return found;
}

// The request has run its course: nothing queued or in flight, no handoff still working, and
// the user's message settled.
bool settled(const boost::json::value& state, const std::string& rootID)
{
    if (!accountList(state, "jobs").empty())
        return false;
    for (const auto& handoff : handoffsOf(state, rootID)) {
        if (stringAt(handoff, "status") == "working")
            return false;
    }
    for (const auto& message : messagesOf(state)) {
        if (stringAt(message, "id") == rootID)
            return stringAt(message, "status") == "sent";
    }
    return false;
}

}  // namespace

class RunawayCrewTest : public EndToEndTest, public ::testing::WithParamInterface<RunawayCase> { };

TEST_P(RunawayCrewTest, TheChainStopsAtTheCrewLimitsAndSaysWhy)
{
    const RunawayCase& c = GetParam();
    launch();
    Conversation chat(*app);
    chat.connect();
    chat.addTeammate("Muse", "A poet who answers in short verse.");
    chat.addTeammate("Sage", "A careful reviewer who checks facts.");
    chat.select("dot");
    sim->control("options", boost::json::serialize(boost::json::object { { "handoffs", c.mode } }));

    const auto started = std::chrono::steady_clock::now();
    const std::string root = chat.send("Plan the launch party for Friday.");
    ASSERT_TRUE(waitFor(
        "the chain stopped and the queue drained", [&](const boost::json::value& s) { return settled(s, root); }, 240));
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    const boost::json::value settledState = state();
    const auto handoffs = handoffsOf(settledState, root);
    const auto typed = requestsTypedIntoDot(*sim);
    std::cout << "runaway crew (" << c.mode << "): " << typed.size() << " requests typed into Dot, " << handoffs.size()
              << " handoffs, settled after " << seconds << " s\n";

    // Every request reached the page once: the root and one per accepted handoff.
    EXPECT_EQ(std::set<std::string>(typed.begin(), typed.end()).size(), typed.size());
    EXPECT_EQ(typed.size(), 1 + handoffs.size());
    EXPECT_LE(handoffs.size(), kMaxHandoffsPerRoot);
    if (c.chainRuns) {
        // Past the first teammates, so the limits (not the first answer) ended it.
        EXPECT_GT(handoffs.size(), 2u);
    } else {
        EXPECT_TRUE(handoffs.empty());
    }

    // The conversation says why the chain stopped.
    int refusals = 0;
    for (const auto& message : messagesOf(settledState)) {
        if (stringAt(message, "text").find(kHandoffRefused) != std::string::npos)
            ++refusals;
    }
    EXPECT_GT(refusals, 0) << boost::json::serialize(settledState.at("account").at("messages"));

    // Nothing starts again by itself.
    std::this_thread::sleep_for(std::chrono::seconds(8));
    EXPECT_EQ(requestsTypedIntoDot(*sim).size(), typed.size());
    EXPECT_TRUE(accountList(state(), "jobs").empty());
}

INSTANTIATE_TEST_SUITE_P(Modes, RunawayCrewTest,
    ::testing::Values(RunawayCase { "always", true }, RunawayCase { "self", false }, RunawayCase { "unclosed", false }),
    [](const auto& info) { return std::string(info.param.mode); });

}  // namespace quorvane::testing
