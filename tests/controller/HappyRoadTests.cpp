// The road of one message through the run loop and the real engine: queued, placed, submitted
// 0.45 s later, its turn found, its reply shown while it grows and accepted once it has stayed
// the same for 3 s with the page at rest; the manual road through the Dot window; the power
// activity held exactly while a reply is expected; and what an idle page costs.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <boost/json/parse.hpp>
#include <gtest/gtest.h>

#include "RunLoopHarness.hpp"

namespace quorvane::testing {
namespace {

class HappyRoadTest : public RunLoopTest { };

TEST_F(HappyRoadTest, MessageIsSentFollowedAndAcceptedOnce)
{
    startConnected();
    const std::string id = send("Plan the launch");
    EXPECT_EQ(statusOf(id), "queued");

    advance(0.5);  // the next turn places the text and submits it 0.45 s later
    ASSERT_EQ(page().count("prepare"), 1u);
    ASSERT_EQ(page().count("send"), 0u);
    EXPECT_EQ(job(id)->phase, JobPhase::submitting);
    EXPECT_EQ(job(id)->submitted, std::optional<Date>(now()));
    advance(0.45);
    ASSERT_EQ(page().count("send"), 1u);
    EXPECT_NEAR(page().timesOf("send")[0] - page().timesOf("prepare")[0], 0.45, 1e-9);
    EXPECT_EQ(job(id)->phase, JobPhase::waiting);
    EXPECT_EQ(statusOf(id), "waiting");
    EXPECT_EQ(job(id)->userMessageID, std::optional<Text>(page().state.messages.back().id));
    EXPECT_TRUE(power.counts->held()) << "a reply is expected";
    EXPECT_EQ(job(id)->attempts, std::optional<std::int64_t>(1));
    EXPECT_TRUE(page().state.messages.back().text.starts_with("[Quorvane request " + id + "]"));
    EXPECT_TRUE(page().urlsOf("send") == std::vector<std::string> { kConversation });

    // The reply streams in while the page is busy.
    page().state.busy = true;
    const std::string part = answer(id, "Step one");
    advance(0.5);
    ASSERT_TRUE(controller->liveReply);
    EXPECT_EQ(controller->liveReply->id, id + "-reply");
    EXPECT_EQ(controller->liveReply->text, "Step one");
    EXPECT_EQ(controller->liveReply->status, MessageStatus::streaming);
    EXPECT_EQ(published.back().liveReply, controller->liveReply);
    grow(part, "Step one, then step two");
    advance(0.5);
    EXPECT_EQ(controller->liveReply->text, "Step one, then step two");
    EXPECT_EQ(controller->liveReply->html, std::optional<Text>("<p>Step one, then step two</p>"));

    // Stable but busy: still not accepted.
    advance(4);
    EXPECT_TRUE(job(id));
    // At rest, it is accepted once it has been the same for 3 s.
    page().state.busy = false;
    const double waited = advanceUntil([&] { return !job(id); }, 10);
    EXPECT_LT(waited, 0.6) << "accepted at the next turn: the reading was stable for more than 3 s";
    ASSERT_TRUE(message(id + "-reply"));
    EXPECT_EQ(message(id + "-reply")->text, "Step one, then step two");
    EXPECT_EQ(message(id + "-reply")->status, MessageStatus::sent);
    EXPECT_EQ(statusOf(id), "sent");
    EXPECT_FALSE(controller->liveReply);
    EXPECT_FALSE(published.back().liveReply);
    EXPECT_FALSE(power.counts->held());
    EXPECT_EQ(power.counts->holds, 1);
    EXPECT_EQ(power.counts->reason, "Waiting for your Dot reply");

    EXPECT_EQ(phasesOf(id),
        (std::vector<JobPhase> { JobPhase::queued, JobPhase::preparing, JobPhase::submitting, JobPhase::waiting }));
    const int saves = store->saves;
    advance(10);
    EXPECT_EQ(store->saves, saves) << "accepted once; the reply watch finds nothing new";
    std::size_t replies = 0;
    for (const auto& m : controller->vault().account().messages)
        replies += m.id == id + "-reply";
    EXPECT_EQ(replies, 1u);
}

TEST_F(HappyRoadTest, ReplyThatKeepsChangingIsNeverAccepted)
{
    startConnected();
    const std::string id = send("Count slowly");
    advance(1);
    const std::string part = answer(id, "1");
    for (int n = 2; n < 40; ++n) {
        advance(1);
        grow(part, std::to_string(n));
    }
    EXPECT_TRUE(job(id));
    EXPECT_FALSE(message(id + "-reply"));
    advance(3.5);
    EXPECT_FALSE(job(id));
    EXPECT_EQ(message(id + "-reply")->text, "39");
}

TEST_F(HappyRoadTest, ManualRequestIsComposedInTheDotWindow)
{
    startConnected();
    const std::string id = send("", true);
    advance(0.5);
    EXPECT_EQ(job(id)->phase, JobPhase::composing);
    EXPECT_EQ(statusOf(id), "composing");
    EXPECT_TRUE(page().visible);
    EXPECT_EQ(page().count("send"), 0u) << "the user sends it from the Dot window";
    EXPECT_FALSE(power.counts->held());

    // The user sends it there.
    const std::string placed = page().state.draft.str();
    page().state.draft = "";
    page().add("user", placed);
    advance(0.5);
    EXPECT_EQ(job(id)->phase, JobPhase::waiting);
    EXPECT_FALSE(page().visible) << "the window is put away again";
    EXPECT_EQ(page().count("hide"), 1u);
}

TEST_F(HappyRoadTest, RequestAlreadyInTheComposerIsSentWithoutPlacingItAgain)
{
    startConnected();
    const std::string id = send("Hello again");
    controller->stop();
    // Prepared on an earlier turn; the composer still holds the payload.
    controller.reset();
    Vault vault = store->saved.value();
    vault.account().prepareConversationContext(id);
    const std::string payload = vault.account().jobs.front().payload.str();
    transports.prepare = [&](FakePage& page) {
        page.state.url = kConversation;
        page.state.draft = payload + "\n";
    };
    make(vault);
    controller->start();
    advance(1);
    EXPECT_EQ(page().count("prepare"), 0u);
    EXPECT_EQ(page().count("send"), 1u);
    EXPECT_EQ(job(id)->phase, JobPhase::waiting);
}

// The machine is kept awake only while a reply is on its way: the account connected, storage
// healthy and the first request being sent or waiting for its reply. Each case starts with a
// reply expected (held), changes one thing, and where that can be undone, undoes it.
TEST_F(HappyRoadTest, PowerActivityIsHeldExactlyWhileAReplyIsExpected)
{
    struct Case {
        const char* name;
        std::function<void(const std::string& id)> change;
        double after;  // seconds on the clock after the change
        bool held;  // after those
        std::function<void()> undo;  // none: nothing to undo, or nothing expected any more
    };
    const std::vector<Case> cases = {
        { "nothing changes", [](const std::string&) {}, 5, true, nullptr },
        { "no reply 45 s after submission: delayed", [](const std::string&) {}, 46, false, nullptr },
        { "the page asks to sign in again",
            [this](const std::string&) {
                page().state.ready = false;
                page().state.requiresSignIn = true;
            },
            1, false,
            [this] {
                page().state.ready = true;
                page().state.requiresSignIn.reset();
            } },
        { "a dialog in the Dot window",
            [this](const std::string&) {
                page().state.ready = false;
                page().state.blockedByDialog = true;
            },
            1, false,
            [this] {
                page().state.ready = true;
                page().state.blockedByDialog.reset();
            } },
        // A command's save fails between turns; the loop then idles until storage is retried.
        { "storage fails",
            [this](const std::string&) {
                store->failSave = true;
                EXPECT_EQ(failureOf([&] { controller->transaction([](Vault& v) { v.theme = Theme::dark; }); }),
                    "Your conversation couldn\u2019t be saved. Sending is paused; your visible draft is still here.");
            },
            0, false,
            [this] {
                store->failSave = false;
                controller->retryStorage();
            } },
        { "the user stops waiting", [this](const std::string& id) { controller->stopRequests.insert(id); }, 0.5, false,
            nullptr },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        controller.reset();
        store = std::make_shared<StoreRecord>();
        power.counts = std::make_shared<FakePower::Counts>();
        startConnected();
        const std::string id = send("Are you awake?");
        advance(1);
        ASSERT_EQ(job(id)->phase, JobPhase::waiting);
        ASSERT_TRUE(power.counts->held());

        c.change(id);
        advance(c.after);
        EXPECT_EQ(power.counts->held(), c.held);
        EXPECT_EQ(controller->holdsPowerActivity(), c.held);
        EXPECT_EQ(power.counts->holds, 1);
        if (!c.undo)
            continue;
        c.undo();
        advance(1);
        EXPECT_TRUE(power.counts->held()) << "the reply is expected again";
        EXPECT_EQ(power.counts->holds, 2);
        EXPECT_EQ(power.counts->reason, "Waiting for your Dot reply");
    }
}

TEST_F(HappyRoadTest, IdlePageCostsOneSnapshotPerHalfSecondAndNoSaves)
{
    startConnected();
    advance(1);
    const int saves = store->saves;
    const int inspections = page().inspections;
    const std::size_t publications = published.size();
    advance(60);
    EXPECT_EQ(page().inspections - inspections, 120);
    EXPECT_EQ(store->saves, saves);
    EXPECT_EQ(published.size(), publications);
    EXPECT_EQ(controller->connection, ConnectionStatus::connected);
}

TEST_F(HappyRoadTest, PageChangeRunsAnExtraTurnAndASecondStartAddsNoLoop)
{
    startConnected();
    controller->start();
    advance(0.2);
    const int inspections = page().inspections;
    page().signalChange();
    EXPECT_EQ(page().inspections, inspections + 1) << "the change is read at once";
    advance(10);
    EXPECT_EQ(page().inspections, inspections + 1 + 20) << "one turn every 0.5 s";
}

TEST_F(HappyRoadTest, StatusFileIsWrittenInConnectedTurnsOnlyWithDiagnosticsOn)
{
    auto folder = std::filesystem::temp_directory_path() / ("quorvane-diag-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    statusFile = folder / "status.json";
    for (const char* value : { "yes", "1" }) {
        SCOPED_TRACE(value);
        ::setenv("QUORVANE_DIAGNOSTICS", value, 1);
        controller.reset();
        std::filesystem::remove(statusFile);
        startConnected();
        page().state.profileName = "Dot";
        advance(0.5);
        EXPECT_EQ(std::filesystem::exists(statusFile), std::string(value) == "1");
    }
    std::ifstream in(statusFile);
    std::string text((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(boost::json::parse(text).at("phase"), "none");
    EXPECT_EQ(boost::json::parse(text).at("profileName"), "Dot");
    ::unsetenv("QUORVANE_DIAGNOSTICS");
    controller.reset();
    std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace quorvane::testing
