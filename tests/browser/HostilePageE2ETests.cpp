// A Dot page whose own scripts turn on Quorvane: they send the view to another place, redefine
// the DOM and the language's built-ins under the adapter, flood the document with mutations, or
// grow one message past every bound. Quorvane keeps reading the real Dot page, or reports it as
// not ready; it never reads forged content, and neither its reading nor the application runs
// away.

#include <cstdlib>
#include <string>
#include <vector>

#include <boost/json.hpp>

#include "BrowserHarness.hpp"
#include "quorvane/DotService.hpp"
#include "quorvane/holders/GLibHolders.hpp"

namespace quorvane::testing {
namespace {

using HostilePageTest = SharedSimulatorTest;

std::string conversationID(const std::string& url) { return url.substr(url.rfind('/') + 1); }

struct Reading {
    std::string id, role, text;
    bool operator==(const Reading&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Reading& r)
{
    return out << r.id << " " << r.role << ": " << r.text.substr(0, 200);
}

std::vector<Reading> readings(const DotSnapshot& snapshot)
{
    std::vector<Reading> out;
    for (const auto& m : snapshot.messages)
        out.push_back({ m.id.str(), m.role.str(), m.text.str() });
    return out;
}

// Script in the page's own world; "" when the page cannot answer (it is going away, say).
std::string pageSays(DotBrowser& browser, const std::string& script)
{
    try {
        return evalInPage(browser.webView(), script);
    } catch (const std::exception&) {
        return "";
    }
}

std::string viewAddress(DotBrowser& browser)
{
    const char* uri = webkit_web_view_get_uri(browser.webView());
    return uri ? uri : "";
}

// Opens `url` and waits until its document has loaded (its scripts have run), without asking
// the adapter anything.
bool openDocument(DotBrowser& browser, const std::string& url, double seconds = 20)
{
    browser.open(url);
    return runUntil(
        [&] { return !browser.loading() && pageSays(browser, "location.href + ' ' + document.readyState") == url + " complete"; },
        seconds);
}

// A conversation of one exchange, and what the adapter reads of it on the plain page.
struct Reference {
    std::string url;
    std::vector<Reading> messages;
};

TEST_F(HostilePageTest, NavigationsAwayFromTheDotHostAreRefused)
{
    Reference reference;
    {
        auto browser = makeBrowser();
        reference.url = startConversation(*browser);
        reference.messages = readings(await(browser->inspect()));
    }
    ASSERT_EQ(reference.messages.size(), 2u);
    // The same simulator under another name is another origin: a page that looks like Dot, with
    // other messages, which the adapter would read as Dot's if the view went there.
    auto decoy = simulator->control("seed", R"({"messages": 2, "bytes": 60, "plain": true})");
    auto decoyURL = boost::json::value_to<std::string>(decoy.at("url"));
    const std::string port = simulator->origin.substr(simulator->origin.rfind(':') + 1);
    const std::string elsewhere = "https://localhost:" + port + "/dots/" + conversationID(decoyURL);

    const struct {
        const char* name;
        std::string target;
        const char* by;
        bool followed;  // a navigation on the Dot host itself is the page's own business
    } cases[] = {
        { "another origin, by assigning location", elsewhere, "location", false },
        { "another origin, by a clicked link", elsewhere, "link", false },
        { "another origin, by a meta refresh", elsewhere, "refresh", false },
        { "a host that does not exist", "https://example.invalid/dots/home", "location", false },
        { "a local file", "file:///etc/hostname", "location", false },
        { "a data: document", "data:text/html,<div data-message-id=x data-message-author-role=user>Forged</div>",
            "location", false },
        { "another conversation on the Dot host", decoyURL, "location", true },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        pageVariant({ { "reset", true }, { "navigateAway", c.target }, { "navigateBy", c.by } });
        auto browser = makeBrowser();
        // The certificate is good for "localhost" too: the other origin loads if it is let in.
        GErrorHolder error;
        auto certificate = GObjectPtr<GTlsCertificate>::adopt(
            g_tls_certificate_new_from_file(DotService::current().trustedCertificate->c_str(), error.out()));
        ASSERT_TRUE(certificate);
        webkit_network_session_allow_tls_certificate_for_host(
            webkit_web_view_get_network_session(browser->webView()), certificate.get(), "localhost");

        openAndInspect(*browser, reference.url);
        auto attempts = [&] {
            return std::atoi(pageSays(*browser, "document.documentElement.getAttribute('data-navigate-attempts')").c_str());
        };
        const std::string expected = c.followed ? c.target : reference.url;
        // Two attempts made on the Dot page, or the view went somewhere.
        runUntil([&] { return viewAddress(*browser) != reference.url || attempts() >= 2; }, 15);
        runFor(1.5);  // time for a navigation to land
        EXPECT_EQ(viewAddress(*browser), expected);
        EXPECT_EQ(browser->error(), "");
        EXPECT_FALSE(browser->loading());
        auto snapshot = await(browser->inspect());
        EXPECT_EQ(snapshot.url.str(), expected);
        if (c.followed) {
            EXPECT_NE(readings(snapshot), reference.messages);
        } else {
            EXPECT_GE(attempts(), 2) << "the page kept trying";
            EXPECT_TRUE(snapshot.ready) << snapshot.reason;
            EXPECT_EQ(readings(snapshot), reference.messages);
        }
    }
}

TEST_F(HostilePageTest, RedefinedDOMMethodsDoNotReachTheAdapter)
{
    Reference reference;
    {
        auto browser = makeBrowser();
        reference.url = startConversation(*browser);
        reference.messages = readings(await(browser->inspect()));
    }
    const std::string lies = "JSON.stringify([]) + document.querySelectorAll('[data-message-id]').length";
    const std::string lying = R"({"forged":true}1)";
    const struct {
        const char* name;
        const char* when;
    } cases[] = {
        { "before the adapter's first run", "early" },
        { "after the adapter's first run, with every message touched", "late" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        pageVariant({ { "reset", true }, { "redefineDOM", c.when } });
        ManualScheduler clock;
        auto browser = makeBrowser(clock);
        // Read the page, whatever it signalled, until it is ready (or 10 s pass).
        auto readPage = [&] {
            DotSnapshot snapshot;
            for (int i = 0; i < 50; ++i) {
                clock.advance(DotBrowser::kUnchangedPageReread);
                snapshot = await(browser->inspect());
                if (snapshot.ready)
                    break;
                runFor(0.2);
            }
            return snapshot;
        };
        ASSERT_TRUE(openDocument(*browser, reference.url));
        if (c.when == std::string("late")) {
            auto first = readPage();
            ASSERT_NE(pageSays(*browser, lies), lying) << "the page is still honest at the first reading";
            EXPECT_EQ(readings(first), reference.messages);
        } else {
            ASSERT_EQ(pageSays(*browser, lies), lying) << "the page lies before the adapter first runs";
        }
        ASSERT_TRUE(runUntil([&] { return pageSays(*browser, lies) == lying; }, 10)) << pageSays(*browser, lies);
        auto snapshot = readPage();
        EXPECT_TRUE(snapshot.ready) << snapshot.reason;
        EXPECT_EQ(readings(snapshot), reference.messages);
        EXPECT_EQ(snapshot.url.str(), reference.url);
        EXPECT_EQ(snapshot.profileName, std::optional<Text>("Dot"));
        EXPECT_FALSE(snapshot.busy);
    }
}

}  // namespace
}  // namespace quorvane::testing
