#include "BrowserHarness.hpp"

#include <cstdlib>

#include "quorvane/DotService.hpp"
#include "quorvane/Json.hpp"
#include "quorvane/TextRules.hpp"

namespace quorvane::testing {

bool runUntil(const std::function<bool()>& done, double seconds)
{
    gint64 deadline = g_get_monotonic_time() + gint64(seconds * G_USEC_PER_SEC);
    while (!done()) {
        if (g_get_monotonic_time() > deadline)
            return false;
        if (!g_main_context_iteration(nullptr, FALSE))
            g_usleep(2000);
    }
    return true;
}

void runFor(double seconds)
{
    runUntil([] { return false; }, seconds);
}

void awaitVoid(Task<void> task, double seconds)
{
    await(
        [](Task<void> task) -> Task<bool> {
            co_await std::move(task);
            co_return true;
        }(std::move(task)),
        seconds);
}

std::string failureOf(Task<void> task)
{
    try {
        awaitVoid(std::move(task));
        return "";
    } catch (const std::exception& error) {
        return error.what();
    }
}

std::string evalInPage(WebKitWebView* view, const std::string& script)
{
    auto start = [&](GCancellable* cancellable, GAsyncReadyCallback callback, gpointer data) {
        webkit_web_view_evaluate_javascript(
            view, script.c_str(), gssize(script.size()), nullptr, nullptr, cancellable, callback, data);
    };
    auto finish = [](GObject* source, GAsyncResult* result) {
        GError* error = nullptr;
        auto value = GObjectPtr<JSCValue>::adopt(
            webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), result, &error));
        if (error)
            GLibError::raise(error);
        char* text = jsc_value_to_string(value.get());
        std::string out = text ? text : "";
        g_free(text);
        return out;
    };
    return await([](decltype(start) start, decltype(finish) finish) -> Task<std::string> {
        co_return co_await asyncCall<std::string>(start, finish);
    }(start, finish));
}

void BrowserTest::SetUp()
{
    char pattern[] = "/tmp/quorvane-browser-XXXXXX";
    ASSERT_NE(g_mkdtemp(pattern), nullptr);
    folder = pattern;
    // Each case runs in a process of its own, so these are read fresh by GLib.
    setenv("XDG_DATA_HOME", (folder / "data").c_str(), 1);
    setenv("XDG_CACHE_HOME", (folder / "cache").c_str(), 1);
    gtk_init();
}

void BrowserTest::TearDown()
{
    for (auto& browser : browsers)
        browser->shutdown();
    browsers.clear();
    runFor(0.1);
    simulator.reset();
    // WebKit's network process writes caches and storage a little after the pages are gone,
    // which can bring back a folder removed too early: remove, let it settle, remove again.
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    runFor(0.5);
    std::filesystem::remove_all(folder, ignored);
}

void BrowserTest::startSimulator(std::vector<std::string> options)
{
    simulator = std::make_unique<Simulator>(folder / "sim", std::move(options));
    DotService::install(DotService::load(simulator->configFile));
}

std::unique_ptr<DotBrowser> BrowserTest::makeBrowser(const std::string& profile)
{
    return std::make_unique<DotBrowser>(profile, QUORVANE_TEST_DATA_DIR);
}

DotSnapshot BrowserTest::inspectUntil(
    DotBrowser& browser, const std::function<bool(const DotSnapshot&)>& ready, double seconds)
{
    gint64 deadline = g_get_monotonic_time() + gint64(seconds * G_USEC_PER_SEC);
    std::string last = "no snapshot";
    for (;;) {
        if (!browser.loading()) {
            try {
                auto snapshot = await(browser.inspect());
                if (ready(snapshot))
                    return snapshot;
                last = encodeJSON(snapshot);
            } catch (const std::exception& error) {
                last = error.what();
            }
        }
        if (g_get_monotonic_time() > deadline)
            throw std::runtime_error("The page never got there; last: " + last);
        runFor(0.1);
    }
}

DotSnapshot BrowserTest::openAndInspect(
    DotBrowser& browser, const std::string& url, const std::function<bool(const DotSnapshot&)>& ready)
{
    browser.open(url);
    return inspectUntil(browser, ready);
}

}  // namespace quorvane::testing
