// What the page's own state makes of a turn: a sign-in, a dialog, a page on the wrong
// conversation or not ready, the first connection, the profile name and avatar, the home
// conversation that becomes a conversation of its own, and a turn that fails in a way no step
// expects.

#include <glib.h>
#include <gtest/gtest.h>

#include "Pictures.hpp"
#include "RunLoopHarness.hpp"

namespace quorvane::testing {
namespace {

constexpr const char* kRecovering = "Your messages are saved. We\u2019re getting things moving again.";
constexpr const char* kOtherConversation = "https://dot.example/dots/11111111-2222-4333-8444-555555555555";

class PageStateTest : public RunLoopTest {
protected:
};

TEST_F(PageStateTest, SignInIsAskedOrExpired)
{
    for (bool connectedBefore : { false, true }) {
        SCOPED_TRACE(connectedBefore ? "connected before" : "never connected");
        controller.reset();
        transports.prepare = [](FakePage& page) {
            page.state.url = kHome;
            page.state.ready = false;
            page.state.requiresSignIn = true;
        };
        make(connectedBefore ? connectedVault(kHome) : Vault::fresh());
        controller->start();
        controller->connect();
        controller->issue = "An older problem";
        advance(1);
        EXPECT_EQ(controller->connection, connectedBefore ? ConnectionStatus::expired : ConnectionStatus::signIn);
        EXPECT_EQ(controller->issue, "");
        EXPECT_TRUE(reloads().empty());
        EXPECT_EQ(controller->vault().account().connectedOnce, connectedBefore);
    }
}

TEST_F(PageStateTest, PageChecks)
{
    struct Case {
        const char* name;
        std::function<void(DotSnapshot&)> page;
        ConnectionStatus connection;
        const char* issue;
        bool reloads;
    };
    const std::vector<Case> cases = {
        { "a dialog",
            [](DotSnapshot& s) {
                s.ready = false;
                s.blockedByDialog = true;
            },
            ConnectionStatus::attention, "Finish the open step in your Dot window to continue.", false },
        { "not ready, no dialog", [](DotSnapshot& s) { s.ready = false; }, ConnectionStatus::recovering, kRecovering,
            true },
        { "busy is usable", [](DotSnapshot& s) { s.busy = true; }, ConnectionStatus::connected, "", false },
        { "another conversation", [](DotSnapshot& s) { s.url = kOtherConversation; }, ConnectionStatus::recovering,
            kRecovering, true },
        { "not a Dot address", [](DotSnapshot& s) { s.url = "https://elsewhere.example/dots/home"; },
            ConnectionStatus::recovering, kRecovering, true },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        controller.reset();
        startConnected();
        c.page(page().state);
        advance(5);
        EXPECT_EQ(controller->connection, c.connection);
        EXPECT_EQ(controller->issue, c.issue);
        EXPECT_EQ(published.back().connection, c.connection);
        if (c.reloads) {
            ASSERT_FALSE(reloads().empty());
            EXPECT_DOUBLE_EQ(reloads().front(), 2.5) << "2 s after the repair began";
            EXPECT_EQ(page().opened.back(), kConversation);
        } else {
            EXPECT_TRUE(reloads().empty());
        }
    }
}

TEST_F(PageStateTest, FirstConnectionRemembersTheConversationAndPutsTheWindowAway)
{
    transports.prepare = [](FakePage& page) { page.state.url = kConversation; };
    make(Vault::fresh());
    controller->start();
    controller->connect();
    EXPECT_TRUE(page().visible);
    advance(0.5);
    const Account& account = controller->vault().account();
    EXPECT_TRUE(account.connectedOnce);
    EXPECT_EQ(account.dotURL, kConversation);
    EXPECT_EQ(store->saved->account().dotURL, kConversation);
    EXPECT_FALSE(page().visible);
    EXPECT_EQ(controller->connection, ConnectionStatus::connected);
}

TEST_F(PageStateTest, ProfileNameRenamesThePrimaryBot)
{
    const std::string longest(64 * 2, 'x');
    std::string accented;
    for (int n = 0; n < 64; ++n)
        accented += "\xC3\xA9";  // 64 characters, 128 bytes
    struct Case {
        const char* name;
        std::string profileName;
        std::string expected;
    };
    const std::vector<Case> cases = {
        { "empty", "", "Dot" },
        { "one character", "A", "A" },
        { "64 characters", accented, accented },
        { "65 characters", accented + "e", "Dot" },
        { "128 characters", longest, "Dot" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        controller.reset();
        store = std::make_shared<StoreRecord>();
        startConnected();
        const int saves = store->saves;
        page().state.profileName = c.profileName;
        advance(5);
        EXPECT_EQ(controller->vault().account().bots.front().name, c.expected);
        EXPECT_EQ(store->saves, saves + (c.expected == "Dot" ? 0 : 1)) << "renamed once, then left alone";
    }
}

TEST_F(PageStateTest, NewAvatarAddressStartsSynchronisationAndANewerOneCancelsIt)
{
    const std::string first = "https://dot.example/avatars/1.png";
    const std::string second = "https://files.dotcontent.example/avatars/2.png";
    avatars.responses
        = { { first, AvatarResponse { 200, solidPNG(kRed) } }, { second, AvatarResponse { 200, solidPNG(kBlue) } } };
    avatars.delay = 2;
    startConnected();
    page().state.avatarURL = first;
    advance(0.5);
    EXPECT_EQ(avatars.fetched, std::vector<std::string> { first });
    EXPECT_EQ(controller->avatarSource, first);
    page().state.avatarURL = second;
    advance(0.5);
    EXPECT_EQ(avatars.fetched, (std::vector<std::string> { first, second }));
    const int saves = store->saves;
    advance(5);
    EXPECT_EQ(avatars.completed, std::vector<std::string> { second }) << "the first fetch was cancelled";
    auto image = controller->vault().account().bots.front().image;
    ASSERT_TRUE(image);
    EXPECT_EQ(decodeDataURL(image->str())->centre, kBlue);
    EXPECT_EQ(store->saves, saves + 1) << "only the newer picture was saved";
    EXPECT_EQ(avatars.fetched.size(), 2u) << "an address already handed over is not fetched again";
}

// The service's home page starts a new conversation with the first message and moves to its
// address; an account that first connected at home follows it there.
TEST_F(PageStateTest, HomeConversationIsAdoptedOnlyWithTheRequestsTurn)
{
    struct Case {
        const char* name;
        bool homeIsConversation;  // the page stays at home (the service's other behaviour)
    };
    for (const Case& c :
        { Case { "home starts a new conversation", false }, Case { "home is a conversation", true } }) {
        SCOPED_TRACE(c.name);
        controller.reset();
        store = std::make_shared<StoreRecord>();
        startConnected(connectedVault(kHome));
        if (!c.homeIsConversation)
            page().onSent = [&](const std::string&) { page().state.url = kConversation; };
        const std::string id = send("First message from home");
        advance(1.5);
        ASSERT_TRUE(job(id));
        EXPECT_EQ(job(id)->phase, JobPhase::waiting);
        answer(id, "Hello from the new conversation");
        advance(4);
        EXPECT_FALSE(job(id));
        ASSERT_TRUE(message(id + "-reply"));
        EXPECT_EQ(message(id + "-reply")->text, "Hello from the new conversation");
        EXPECT_EQ(controller->vault().account().dotURL, c.homeIsConversation ? kHome : kConversation);
        EXPECT_TRUE(reloads().empty()) << "the page was never pulled back";
        EXPECT_EQ(controller->connection, ConnectionStatus::connected);
    }
}

TEST_F(PageStateTest, PageOnAnotherConversationWithoutTheTurnIsStillRepaired)
{
    startConnected(connectedVault(kHome));
    page().state.url = kConversation;  // the user opened some other conversation
    advance(3);
    EXPECT_EQ(controller->vault().account().dotURL, kHome);
    ASSERT_EQ(reloads().size(), 1u);
    EXPECT_EQ(page().opened.back(), kHome);
}

// Collects the run loop's log lines.
struct LogCapture {
    std::vector<std::string> lines;
    guint handler = 0;
    LogCapture()
    {
        handler = g_log_set_handler(
            "Quorvane", G_LOG_LEVEL_WARNING,
            [](const gchar*, GLogLevelFlags, const gchar* message, gpointer data) {
                static_cast<LogCapture*>(data)->lines.push_back(message);
            },
            this);
    }
    ~LogCapture() { g_log_remove_handler("Quorvane", handler); }
};

TEST_F(PageStateTest, UnexpectedFailureEndsTheTurnButNotTheLoop)
{
    LogCapture log;
    startConnected();
    const std::string id = send("Hello");
    advance(1);
    ASSERT_EQ(job(id)->phase, JobPhase::waiting);
    ASSERT_TRUE(power.counts->held());
    // A stop request that arrives while the turn runs is finished at its end, whatever ended it.
    controller->stopRequests.insert(id);
    page().fault = "the page object is in a state it should never be in";
    advance(5);
    EXPECT_FALSE(controller->busy);
    EXPECT_FALSE(job(id)) << "the stop request was finished at the end of the turn";
    EXPECT_EQ(statusOf(id), "unconfirmed");
    EXPECT_FALSE(power.counts->held()) << "the power activity was brought up to date";
    EXPECT_TRUE(published.back().account.jobs.empty()) << "the state was published";
    EXPECT_EQ(log.lines,
        std::vector<std::string> {
            "A turn of the run loop failed: the page object is in a state it should never be in" })
        << "ten failed turns, one log line";

    // Another fault is logged once too; the first one is not logged again.
    page().fault = "a second kind of fault";
    advance(2);
    page().fault = "the page object is in a state it should never be in";
    advance(2);
    EXPECT_EQ(log.lines,
        (std::vector<std::string> {
            "A turn of the run loop failed: the page object is in a state it should never be in",
            "A turn of the run loop failed: a second kind of fault" }));

    page().fault.reset();
    const int inspections = page().inspections;
    advance(0.5);
    EXPECT_EQ(page().inspections, inspections + 1) << "the next turn runs 0.5 s later";
    EXPECT_EQ(controller->connection, ConnectionStatus::connected);
}

}  // namespace
}  // namespace quorvane::testing
