// DotBrowser and the page adapter against the Dot simulator: snapshots, page actions, the
// change signal, navigation errors and the "Your Dot" window.

#include <algorithm>
#include <string>
#include <vector>

#include <boost/json.hpp>

#include "BrowserHarness.hpp"
#include "quorvane/AppFailure.hpp"
#include "quorvane/DotService.hpp"
#include "quorvane/Json.hpp"
#include "quorvane/TextRules.hpp"
#include "quorvane/browser/AdapterResult.hpp"

namespace quorvane::testing {
namespace {

std::string lastPathComponent(std::string_view url)
{
    auto slash = url.rfind('/');
    return std::string(url.substr(slash + 1));
}

const DotMessage* lastWithRole(const DotSnapshot& snapshot, std::string_view role)
{
    for (auto it = snapshot.messages.rbegin(); it != snapshot.messages.rend(); ++it) {
        if (it->role == role)
            return &*it;
    }
    return nullptr;
}

class DotBrowserTest : public BrowserTest {
protected:
    // Sends `payload` through prepare and send, and waits for the page to settle after the answer.
    DotSnapshot sendAndSettle(DotBrowser& browser, const std::string& payload, const std::string& url)
    {
        awaitVoid(browser.prepare(payload, url));
        EXPECT_EQ(await(browser.inspect()).draft, payload) << "the composer holds exactly the payload";
        awaitVoid(browser.send(payload, url));
        return inspectUntil(browser, [&](const DotSnapshot& s) {
            auto* user = lastWithRole(s, "user");
            return s.ready && !s.busy && s.draft.empty() && user && user->text == trimmed(payload)
                && lastWithRole(s, "assistant");
        });
    }

    // A conversation with one exchange; returns its address.
    std::string startConversation(DotBrowser& browser)
    {
        openAndInspect(browser, simulator->origin + "/dots/home");
        return sendAndSettle(browser, "Hello Dot", "").url.str();
    }
};

TEST_F(DotBrowserTest, PreparedAndSentPayloadsReachThePageExactly)
{
    startSimulator();
    auto browser = makeBrowser(newUUID());
    auto home = openAndInspect(*browser, simulator->origin + "/dots/home");
    EXPECT_EQ(home.url, simulator->origin + "/dots/home");
    EXPECT_TRUE(home.messages.empty());
    EXPECT_EQ(home.profileName, std::optional<Text>("Dot"));
    ASSERT_TRUE(home.avatarURL);
    EXPECT_EQ(home.avatarURL->view().rfind(simulator->origin + "/content/avatars/", 0), 0u) << home.avatarURL->view();
    EXPECT_FALSE(home.requiresSignIn.value_or(false));
    EXPECT_FALSE(home.blockedByDialog.value_or(false));
    EXPECT_EQ(home.reason, "");

    const std::string payloads[] = {
        "Hello Dot",
        "First line\nsecond line\n\nafter a blank line\n    indented line",
        "Markup stays text: <b>bold</b> & \"double\" 'single' </div> <script>alert(1)</script> &amp;",
        "Unicode: Grüße, привет, 漢字, עברית — emoji 😀👩‍👩‍👧‍👦🇳🇴\ttab",
    };
    std::string url;  // the first message goes out from the home page
    for (const auto& payload : payloads) {
        SCOPED_TRACE(payload);
        auto after = sendAndSettle(*browser, payload, url);
        url = after.url.str();
        auto conversation = simulator->controlGet("conversations/" + lastPathComponent(url));
        const auto& messages = conversation.at("messages").as_array();
        auto user
            = std::find_if(messages.rbegin(), messages.rend(), [](const auto& m) { return m.at("role") == "user"; });
        ASSERT_NE(user, messages.rend());
        EXPECT_EQ(boost::json::value_to<std::string>(user->at("typed")), payload) << "what the page submitted";
        EXPECT_EQ(lastWithRole(after, "user")->id, boost::json::value_to<std::string>(user->at("id")));
    }
}

TEST_F(DotBrowserTest, SnapshotListsThePageMessagesWithHtmlAndAttachments)
{
    startSimulator();
    auto browser = makeBrowser(newUUID());
    auto url = startConversation(*browser);
    auto id = lastPathComponent(url);
    simulator->control("inject",
        boost::json::serialize(boost::json::value { { "conversation", id }, { "role", "assistant" },
            { "text", "Here is **bold** text.\n\nA second paragraph." },
            { "attachments",
                boost::json::array { { { "kind", "image" }, { "title", "chart.png" } },
                    { { "kind", "file" }, { "title", "notes & plans.txt" } } } } }));
    auto snapshot = inspectUntil(*browser, [](const DotSnapshot& s) { return s.messages.size() == 3; });

    auto state = simulator->controlGet("conversations/" + id);
    const auto& expected = state.at("messages").as_array();
    ASSERT_EQ(expected.size(), snapshot.messages.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(snapshot.messages[i].id, boost::json::value_to<std::string>(expected[i].at("id")));
        EXPECT_EQ(snapshot.messages[i].role, boost::json::value_to<std::string>(expected[i].at("role")));
    }
    const auto& injected = snapshot.messages.back();
    EXPECT_EQ(injected.text, "Here is bold text.\n\nA second paragraph.");
    ASSERT_TRUE(injected.html);
    EXPECT_NE(injected.html->view().find("<strong>bold</strong>"), std::string_view::npos) << injected.html->view();
    ASSERT_TRUE(injected.attachments);
    auto wanted = boost::json::value_to<std::vector<MessageAttachment>>(expected.back().at("attachments"));
    EXPECT_EQ(*injected.attachments, wanted);
    EXPECT_EQ(snapshot.messages[0].text, "Hello Dot");
    EXPECT_EQ(snapshot.url, url);
}

TEST_F(DotBrowserTest, PageActionsRefuseWithTheReasonTheUserSees)
{
    startSimulator();
    auto browser = makeBrowser(newUUID());
    auto url = startConversation(*browser);
    const std::string payload = "A request\nover two lines";

    struct Case {
        const char* name;
        std::function<void()> arrange;
        std::function<Task<void>()> act;
        std::string reason;
    };
    const Case cases[] = {
        { "send with an empty composer", [] {}, [&] { return browser->send(payload, url); },
            "Your message wasn’t in the Dot composer any more. We’ll place it again." },
        { "prepare over someone else's draft", [&] { awaitVoid(browser->prepare("my own words", url)); },
            [&] { return browser->prepare(payload, url); },
            "You have an unfinished message in your Dot window. Finish it there, then we’ll continue here." },
        { "clearDraft of another text", [&] { awaitVoid(browser->prepare("my own words", url)); },
            [&] { return browser->clearDraft(payload, url); },
            "Your Dot window holds a different unfinished message, so it was left as it is." },
        { "prepare on another conversation", [] {},
            [&] { return browser->prepare(payload, simulator->origin + "/dots/" + newUUID()); },
            "Dot is showing a different conversation. We’ll go back to yours and try again." },
        { "send refused by the page",
            [&] {
                simulator->control("refuse-send");
                awaitVoid(browser->prepare(payload, url));
            },
            [&] { return browser->send(payload, url); },
            "Something went wrong while sending your message. Please try again." },
        { "prepare behind a dialog",
            [&] {
                simulator->control("dialog");
                inspectUntil(*browser, [](const DotSnapshot& s) { return s.blockedByDialog.value_or(false); });
            },
            [&] { return browser->prepare(payload, url); }, "Finish the open step in your Dot window to continue." },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        c.arrange();
        try {
            awaitVoid(c.act());
            ADD_FAILURE() << "the page action succeeded";
        } catch (const NotSubmitted& refused) {
            EXPECT_EQ(refused.message, c.reason);
        }
        // Leave the page as the next case expects it: no dialog, an empty composer.
        simulator->control("dialog", R"({"open": false})");
        auto draft = inspectUntil(*browser, [](const DotSnapshot& s) { return !s.blockedByDialog; }).draft;
        if (!draft.empty())
            awaitVoid(browser->clearDraft(draft.str(), url));
    }
    auto snapshot = await(browser->inspect());
    EXPECT_TRUE(snapshot.ready);
    EXPECT_EQ(snapshot.draft, "");
    EXPECT_EQ(std::count_if(snapshot.messages.begin(), snapshot.messages.end(),
                  [](const DotMessage& m) { return m.role == "user"; }),
        1)
        << "nothing refused reached the conversation";
}

TEST_F(DotBrowserTest, ClearDraftEmptiesTheComposerAndIsHarmlessWhenEmpty)
{
    startSimulator();
    auto browser = makeBrowser(newUUID());
    openAndInspect(*browser, simulator->origin + "/dots/home");
    const std::string draft = "Draft to remove\n\nwith <markup> & 😀";
    awaitVoid(browser->prepare(draft, ""));
    EXPECT_EQ(await(browser->inspect()).draft, draft);
    awaitVoid(browser->clearDraft(draft, ""));
    EXPECT_EQ(await(browser->inspect()).draft, "");
    awaitVoid(browser->clearDraft(draft, ""));
    // The page's own model emptied too: its send control is disabled again.
    EXPECT_EQ(
        evalInPage(browser->webView(), "document.querySelector('[data-testid=\"send-button\"]').disabled"), "true");
}

TEST_F(DotBrowserTest, RevealScrollsTheMessageIntoView)
{
    startSimulator();
    auto browser = makeBrowser(newUUID());
    auto url = startConversation(*browser);
    auto id = lastPathComponent(url);
    for (int i = 0; i < 12; ++i) {
        simulator->control("inject",
            boost::json::serialize(boost::json::value { { "conversation", id }, { "role", "assistant" },
                { "text", "Filler paragraph " + std::to_string(i) + "\n\n" + std::string(600, 'x') } }));
    }
    auto snapshot = inspectUntil(*browser, [](const DotSnapshot& s) { return s.messages.size() == 14; });
    browser->show();
    ASSERT_TRUE(runUntil([&] { return browser->windowVisible(); }));
    const std::string first = snapshot.messages.front().id.str();
    const std::string inView = "(() => { const r = document.querySelector('[data-message-id=\"" + first
        + "\"]').getBoundingClientRect(); return r.height > 0 && r.top >= 0 && r.bottom <= innerHeight; })()";
    ASSERT_TRUE(runUntil([&] {
        evalInPage(browser->webView(), "document.querySelector('[role=log]').parentElement.scrollTop = 1e9");
        return evalInPage(browser->webView(), inView) == "false";
    }));
    awaitVoid(browser->reveal(first, url));
    EXPECT_EQ(evalInPage(browser->webView(), inView), "true");

    try {
        awaitVoid(browser->reveal("no-such-message", url));
        ADD_FAILURE() << "revealed a message that is not there";
    } catch (const NotSubmitted& refused) {
        EXPECT_EQ(refused.message, "That message isn’t on the Dot page any more.");
    }
}

TEST_F(DotBrowserTest, ChangeSignalReachesOnChangeUntilShutdown)
{
    startSimulator();
    auto browser = makeBrowser(newUUID());
    auto url = startConversation(*browser);
    int changes = 0;
    browser->setOnChange([&] { ++changes; });
    auto inject = [&](const char* text) {
        simulator->control("inject",
            boost::json::serialize(boost::json::value {
                { "conversation", lastPathComponent(url) }, { "role", "assistant" }, { "text", text } }));
    };
    inject("A page change");
    ASSERT_TRUE(runUntil([&] { return changes > 0; }));

    // Typing into the composer is a change as well.
    changes = 0;
    awaitVoid(browser->prepare("typed", url));
    ASSERT_TRUE(runUntil([&] { return changes > 0; }));

    // A streaming answer changes the page with every piece; the signal comes coalesced.
    awaitVoid(browser->clearDraft("typed", url));
    simulator->control("next-answer", R"({"durationMs": 600, "firstDelayMs": 0})");
    awaitVoid(browser->prepare("Stream something", url));
    runFor(0.5);
    changes = 0;
    awaitVoid(browser->send("Stream something", url));
    inspectUntil(*browser, [](const DotSnapshot& s) { return s.ready && s.messages.size() == 5; });
    runFor(0.5);
    EXPECT_GT(changes, 0);
    EXPECT_LT(changes, 10) << "about a dozen page updates in 0.6 s";

    browser->shutdown();
    changes = 0;
    inject("A change nobody hears about");
    runFor(1.5);
    EXPECT_EQ(changes, 0);
}

TEST_F(DotBrowserTest, MessagesFromSubFramesAreIgnored)
{
    startSimulator();
    auto browser = makeBrowser(newUUID());
    int changes = 0;
    browser->setOnChange([&] { ++changes; });
    // Count what reaches the handler at all, so the test shows the frames did post.
    int delivered = 0;
    auto* manager = webkit_web_view_get_user_content_manager(browser->webView());
    g_signal_connect(manager, "script-message-received::dotChanged",
        G_CALLBACK(+[](WebKitUserContentManager*, JSCValue*, gpointer count) { ++*static_cast<int*>(count); }),
        &delivered);
    // In our world, in every frame: the sub-frame posts twice at once (saying what it is, and
    // saying nothing); the top frame posts once, a little later.
    const char* probe = R"JS(
        const post = (body) => window.webkit.messageHandlers.dotChanged.postMessage(body);
        if (window !== window.top) { post({ mainFrame: window === window.top }); post({}); }
        else setTimeout(() => post({ mainFrame: window === window.top }), 300);
    )JS";
    auto* script = webkit_user_script_new_for_world(probe, WEBKIT_USER_CONTENT_INJECT_ALL_FRAMES,
        WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_END, DotBrowser::kWorld, nullptr, nullptr);
    webkit_user_content_manager_add_script(manager, script);
    webkit_user_script_unref(script);
    webkit_web_view_load_html(browser->webView(), "<!DOCTYPE html><p>Top</p><iframe srcdoc='<p>Inner</p>'></iframe>",
        (simulator->origin + "/").c_str());
    ASSERT_TRUE(runUntil([&] { return delivered == 3; })) << "delivered " << delivered;
    runFor(0.3);
    EXPECT_EQ(changes, 1);
    g_signal_handlers_disconnect_by_data(manager, &delivered);
}

TEST_F(DotBrowserTest, OpenLoadsValidAddressesAndHomeForAnythingElse)
{
    startSimulator();
    auto browser = makeBrowser(newUUID());
    const std::string home = simulator->origin + "/dots/home";
    const std::string conversation = simulator->origin + "/dots/" + newUUID();
    const struct {
        std::string given;
        std::string loaded;
    } cases[] = {
        { "", home },
        { "not a url", home },
        { "https://elsewhere.example/dots/home", home },
        { simulator->origin + "/dots/not-a-uuid", home },
        { conversation + "?x=1", home },
        { conversation, conversation },
        { home, home },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.given);
        auto snapshot = openAndInspect(*browser, c.given, [&](const DotSnapshot& s) { return s.url == c.loaded; });
        EXPECT_EQ(browser->error(), "");
    }
}

TEST_F(DotBrowserTest, UnreachablePageSetsTheConnectionError)
{
    startSimulator();
    auto browser = makeBrowser(newUUID());
    simulator->stop();
    browser->open(simulator->origin + "/dots/home");
    ASSERT_TRUE(runUntil([&] { return !browser->error().empty(); }));
    EXPECT_EQ(browser->error(), "Couldn’t reach Dot. Check your connection and try again.");
    EXPECT_FALSE(browser->loading());
}

// The load events of a web view as they arrive, so a test waits on an event, not on a time.
struct LoadEvents {
    std::vector<WebKitLoadEvent> changes;
    std::vector<int> failures;  // error codes
    static void changed(WebKitWebView*, WebKitLoadEvent event, gpointer data)
    {
        static_cast<LoadEvents*>(data)->changes.push_back(event);
    }
    static gboolean failed(WebKitWebView*, WebKitLoadEvent, const char*, GError* error, gpointer data)
    {
        static_cast<LoadEvents*>(data)->failures.push_back(error->code);
        return FALSE;
    }
    bool saw(WebKitLoadEvent event) const { return std::ranges::find(changes, event) != changes.end(); }
};

TEST_F(DotBrowserTest, ALoadThatNeverFinishesTimesOutAsUnreachable)
{
    startSimulator();
    ManualScheduler clock;
    DotBrowser browser(newUUID(), QUORVANE_TEST_DATA_DIR, nullptr, clock);
    LoadEvents events;
    g_signal_connect(browser.webView(), "load-changed", G_CALLBACK(&LoadEvents::changed), &events);
    g_signal_connect(browser.webView(), "load-failed", G_CALLBACK(&LoadEvents::failed), &events);
    // Every document stalls, also one that the network side might ask for again.
    simulator->control("stall-load", R"({"count": 100})");
    browser.open(simulator->origin + "/dots/home");
    // The load has started and will never end. On a loaded machine that can take a while; the
    // test waits for the event (its own time-out is CTest's), never for a time.
    ASSERT_TRUE(runUntil([&] { return events.saw(WEBKIT_LOAD_STARTED) || !events.failures.empty(); }, 100));
    ASSERT_TRUE(events.failures.empty()) << "the stalled load failed on its own: " << events.failures.front();
    EXPECT_TRUE(browser.loading());

    // Time passes only on the browser's clock: nothing else can end the load meanwhile.
    clock.advance(DotBrowser::kLoadTimeoutSeconds - 1);
    EXPECT_TRUE(browser.loading()) << "the time-out is not up yet";
    EXPECT_EQ(browser.error(), "");
    clock.advance(1);
    EXPECT_EQ(browser.error(), "Couldn’t reach Dot. Check your connection and try again.");
    EXPECT_FALSE(browser.loading());

    // The stopped load then fails as cancelled, which does not take the error back.
    ASSERT_TRUE(runUntil([&] { return !events.failures.empty(); }, 100));
    EXPECT_EQ(events.failures, std::vector<int> { WEBKIT_NETWORK_ERROR_CANCELLED });
    EXPECT_EQ(browser.error(), "Couldn’t reach Dot. Check your connection and try again.");
    EXPECT_FALSE(browser.loading());
    g_signal_handlers_disconnect_by_data(browser.webView(), &events);
}

TEST_F(DotBrowserTest, CancelledNavigationsLeaveTheErrorEmpty)
{
    startSimulator();
    auto browser = makeBrowser(newUUID());
    LoadEvents events;
    g_signal_connect(browser->webView(), "load-changed", G_CALLBACK(&LoadEvents::changed), &events);
    g_signal_connect(browser->webView(), "load-failed", G_CALLBACK(&LoadEvents::failed), &events);
    const std::string home = simulator->origin + "/dots/home";

    // A load replaced by another before it got anywhere.
    browser->open(simulator->origin + "/dots/" + newUUID());
    browser->open(home);
    inspectUntil(*browser, [&](const DotSnapshot& s) { return s.ready && s.url == home; });
    EXPECT_EQ(browser->error(), "");

    // A load that hangs, stopped.
    simulator->control("stall-load");
    events = {};
    browser->open(home);
    ASSERT_TRUE(runUntil([&] { return events.saw(WEBKIT_LOAD_STARTED); }, 100));
    webkit_web_view_stop_loading(browser->webView());
    ASSERT_TRUE(runUntil([&] { return std::ranges::count(events.failures, WEBKIT_NETWORK_ERROR_CANCELLED) > 0; }, 100));
    EXPECT_FALSE(browser->loading());
    EXPECT_EQ(browser->error(), "");
    g_signal_handlers_disconnect_by_data(browser->webView(), &events);
}

TEST_F(DotBrowserTest, EndedWebProcessSetsTheStoppedErrorUntilReopened)
{
    startSimulator();
    auto browser = makeBrowser(newUUID());
    const std::string home = simulator->origin + "/dots/home";
    openAndInspect(*browser, home);
    webkit_web_view_terminate_web_process(browser->webView());
    ASSERT_TRUE(runUntil([&] { return !browser->error().empty(); }));
    EXPECT_EQ(browser->error(), "The Dot window stopped. Reconnect to continue.");
    EXPECT_FALSE(browser->loading());

    browser->open(home);
    EXPECT_EQ(browser->error(), "");
    EXPECT_TRUE(openAndInspect(*browser, home).ready);
}

TEST_F(DotBrowserTest, ClosingYourDotOnlyHidesIt)
{
    startSimulator();
    auto browser = makeBrowser(newUUID());
    auto before = openAndInspect(*browser, simulator->origin + "/dots/home");
    GtkWindow* window = browser->window();
    EXPECT_STREQ(gtk_window_get_title(window), "Your Dot");
    EXPECT_FALSE(browser->windowVisible()) << "the window starts hidden";
    browser->show();
    ASSERT_TRUE(runUntil([&] { return browser->windowVisible(); }));

    gtk_window_close(window);  // what the user's close button does
    runFor(0.2);
    EXPECT_FALSE(browser->windowVisible());
    EXPECT_EQ(browser->window(), window);
    EXPECT_FALSE(browser->loading());
    EXPECT_EQ(browser->error(), "");
    EXPECT_EQ(await(browser->inspect()), before) << "the page kept running untouched";

    browser->show();
    EXPECT_TRUE(runUntil([&] { return browser->windowVisible(); }));
}

TEST_F(DotBrowserTest, MissingAdapterFailsEveryCall)
{
    startSimulator();
    DotBrowser browser(newUUID(), folder / "no-such-folder");
    browser.open(simulator->origin + "/dots/home");
    ASSERT_TRUE(runUntil([&] { return !browser.loading(); }));
    EXPECT_EQ(failureOf([](DotBrowser& b) -> Task<void> { co_await b.inspect(); }(browser)),
        "The Dot connection component is missing. Rebuild Quorvane.");
    EXPECT_EQ(failureOf(browser.prepare("x", "")), "The Dot connection component is missing. Rebuild Quorvane.");
}

TEST_F(DotBrowserTest, ShutdownEndsAPendingAdapterCall)
{
    startSimulator();
    auto browser = makeBrowser(newUUID());
    auto url = startConversation(*browser);
    std::string outcome;
    bool done = false;
    TaskScope scope;
    awaitVoid(browser->prepare("Pending", url));
    scope.spawn([](DotBrowser& b, std::string url, std::string& outcome, bool& done) -> Task<void> {
        try {
            co_await b.send("Pending", url);
            outcome = "sent";
        } catch (const GLibError& error) {
            outcome = error.matches(G_IO_ERROR, G_IO_ERROR_CANCELLED) ? "cancelled" : error.what();
        } catch (const std::exception& error) {
            outcome = error.what();
        }
        done = true;
    }(*browser, url, outcome, done));
    browser->shutdown();
    ASSERT_TRUE(runUntil([&] { return done; }));
    EXPECT_EQ(outcome, "cancelled");
}

}  // namespace
}  // namespace quorvane::testing
