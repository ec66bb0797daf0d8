// How long page calls may take, what ends them, and who may reach the browser: deadlines on a
// page that stops answering, a transport replaced while a call is pending, a sign-in window
// that was never shown, and page scripts that try to post the change signal.

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include <boost/json.hpp>

#include "BrowserHarness.hpp"

namespace quorvane::testing {
namespace {

using LifetimeTest = SharedSimulatorTest;

const std::string kUnknown = "AppFailure: We’re checking whether your message was sent.";

Task<void> inspectOnly(DotBrowser& browser) { co_await browser.inspect(); }

TEST_F(LifetimeTest, CallsEndAtTheirDeadlinesAndAStuckPageIsEnded)
{
    ManualScheduler clock;
    auto browser = makeBrowser(clock);
    auto url = startConversation(*browser);
    const auto& deadlines = DotBrowser::kDeadlines;

    // A page that is alive but whose service never answers the send.
    simulator->control("stall-send");
    awaitVoid(browser->prepare("Are you there?", url));
    PendingCall send(browser->send("Are you there?", url));
    runFor(1);
    ASSERT_FALSE(send.done());
    clock.advance(deadlines.send);
    ASSERT_TRUE(runUntil([&] { return send.done(); }, 2));
    EXPECT_EQ(send.outcome(), kUnknown) << "an unknown outcome, never a refusal";
    // The probe that follows a missed deadline went to the page before this script, so it has
    // been answered once this one is.
    evalInPage(browser->webView(), "'answered'");
    clock.advance(deadlines.probe);
    runFor(0.5);
    EXPECT_EQ(browser->error(), "") << "a page that still answers is not ended";

    // A page whose main thread stops for good.
    simulator->control("reload");
    inspectUntil(*browser, [](const DotSnapshot& s) { return s.ready; });
    simulator->control("hang", R"({"ms": 120000})");
    runFor(0.5);
    // A hung page sends no change signal: the snapshot held is answered until it is this old.
    clock.advance(DotBrowser::kUnchangedPageReread);
    PendingCall inspect(inspectOnly(*browser));
    PendingCall prepare(browser->prepare("Still there?", url));
    runFor(0.5);
    ASSERT_FALSE(inspect.done());
    clock.advance(deadlines.inspect);
    ASSERT_TRUE(runUntil([&] { return inspect.done(); }, 2));
    EXPECT_EQ(inspect.outcome(), "AppFailure: The Dot page didn’t answer in time.");
    EXPECT_FALSE(prepare.done());
    clock.advance(deadlines.prepare - deadlines.inspect);
    ASSERT_TRUE(runUntil([&] { return prepare.done(); }, 2));
    EXPECT_EQ(prepare.outcome(), kUnknown);
    runFor(0.5);
    EXPECT_EQ(browser->error(), "") << "a slow page is given the probe's time";
    clock.advance(deadlines.inspect + deadlines.probe - deadlines.prepare);  // the probe's deadline
    ASSERT_TRUE(runUntil([&] { return !browser->error().empty(); }, 10));
    EXPECT_EQ(browser->error(), "The Dot window stopped. Reconnect to continue.");
    EXPECT_EQ(outcomeOf(browser->clearDraft("Still there?", url)), "AppFailure: " + browser->error())
        << "a page without its process says so";

    // Reconnecting brings the page back.
    EXPECT_TRUE(openAndInspect(*browser, url).ready);
}

// What the controller's run loop does with its transport: turn after turn it reads the page and,
// when a request waits, places and sends it, with a pause between turns. The transport is a
// member, replaced (another account) whenever the controller must, pending calls or not; code
// after every await reads that member again.
struct RunLoopShaped {
    std::unique_ptr<DotTransport> transport;
    std::string url;
    std::optional<std::string> queued;  // a request waiting to be sent
    bool sending = false;  // a send is on its way
    std::string sendOutcome;
    std::map<const DotTransport*, int> snapshots;  // read through each transport
    bool replacing = false;
    bool resumedWhileReplacing = false;
    TaskScope tasks;

    void resumed()
    {
        if (replacing)
            resumedWhileReplacing = true;
    }

    Task<void> turn()
    {
        co_await transport->inspect();
        resumed();
        ++snapshots[transport.get()];
        if (!queued)
            co_return;
        std::string text = *std::exchange(queued, std::nullopt);
        co_await transport->prepare(text, url);
        resumed();
        sending = true;
        try {
            co_await transport->send(text, url);
            sendOutcome = "sent";
        } catch (const GLibError& error) {
            sendOutcome = error.matches(G_IO_ERROR, G_IO_ERROR_CANCELLED) ? "cancelled" : error.what();
        }
        resumed();
        sending = false;
    }

    Task<void> run()
    {
        for (;;) {
            try {
                co_await turn();
            } catch (const TaskCancelled&) {
                throw;
            } catch (const std::exception&) {
                resumed();  // a page still loading, say: the next turn tries again
            }
            co_await sleepFor(GLibScheduler::shared(), 0.1);
        }
    }

    void replace(std::unique_ptr<DotTransport> next, bool shutDownFirst)
    {
        replacing = true;
        if (shutDownFirst)
            transport->shutdown();
        transport = std::move(next);  // the old one's destructor runs here
        replacing = false;
    }
};

TEST_F(LifetimeTest, ReplacingTheTransportUnderARunLoopResumesItLaterOnTheNewOne)
{
    for (bool shutDownFirst : { true, false }) {
        SCOPED_TRACE(shutDownFirst ? "shutdown(), then replaced" : "replaced: its destructor shuts it down");
        simulator->control("reset");
        auto browser = makeBrowser();
        auto url = startConversation(*browser);
        auto oldView = GObjectPtr<WebKitWebView>::retain(browser->webView());
        const DotTransport* old = browser.get();
        simulator->control("stall-send");

        RunLoopShaped loop;
        loop.transport = std::move(browser);
        loop.url = url;
        loop.tasks.spawn(loop.run());
        ASSERT_TRUE(runUntil([&] { return loop.snapshots[old] >= 2; }));
        loop.queued = "Pending";
        ASSERT_TRUE(runUntil([&] { return loop.sending; }));
        runFor(0.5);  // the send is in the page, waiting for a service that never answers
        ASSERT_EQ(loop.sendOutcome, "");
        ASSERT_EQ(simulator->controlGet("state").at("pages").as_int64(), 1);

        auto next = makeBrowser();
        const DotTransport* replacement = next.get();
        next->open(url);
        loop.replace(std::move(next), shutDownFirst);
        EXPECT_EQ(loop.sendOutcome, "") << "the loop resumes from the main loop, not inside replace()";
        ASSERT_TRUE(runUntil([&] { return !loop.sendOutcome.empty(); }, 5));
        EXPECT_EQ(loop.sendOutcome, "cancelled");
        EXPECT_TRUE(runUntil([&] { return loop.snapshots[replacement] >= 2; })) << "the loop goes on with the new page";
        EXPECT_FALSE(loop.resumedWhileReplacing);

        // The old account's page stopped, though its web view is still held.
        EXPECT_TRUE(runUntil([&] { return std::string(webkit_web_view_get_uri(oldView.get())) == "about:blank"; }, 5));
        EXPECT_TRUE(runUntil([&] { return simulator->controlGet("state").at("pages").as_int64() == 1; }, 5))
            << "its event stream is closed; the new page's is open";
        loop.tasks.cancelAll();
    }
}

struct ShowHook {
    DotBrowser* browser = nullptr;
    bool fired = false;
    bool popupFinalized = false;

    // Runs before any handler of "ready-to-show": the browser shuts down just before WebKit
    // would have shown the window, so the window is never shown.
    static gboolean beforeShow(GSignalInvocationHint*, guint, const GValue* values, gpointer data)
    {
        auto* hook = static_cast<ShowHook*>(data);
        g_object_weak_ref(
            G_OBJECT(g_value_get_object(&values[0])),
            [](gpointer data, GObject*) { static_cast<ShowHook*>(data)->popupFinalized = true; }, hook);
        hook->browser->shutdown();
        hook->fired = true;
        return FALSE;  // once
    }
};

TEST_F(LifetimeTest, ASignInWindowNeverShownEndsWithShutdown)
{
    simulator->control("sign-out");
    auto browser = makeBrowser();
    openAndInspect(*browser, simulator->origin + "/dots/home",
        [](const DotSnapshot& s) { return s.requiresSignIn.value_or(false); });
    ShowHook hook { browser.get() };
    g_signal_add_emission_hook(
        g_signal_lookup("ready-to-show", WEBKIT_TYPE_WEB_VIEW), 0, &ShowHook::beforeShow, &hook, nullptr);
    evalInPage(browser->webView(), "document.querySelector('[data-testid=\"login-button\"]').click(); 'clicked'");
    ASSERT_TRUE(runUntil([&] { return hook.fired; }));
    EXPECT_EQ(browser->popupCount(), 0u);
    EXPECT_TRUE(runUntil([&] { return hook.popupFinalized; }, 5)) << "the sign-in window's page is gone";
    simulator->control("sign-in");
}

TEST_F(LifetimeTest, PageScriptsCannotPostTheChangeSignal)
{
    pageVariant({ { "forgeChangeSignal", true } });
    auto browser = makeBrowser();
    auto url = startConversation(*browser);
    int delivered = 0;
    auto* manager = webkit_web_view_get_user_content_manager(browser->webView());
    g_signal_connect(manager, "script-message-received::dotChanged",
        G_CALLBACK(+[](WebKitUserContentManager*, JSCValue*, gpointer count) { ++*static_cast<int*>(count); }),
        &delivered);
    const std::string forged = "document.documentElement.getAttribute('data-forged')";
    const std::string allTried
        = R"({"dotChanged":"missing","quorvane":"missing","dot":"missing","changed":"missing","dotchanged":"missing"})";
    ASSERT_TRUE(runUntil([&] { return evalInPage(browser->webView(), forged) == allTried; }, 10))
        << evalInPage(browser->webView(), forged);
    // Once the page is quiet (the answer to the first message may still be tidying up),
    // fifteen rounds of guessing.
    for (int round = 0; round < 10; ++round) {
        delivered = 0;
        runFor(1);
        if (delivered == 0)
            break;
    }
    int changes = 0;
    browser->setOnChange([&] { ++changes; });
    delivered = 0;
    runFor(1.5);
    EXPECT_EQ(delivered, 0);
    EXPECT_EQ(changes, 0);

    // The signal itself still works.
    simulator->control("inject",
        boost::json::serialize(
            boost::json::value { { "conversation", url.substr(url.rfind('/') + 1) }, { "text", "A real change" } }));
    EXPECT_TRUE(runUntil([&] { return changes > 0; }));
    g_signal_handlers_disconnect_by_data(manager, &delivered);
}

}  // namespace
}  // namespace quorvane::testing
