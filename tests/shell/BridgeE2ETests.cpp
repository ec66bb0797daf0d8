// The bridge between the interface page and the application: only the top frame of the bundle's
// index.html reaches the Controller, and it gets exactly one reply per command.

#include "ShellHarness.hpp"

namespace quorvane::testing {
namespace {

// Frames may load here, and inline scripts run: the relay alone has to keep them out.
constexpr const char* kPermissivePolicy = "default-src 'self' 'unsafe-inline' data: about: file:; "
                                          "frame-src 'self' data: about: file:";

struct Policy {
    const char* name;
    const char* contentSecurityPolicy;  // empty: the shipped policy
    friend void PrintTo(const Policy& policy, std::ostream* out) { *out << policy.name; }
};

class BridgeTest : public ShellTest, public ::testing::WithParamInterface<Policy> { };

// Every way a document other than the top frame of index.html can post: frames of every kind
// (about:blank, srcdoc, data:, another file of the bundle, index.html itself) posting to their
// parent, the top and themselves. (The top document cannot take another file's address without
// a navigation, which the navigation policy refuses: WebKit allows history.pushState on file:
// URLs to change only the query and the fragment.)
TEST_P(BridgeTest, NothingButTheTopFrameOfIndexReachesTheController)
{
    launch([](ShellOptions& options) { options.contentSecurityPolicy = GetParam().contentSecurityPolicy; });
    ASSERT_EQ(roundTrip("first", "ready").kind(), boost::json::kind::null);
    std::size_t dispatched = shell().commandsDispatched();

    page("return window.testFrames();");
    runFor(1.5);  // every frame has loaded (or been refused) and posted by now

    // A command from the page itself afterwards: messages are handled in order, so once its
    // reply is in, everything posted before it has been dropped or answered.
    EXPECT_EQ(roundTrip("barrier", "windowModal", "{\"open\": false}").kind(), boost::json::kind::null);
    auto results = record().at("results").as_array();
    std::vector<std::string> answered;
    for (const auto& result : results)
        answered.emplace_back(result.at("id").as_string());
    EXPECT_EQ(answered, (std::vector<std::string> { "first", "barrier" }));
    EXPECT_EQ(shell().commandsDispatched(), dispatched);
    EXPECT_EQ(shell().controller()->vault().theme, Theme::light);
}

INSTANTIATE_TEST_SUITE_P(Policies, BridgeTest,
    ::testing::Values(Policy { "shipped", "" }, Policy { "permissive", kPermissivePolicy }),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ShellTest, MalformedMessagesGetNoReply)
{
    launch();
    struct Case {
        const char* name;
        const char* script;
    };
    const Case cases[] = {
        { "no id", "window.postMessage({quorvane: {command: 'windowModal'}}, '*');" },
        { "numeric id", "window.postMessage({quorvane: {id: 7, command: 'windowModal'}}, '*');" },
        { "no command", "window.postMessage({quorvane: {id: 'x'}}, '*');" },
        { "command not a string", "window.postMessage({quorvane: {id: 'y', command: ['ready']}}, '*');" },
        { "message not an object", "window.postMessage({quorvane: 'ready'}, '*');" },
        { "not wrapped", "window.postMessage({id: 'z', command: 'ready'}, '*');" },
        { "a string", "window.postMessage('ready', '*');" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        page(std::string(c.script) + " return true;");
    }
    EXPECT_EQ(roundTrip("barrier", "windowModal").kind(), boost::json::kind::null);
    EXPECT_EQ(record().at("results").as_array().size(), 1u);
}

TEST_F(ShellTest, ReadyPushesTheStateAndTheUpdateStateOnceAndNothingComesEarlier)
{
    launch();
    // The load has finished: that sent the state and the update state once.
    ASSERT_TRUE(runUntil([&] { return record().at("states").as_int64() == 1; }));
    auto before = record();
    EXPECT_EQ(before.at("updates").as_array().size(), 1u);

    EXPECT_EQ(roundTrip("r", "ready").kind(), boost::json::kind::null);
    runFor(0.3);
    auto after = record();
    EXPECT_EQ(after.at("states").as_int64(), 2);
    EXPECT_EQ(after.at("updates").as_array().size(), 2u);
    EXPECT_EQ(after.at("statesEarly").as_int64(), 0);
    EXPECT_EQ(after.at("updatesEarly").as_int64(), 0);
    const auto& update = after.at("updates").as_array().back().as_object();
    EXPECT_FALSE(update.at("configured").as_bool());
    EXPECT_EQ(update.at("status").as_string(), "unavailable");
    EXPECT_FALSE(update.contains("availableVersion"));
    EXPECT_EQ(after.at("lastState").at("theme").as_string(), "light");
}

TEST_F(ShellTest, WindowModalHidesTheDragStripOnlyWhenOpenIsTrue)
{
    launch();
    struct Case {
        const char* name;
        const char* data;
        bool stripVisible;
    };
    const Case cases[] = {
        { "open", "{\"open\": true}", false },
        { "closed", "{\"open\": false}", true },
        { "open again", "{\"open\": true}", false },
        { "no data", "", true },
        { "open again", "{\"open\": true}", false },
        { "not a boolean", "{\"open\": \"yes\"}", true },
        { "open again", "{\"open\": true}", false },
        { "empty data", "{}", true },
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(roundTrip("m" + std::to_string(n++), "windowModal", c.data).kind(), boost::json::kind::null);
        EXPECT_EQ(bool(gtk_widget_get_visible(shell().mainWindow()->dragRegion())), c.stripVisible);
    }
}

TEST_F(ShellTest, AutomaticUpdatesWithoutABooleanGoesToTheDispatcher)
{
    launch();
    std::size_t dispatched = shell().commandsDispatched();
    EXPECT_EQ(roundTrip("a", "automaticUpdates", "{\"enabled\": true}").kind(), boost::json::kind::null);
    EXPECT_EQ(shell().commandsDispatched(), dispatched);
    auto error = roundTrip("b", "automaticUpdates", "{\"enabled\": \"yes\"}");
    EXPECT_EQ(shell().commandsDispatched(), dispatched + 1);
    ASSERT_TRUE(error.is_string());
    EXPECT_EQ(error.as_string(), "That action isn’t available.");
}

TEST_F(ShellTest, APageCommandReachesTheController)
{
    launch();
    EXPECT_EQ(roundTrip("t", "theme", "{\"theme\": \"dark\"}").kind(), boost::json::kind::null);
    EXPECT_EQ(shell().controller()->vault().theme, Theme::dark);
}

TEST_F(ShellTest, ACommandErrorReachesTheSentenceOfNativeResult)
{
    launch();
    auto error = roundTrip("n", "noSuchCommand");
    ASSERT_TRUE(error.is_string());
    EXPECT_EQ(error.as_string(), "That action isn’t available.");
}

TEST_F(ShellTest, NavigationAwayIsRefusedAndWebLinksGoToTheBrowser)
{
    launch();
    double document = record().at("document").as_double();
    page("location.href = 'other.html'; return true;");
    runFor(0.5);
    page("location.href = 'https://example.org/away'; return true;");
    runFor(0.5);
    EXPECT_EQ(record().at("document").as_double(), document);
    EXPECT_TRUE(opened.empty()) << "a script navigation is no link click";

    page("const a = document.createElement('a'); a.href = 'https://example.org/page?x=1'; a.textContent = 'link';"
         "document.body.append(a); a.click(); return true;");
    ASSERT_TRUE(runUntil([&] { return !opened.empty(); }, 5));
    EXPECT_EQ(opened, (std::vector<std::string> { "https://example.org/page?x=1" }));
    runFor(0.3);
    EXPECT_EQ(record().at("document").as_double(), document);
    EXPECT_TRUE(InterfaceBridge::addressesFile(webkit_web_view_get_uri(shell().webView()), shell().indexFile()));
}

}  // namespace
}  // namespace quorvane::testing
