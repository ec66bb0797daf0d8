// The run loop's timing rules on the manual clock: repairs and their reload back-off, the user's
// own text in the Dot composer, delivery checks of a request whose turn never appeared, a turn
// without a reply, and a labelling request that is given up.

#include <gtest/gtest.h>

#include "RunLoopHarness.hpp"
#include "quorvane/controller/RunLoopTiming.hpp"

namespace quorvane::testing {
namespace {

constexpr const char* kRecovering = "Your messages are saved. We\u2019re getting things moving again.";
constexpr const char* kUnfinished
    = "You have an unfinished message in your Dot window. Finish it there, then we\u2019ll continue here.";
constexpr const char* kOtherConversation = "https://dot.example/dots/11111111-2222-4333-8444-555555555555";

class TimingTest : public RunLoopTest {
protected:
    // A labelling request for Muse that was sent before the application stopped.
    static PendingRequest labellingRequest(const Vault& vault)
    {
        const Bot& muse = vault.account().bots.back();
        PendingRequest labels = PendingRequest::make("L1", vault.account().bots.front(), "Label the crew");
        labels.roleTargets = std::vector<RoleTarget> { RoleTarget { muse.id, muse.roleSource() } };
        labels.phase = JobPhase::waiting;
        labels.submitted = kOrigin;
        return labels;
    }

    // Submits one request whose text the page answers with `sendOutcome`, over a page that
    // already shows a few messages; returns its id once it was sent.
    std::string submitOverHistory(FakePage::Outcome sendOutcome)
    {
        startConnected();
        for (int n = 0; n < 4; ++n)
            page().add(n % 2 ? "assistant" : "user", "Earlier message " + std::to_string(n));
        page().sendOutcomes = { sendOutcome };
        const std::string id = send("Are you there?");
        advance(1);
        return id;
    }
};

TEST_F(TimingTest, PageLoadingTooLongIsRepairedWithBackOff)
{
    transports.prepare = [](FakePage& page) {
        page.state.url = kConversation;
        page.isLoading = true;
    };
    make(connectedVault());
    controller->start();
    advance(30);
    EXPECT_TRUE(reloads().empty());
    EXPECT_EQ(controller->connection, ConnectionStatus::recovering);
    EXPECT_EQ(controller->issue, "") << "loading alone is no problem yet";

    advance(300);
    EXPECT_EQ(controller->issue, kRecovering);
    // One repair at 30.5 s (the first turn after more than 30 s of loading); reloads 2 s later,
    // then after 5, 15, 30 and 60 s, and every 60 s from then on.
    EXPECT_EQ(reloads(), (std::vector<double> { 32.5, 37.5, 52.5, 82.5, 142.5, 202.5, 262.5, 322.5 }));
    for (const auto& url : page().opened)
        EXPECT_EQ(url, kConversation);
}

TEST_F(TimingTest, UsersOwnTextInTheComposerIsNeverReloadedAway)
{
    startConnected(connectedVault(), std::string(kOtherConversation));
    page().state.draft = "my own words, half written";
    advance(200);
    EXPECT_TRUE(reloads().empty());
    EXPECT_EQ(controller->connection, ConnectionStatus::recovering);

    page().state.draft = "";
    advance(1);
    EXPECT_EQ(reloads().size(), 1u) << "the reload that was due comes once the text is gone";
}

TEST_F(TimingTest, QueuedRequestWaitsForTheUsersOwnText)
{
    startConnected();
    page().state.draft = "something of my own";
    const std::string id = send("Queued meanwhile");
    advance(5);
    EXPECT_EQ(page().count("prepare"), 0u);
    EXPECT_EQ(job(id)->phase, JobPhase::queued);
    EXPECT_EQ(controller->connection, ConnectionStatus::attention);
    EXPECT_EQ(controller->issue, kUnfinished);
    EXPECT_EQ(published.back().issue, kUnfinished);

    page().state.draft = "";
    advance(1.5);
    EXPECT_EQ(page().count("send"), 1u);
}

// A send that hangs in the page: the request's own text stays in the composer and the page is
// busy with it until it is loaded again. The delivery checks reload it all the same (nothing of
// the user's is in it) and decide; the user's own text in its place still stops them.
TEST_F(TimingTest, DeliveryChecksReloadAPageStuckOnTheRequestsOwnSend)
{
    for (const bool ownText : { true, false }) {
        SCOPED_TRACE(ownText ? "the request's own text" : "the user's own text");
        controller.reset();
        const std::string id = submitOverHistory(FakePage::Outcome::lost);
        page().state.draft = ownText ? job(id)->payload.str() : "My own words";
        page().state.busy = true;
        page().state.ready = false;
        page().onOpen = [this](const std::string&) {
            page().state.draft = "";
            page().state.busy = false;
            page().state.ready = true;
        };
        advance(60);
        if (ownText) {
            EXPECT_EQ(reloads().size(), 3u);
            EXPECT_FALSE(job(id));
            EXPECT_EQ(statusOf(id), "deliveryMissing");
        } else {
            EXPECT_TRUE(reloads().empty());
            EXPECT_EQ(statusOf(id), "uncertain");
        }
        EXPECT_EQ(page().count("send"), 1u) << "never sent twice";
    }
}

// A request whose turn never appears becomes uncertain after 15 s; three delivery checks, at
// least 10 s apart, reload the page; 10 s after the last one the page decides.
TEST_F(TimingTest, DeliveryChecksDecide)
{
    struct Case {
        const char* name;
        std::function<void(FakePage&, const std::string& payload)> afterChecks;
        const char* verdict;
    };
    const std::vector<Case> cases = {
        { "the page shows the request twice",
            [](FakePage& page, const std::string& payload) {
                page.add("user", payload);
                page.add("user", payload);
            },
            "deliveryObserved" },
        { "the page is as it was", [](FakePage&, const std::string&) {}, "deliveryMissing" },
        { "the page shows other messages now",
            [](FakePage& page, const std::string&) {
                page.state.messages.clear();
                page.add("user", "Something else entirely");
            },
            "deliveryUnknown" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        controller.reset();
        const std::string id = submitOverHistory(FakePage::Outcome::lost);
        const double submitted = *job(id)->submitted - kOrigin - started;
        const std::string payload = job(id)->payload.str();
        EXPECT_EQ(job(id)->phase, JobPhase::submitting);
        EXPECT_EQ(statusOf(id), "sending");

        advance(14);
        EXPECT_EQ(statusOf(id), "sending") << "15 s have not passed";
        advance(1.5);
        EXPECT_EQ(statusOf(id), "uncertain");
        EXPECT_EQ(job(id)->note, "Checking delivery automatically\u2026");

        advance(25);
        std::vector<double> checks = reloads();
        ASSERT_EQ(checks.size(), 3u);
        EXPECT_GT(checks[0] - submitted, 15);
        EXPECT_GE(checks[1] - checks[0], 10 - 1e-9);
        EXPECT_GE(checks[2] - checks[1], 10 - 1e-9);
        EXPECT_TRUE(job(id)) << "no verdict before 10 s after the last check";

        c.afterChecks(page(), payload);
        advance(10);
        EXPECT_FALSE(job(id));
        EXPECT_EQ(statusOf(id), c.verdict);
        EXPECT_EQ(reloads().size(), 3u);
        EXPECT_EQ(page().count("send"), 1u) << "never sent twice";
    }
}

TEST_F(TimingTest, TurnWithoutReplyIsDelayedAndRefreshedAtMostOncePerMinute)
{
    const std::string id = submitOverHistory(FakePage::Outcome::succeed);
    ASSERT_EQ(job(id)->phase, JobPhase::waiting);
    const double submitted = *job(id)->submitted - kOrigin - started;
    advance(44);
    EXPECT_EQ(statusOf(id), "waiting");
    EXPECT_TRUE(reloads().empty());
    advance(2);
    EXPECT_EQ(statusOf(id), "delayed");

    advance(400);
    std::vector<double> times = reloads();
    ASSERT_EQ(times.size(), 4u);
    EXPECT_GT(times.front() - submitted, 45);
    EXPECT_LT(times.back() - submitted, 240);
    for (std::size_t i = 1; i < times.size(); ++i)
        EXPECT_GT(times[i] - times[i - 1], 60);
    EXPECT_TRUE(job(id)) << "a delayed request keeps waiting";
}

// A reply that came untagged was offered to the user as a stray; once it is known, the request
// stops waiting for a tagged one.
TEST_F(TimingTest, ReplyKnownElsewhereEndsTheWait)
{
    const std::string id = submitOverHistory(FakePage::Outcome::succeed);
    const std::string stray = page().add("assistant", "An answer without its tag").id.str();
    controller->transaction([&](Vault& vault) { vault.account().ignoredRemoteReplyIDs = std::vector<Text> { stray }; });
    advance(44);
    EXPECT_TRUE(job(id));
    advance(2);
    EXPECT_FALSE(job(id));
    EXPECT_EQ(statusOf(id), "replyPending");
}

TEST_F(TimingTest, LabellingRequestIsGivenUpAfter90Seconds)
{
    Vault vault = vaultWithMuse();
    PendingRequest labels = labellingRequest(vault);
    vault.account().jobs = { labels };
    startConnected(vault);

    advance(89);
    EXPECT_TRUE(job("L1"));
    advance(2);
    EXPECT_FALSE(job("L1"));
    const auto& bots = controller->vault().account().bots;
    EXPECT_EQ(bots.back().roleAttemptSource, std::optional<Text>(vault.account().bots.back().roleSource()));
    EXPECT_FALSE(bots.back().generatedRole);
}

TEST_F(TimingTest, LabellingReplyIsAppliedOnceStable)
{
    Vault vault = vaultWithMuse();
    PendingRequest labels = labellingRequest(vault);
    labels.replyToken = "abcdefabcdef";
    labels.payload = "[Quorvane request L1]\n[Reply tag: [qv:abcdefabcdef]]\nLabel the crew";
    vault.account().jobs = { labels };
    transports.prepare = [&](FakePage& page) {
        page.state.url = kConversation;
        page.add("user", labels.payload.str());
        page.add("assistant", "[qv:abcdefabcdef]\n\n{\"roles\":[{\"id\":\"muse\",\"role\":\"Verse writer\"}]}");
    };
    make(vault);
    controller->start();
    advance(2.5);
    EXPECT_TRUE(job("L1"));
    advance(1);
    EXPECT_FALSE(job("L1"));
    EXPECT_EQ(controller->vault().account().bots.back().generatedRole, std::optional<Text>("Verse writer"));
}

}  // namespace
}  // namespace quorvane::testing
