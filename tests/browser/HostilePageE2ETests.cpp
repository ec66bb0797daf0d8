// A Dot page whose own scripts turn on Quorvane: they send the view to another place, redefine
// the DOM and the language's built-ins under the adapter, flood the document with mutations, or
// grow one message past every bound. Quorvane keeps reading the real Dot page, or reports it as
// not ready; it never reads forged content, and neither its reading nor the application runs
// away.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <boost/json.hpp>
#include <unistd.h>

#include "BrowserHarness.hpp"
#include "quorvane/DotService.hpp"
#include "quorvane/Json.hpp"
#include "quorvane/holders/GLibHolders.hpp"

namespace quorvane::testing {
namespace {

using HostilePageTest = SharedSimulatorTest;

const std::string kUnreadable = "Quorvane can’t read the messages on this Dot page.";

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

// A figure from /proc/self/status, in kB ("VmRSS", "VmHWM").
long statusKB(const std::string& field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.starts_with(field + ":"))
            return std::atol(line.c_str() + field.size() + 1);
    }
    return -1;
}

// The largest peak (VmHWM, kB) among this process's WebKit web processes, for the log.
long webProcessPeakKB()
{
    long peak = -1;
    const std::string self = std::to_string(getpid());
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::ifstream status(entry.path() / "status");
        std::string line, name;
        long hwm = -1;
        bool child = false;
        while (std::getline(status, line)) {
            if (line.starts_with("Name:"))
                name = line.substr(5);
            else if (line.starts_with("PPid:"))
                child = std::to_string(std::atol(line.c_str() + 5)) == self;
            else if (line.starts_with("VmHWM:"))
                hwm = std::atol(line.c_str() + 6);
        }
        if (child && name.find("WebKitWebProces") != std::string::npos)
            peak = std::max(peak, hwm);
    }
    return peak;
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

TEST_F(HostilePageTest, AMutationFloodKeepsTheChangeSignalAndTheReadingBounded)
{
    Reference reference;
    {
        auto browser = makeBrowser();
        reference.url = startConversation(*browser);
        reference.messages = readings(await(browser->inspect()));
    }
    const struct {
        const char* name;
        const char* flood;
    } cases[] = {
        { "every animation frame", "frame" },
        { "every turn of the page's event loop", "timeout" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        pageVariant({ { "reset", true }, { "mutationFlood", c.flood } });
        auto browser = makeBrowser();
        browser->show();  // animation frames run for a page on screen
        int changes = 0;
        browser->setOnChange([&] { ++changes; });
        openAndInspect(*browser, reference.url);
        auto ticks = [&] { return std::atol(pageSays(*browser, "String(window.__dotFloodTicks)").c_str()); };
        auto pageClock = [&] { return std::atof(pageSays(*browser, "String(performance.now())").c_str()); };
        const long ticksBefore = ticks();
        const double pageStart = pageClock();
        changes = 0;
        // The run loop's pace: a reading every half second, twenty of them.
        int readingsTaken = 0;
        gint64 slowest = 0;
        for (int turn = 0; turn < 20; ++turn) {
            runFor(0.5);
            gint64 started = g_get_monotonic_time();
            auto snapshot = await(browser->inspect());
            slowest = std::max(slowest, g_get_monotonic_time() - started);
            ++readingsTaken;
            EXPECT_TRUE(snapshot.ready) << snapshot.reason;
            EXPECT_EQ(readings(snapshot), reference.messages);
        }
        const long flooded = ticks() - ticksBefore;
        const double pageMs = pageClock() - pageStart;
        std::printf("[ figures  ] %s: %ld page mutations, %d change signals, %d readings in %.0f ms of the page's "
                    "time, slowest reading %.0f ms\n",
            c.flood, flooded, changes, readingsTaken, pageMs, double(slowest) / 1000);
        EXPECT_GT(flooded, 200) << "the flood ran";
        EXPECT_GT(changes, 0) << "a changing page is still signalled";
        // However fast the page changes, the signal comes at most once per 250 ms of the page's
        // own clock (give or take the signals under way at either end), far below its pace.
        EXPECT_LE(changes, int(pageMs / 250) + 3);
        EXPECT_LE(changes * 5, flooded);
        EXPECT_EQ(browser->error(), "");
    }
}

TEST_F(HostilePageTest, AnOversizedMessageOrDeepNestingIsReadWithinBoundsOrReportedUnreadable)
{
    Reference reference;
    {
        auto browser = makeBrowser();
        reference.url = startConversation(*browser);
        reference.messages = readings(await(browser->inspect()));
    }
    const std::size_t textBound = 262144;
    const struct {
        const char* name;
        boost::json::object page;
        bool bloated;
        // WebKit's own work on a page that large or deep (building, style, layout) can keep the
        // page from answering for longer than a reading may take: the browser then ends it as it
        // ends any stuck page.
        bool mayEndPage;
    } cases[] = {
        { "a 5 MB message", { { "bloatLast", 5'000'000 } }, true, false },
        { "a 50 MB message", { { "bloatLast", 50'000'000 } }, true, true },
        { "a message 20,000 elements deep", { { "nestLast", 20'000 } }, false, true },
        { "a message 100,000 elements deep", { { "nestLast", 100'000 } }, false, true },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        boost::json::object page = c.page;
        page["reset"] = true;
        pageVariant(page);
        const long rssBefore = statusKB("VmRSS");
        auto browser = makeBrowser();
        gint64 started = g_get_monotonic_time();
        browser->open(reference.url);
        // Read as the run loop would, until the page is read or said to be unreadable; a reading
        // that fails (the page did not answer in time) is tried again.
        std::optional<DotSnapshot> snapshot;
        std::vector<std::string> failures;
        auto seconds = [&] { return double(g_get_monotonic_time() - started) / G_USEC_PER_SEC; };
        while (!snapshot && browser->error().empty() && seconds() < 240) {
            if (browser->loading()) {
                runFor(0.5);
                continue;
            }
            try {
                auto s = await(browser->inspect(), 60);
                if (s.ready || s.reason == kUnreadable)
                    snapshot = s;
            } catch (const std::exception& error) {
                failures.push_back(error.what());
            }
            runFor(0.5);
        }
        std::printf("[ figures  ] %s: read in %.1f s; test process RSS %ld -> %ld kB (peak %ld kB); web process "
                    "peak %ld kB; %zu failed readings%s%s\n",
            c.name, seconds(), rssBefore, statusKB("VmRSS"), statusKB("VmHWM"), webProcessPeakKB(), failures.size(),
            failures.empty() ? "" : ", first: ", failures.empty() ? "" : failures.front().c_str());
        // The page's process goes with its case, however busy the page still keeps it.
        struct EndPage {
            DotBrowser& browser;
            ~EndPage() { webkit_web_view_terminate_web_process(browser.webView()); }
        } endPage { *browser };
        if (c.mayEndPage && !snapshot) {
            // Stuck while loading (the load is stopped at its time-out) or after (the page is
            // ended when it does not answer): either way the browser says so and moves on.
            const std::string error = browser->error();
            EXPECT_TRUE(error == DotBrowser::kWindowStopped || error == DotBrowser::kCouldNotReach) << error;
            continue;
        }
        ASSERT_TRUE(snapshot) << "never read; failures: " << failures.size();
        EXPECT_EQ(browser->error(), "") << "the page was not ended";
        if (!snapshot->ready) {
            EXPECT_TRUE(snapshot->messages.empty());
            continue;
        }
        ASSERT_EQ(snapshot->messages.size(), reference.messages.size());
        EXPECT_EQ(snapshot->messages.front().text, reference.messages.front().text);
        const auto& newest = snapshot->messages.back();
        EXPECT_EQ(newest.id, reference.messages.back().id);
        if (c.bloated) {
            EXPECT_EQ(g_utf8_strlen(newest.text.view().data(), gssize(newest.text.size())), glong(textBound))
                << "code units, all in the basic plane here";
            EXPECT_TRUE(newest.text.view().starts_with(reference.messages.back().text));
            EXPECT_FALSE(newest.html.has_value()) << "markup past its bound is left out";
        } else {
            EXPECT_EQ(newest.text, reference.messages.back().text);
        }
        EXPECT_LT(encodeJSON(*snapshot).size(), 2 * textBound + 1024 * 1024);
    }
}

}  // namespace
}  // namespace quorvane::testing
