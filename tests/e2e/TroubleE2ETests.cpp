// Trouble on the road, one case each, with the program connected to the simulator first: the
// page refuses sends, a send's outcome is unknown, the page puts up a dialog, the sign-in
// expires, the page's web process dies, and the service goes away and comes back. In every
// case the user's message is kept and gets through once the trouble is over.

#include <boost/json/serialize.hpp>

#include "Conversation.hpp"
#include "EndToEndTest.hpp"

namespace quorvane::testing {

namespace {

constexpr const char* kNotSentYet = "Your message is saved, but couldn\u2019t be sent yet.";
constexpr const char* kFinishOpenStep = "Finish the open step in your Dot window to continue.";
constexpr const char* kRecovering = "Your messages are saved. We\u2019re getting things moving again.";

// The local message `id` of the state, or null.
boost::json::value messageWithID(const boost::json::value& state, const std::string& id)
{
    for (const auto& m : messagesOf(state)) {
        if (stringAt(m, "id") == id)
            return m;
    }
    return nullptr;
}

// The job of request `id`, or null once it is gone.
boost::json::value jobWithID(const boost::json::value& state, const std::string& id)
{
    for (const auto& job : accountList(state, "jobs")) {
        if (stringAt(job, "id") == id)
            return job;
    }
    return nullptr;
}

std::string statusOf(const boost::json::value& state, const std::string& id)
{
    return stringAt(messageWithID(state, id), "status");
}

// How many of the simulator's conversations' user messages hold `words`.
int timesTypedIntoDot(Simulator& sim, const std::string& words)
{
    int times = 0;
    const auto state = sim.controlGet("state");
    for (const auto& conversation : state.at("conversations").as_array()) {
        for (const auto& message : conversation.at("messages").as_array()) {
            if (stringAt(message, "role") == "user" && stringAt(message, "typed").find(words) != std::string::npos)
                ++times;
        }
    }
    return times;
}

}  // namespace

class TroubleTest : public EndToEndTest {
protected:
    void SetUp() override
    {
        EndToEndTest::SetUp();
        launch();
        chat = std::make_unique<Conversation>(*app);
        chat->connect();
    }

    ::testing::AssertionResult connectionIs(const std::string& connection, const std::string& issue = "")
    {
        return waitFor(
            "the connection \"" + connection + "\" with the issue \"" + issue + "\"", [&](const boost::json::value& s) {
                return stringAt(s, "connection") == connection && stringAt(s, "issue") == issue;
            });
    }

    std::unique_ptr<Conversation> chat;
};

TEST_F(TroubleTest, RefusedSendsEndInFailedWithItsSentenceAndARetryFromThePageSendsIt)
{
    sim->control("refuse-send", R"({"count": 3})");
    const std::string words = "Is the bakery open on Sunday?";
    const std::string id = chat->send(words);
    ASSERT_TRUE(waitFor("the request failed with its sentence after three attempts", [&](const boost::json::value& s) {
        const auto job = jobWithID(s, id);
        return statusOf(s, id) == "failed" && stringAt(job, "note") == kNotSentYet
            && job.at("attempts") == boost::json::value(3);
    }));
    EXPECT_EQ(sim->controlGet("state").at("pending").at("refusals"), boost::json::value(0));

    EXPECT_EQ(chat->command("retry", { { "id", id } }), boost::json::value(nullptr));
    const auto reply = chat->awaitFiledReply(id);
    EXPECT_NE(stringAt(reply, "text").find(words), std::string::npos) << boost::json::serialize(reply);
    EXPECT_EQ(timesTypedIntoDot(*sim, words), 1);
}

TEST_F(TroubleTest, ASendWithAnUnknownOutcomeIsSettledByDeliveryChecks)
{
    chat->awaitFiledReply(chat->send("Good morning."));
    // The service takes the next send and never answers it: no turn appears on the page.
    sim->control("stall-send");
    const std::string words = "Did this one arrive?";
    const std::string id = chat->send(words);
    EXPECT_TRUE(
        waitFor("the request uncertain", [&](const boost::json::value& s) { return statusOf(s, id) == "uncertain"; }));
    // The checks reload the page; the message is not in it, and what was there before still is.
    EXPECT_TRUE(waitFor(
        "the delivery found missing",
        [&](const boost::json::value& s) { return statusOf(s, id) == "deliveryMissing" && jobWithID(s, id).is_null(); },
        150));
    EXPECT_EQ(timesTypedIntoDot(*sim, words), 0);

    // Sent again from the page, it is answered.
    EXPECT_EQ(chat->command("resend", { { "id", id } }), boost::json::value(nullptr));
    chat->awaitFiledReply(id);
    EXPECT_EQ(timesTypedIntoDot(*sim, words), 1);
}

TEST_F(TroubleTest, ADialogAsksForAttentionAndTheRequestGoesOnOnceItIsFinishedInTheDotWindow)
{
    sim->control("dialog", R"({"title": "Check your details", "body": "Confirm your birthday.", "button": "Done"})");
    const std::string words = "What is on the menu tonight?";
    const std::string id = chat->send(words);
    EXPECT_TRUE(connectionIs("attention", kFinishOpenStep));
    EXPECT_EQ(statusOf(state(), id), "queued");

    // The user opens the Dot window and finishes the step there.
    EXPECT_EQ(chat->command("openDot"), boost::json::value(nullptr));
    EXPECT_EQ(app->runInWindow("Your Dot", R"(
        const button = document.querySelector('[role="dialog"] button');
        if (!button) throw new Error('The Dot window shows no dialog.');
        button.click();
        return true;)"),
        boost::json::value(true));
    const auto reply = chat->awaitFiledReply(id);
    EXPECT_NE(stringAt(reply, "text").find(words), std::string::npos) << boost::json::serialize(reply);
    EXPECT_TRUE(connectionIs("connected"));
}

TEST_F(TroubleTest, AnExpiredSignInIsRenewedInTheDotWindowAndNothingIsLost)
{
    const std::string before = chat->send("Remember the word lighthouse.");
    chat->awaitFiledReply(before);
    sim->control("expire-sign-in");
    EXPECT_TRUE(connectionIs("expired"));
    const std::string words = "Which word did I ask you to remember?";
    const std::string id = chat->send(words);

    // Signing in again as the user does, in the Dot window.
    EXPECT_EQ(chat->command("openDot"), boost::json::value(nullptr));
    chat->signInInDotWindow();
    chat->awaitFiledReply(id);
    EXPECT_TRUE(connectionIs("connected"));
    const auto after = state();
    EXPECT_EQ(statusOf(after, before), "sent");
    EXPECT_EQ(timesTypedIntoDot(*sim, words), 1);
}

TEST_F(TroubleTest, AKilledWebProcessIsReconnected)
{
    app->killDotWebProcess();
    EXPECT_TRUE(connectionIs("recovering", kRecovering));
    EXPECT_TRUE(connectionIs("connected"));
    const std::string words = "Are you back?";
    const auto reply = chat->awaitFiledReply(chat->send(words));
    EXPECT_NE(stringAt(reply, "text").find(words), std::string::npos) << boost::json::serialize(reply);
}

TEST_F(TroubleTest, AfterAServiceOutageTheConnectionRecoversAndTheQueueDrains)
{
    // The program starts while the service is away: the page cannot load.
    app->quit();
    sim->stop();
    app->start();
    EXPECT_TRUE(connectionIs("recovering", kRecovering));
    const std::string first = chat->send("First message during the outage.");
    const std::string second = chat->send("Second message during the outage.");
    EXPECT_TRUE(connectionIs("recovering", kRecovering));
    const auto waiting = state();
    EXPECT_EQ(statusOf(waiting, first), "queued");
    EXPECT_EQ(statusOf(waiting, second), "queued");

    sim->restart();
    EXPECT_TRUE(waitFor(
        "both messages answered",
        [&](const boost::json::value& s) {
            return statusOf(s, first) == "sent" && statusOf(s, second) == "sent" && jobWithID(s, first).is_null()
                && jobWithID(s, second).is_null();
        },
        150));
    chat->awaitFiledReply(second);
    EXPECT_EQ(stringAt(state(), "connection"), "connected");
}

}  // namespace quorvane::testing
