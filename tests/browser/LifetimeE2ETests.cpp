// How long page calls may take, what ends them, and who may reach the browser: deadlines on a
// page that stops answering, a transport replaced while a call is pending, a sign-in window
// that was never shown, and page scripts that try to post the change signal.

#include <memory>
#include <string>

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

// What a controller does with its transport: it owns it, starts page calls in the background
// and replaces it (another account) whenever it must, pending calls or not.
struct ControllerShaped {
    std::unique_ptr<DotTransport> transport;
    TaskScope tasks;
    bool replacing = false;
    bool resumedWhileReplacing = false;
    bool done = false;
    std::string outcome;

    void replace(std::unique_ptr<DotTransport> next, bool shutDownFirst)
    {
        replacing = true;
        if (shutDownFirst)
            transport->shutdown();
        transport = std::move(next);  // the old one's destructor runs here
        replacing = false;
    }
};

Task<void> sendFrom(ControllerShaped& controller, std::string text, std::string url)
{
    try {
        co_await controller.transport->send(std::move(text), std::move(url));
        controller.outcome = "sent";
    } catch (const GLibError& error) {
        controller.outcome = error.matches(G_IO_ERROR, G_IO_ERROR_CANCELLED) ? "cancelled" : error.what();
    } catch (const std::exception& error) {
        controller.outcome = error.what();
    }
    // Code after an await of a page call: it must never run inside replace().
    if (controller.replacing)
        controller.resumedWhileReplacing = true;
    controller.done = true;
}

TEST_F(LifetimeTest, ReplacingTheTransportWhileACallIsPendingResumesTheCallerLater)
{
    for (bool shutDownFirst : { true, false }) {
        SCOPED_TRACE(shutDownFirst ? "shutdown(), then replaced" : "replaced: its destructor shuts it down");
        simulator->control("reset");
        auto browser = makeBrowser();
        auto url = startConversation(*browser);
        simulator->control("stall-send");
        awaitVoid(browser->prepare("Pending", url));
        auto oldView = GObjectPtr<WebKitWebView>::retain(browser->webView());

        ControllerShaped controller;
        controller.transport = std::move(browser);
        controller.tasks.spawn(sendFrom(controller, "Pending", url));
        runFor(0.5);
        ASSERT_FALSE(controller.done);
        ASSERT_EQ(simulator->controlGet("state").at("pages").as_int64(), 1);

        controller.replace(makeBrowser(), shutDownFirst);
        EXPECT_FALSE(controller.done) << "the caller resumes from the main loop, not inside replace()";
        ASSERT_TRUE(runUntil([&] { return controller.done; }, 5));
        EXPECT_FALSE(controller.resumedWhileReplacing);
        EXPECT_EQ(controller.outcome, "cancelled");

        // The old account's page stopped, though its web view is still held.
        ASSERT_TRUE(runUntil([&] { return std::string(webkit_web_view_get_uri(oldView.get())) == "about:blank"; }, 5));
        EXPECT_TRUE(runUntil([&] { return simulator->controlGet("state").at("pages").as_int64() == 0; }, 5))
            << "its event stream is closed";
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
