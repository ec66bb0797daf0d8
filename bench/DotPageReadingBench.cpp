// Reading the Dot page, as the run loop does on every turn (twice a second): DotBrowser::inspect()
// against the simulator, on a conversation of 2,000 messages of about 2 KB of HTML.
//   - a read of the page unchanged since the last snapshot, and of the page with one message
//     changed (an answer being written): goal ≤ 25 ms per snapshot, of which ≤ 5 ms on the
//     application's main thread (that thread's CPU time during the call). The browser does not
//     read an unchanged page again within DotBrowser::kUnchangedPageReread; its clock is a
//     ManualScheduler here, advanced past that before every timed read;
//   - the first snapshot after the page loaded (the whole conversation read and sent): no goal,
//     it happens once per load;
//   - an idle connected application (a snapshot every 0.5 s, nothing queued, the page unchanged)
//     for 60 s: goal ≤ 2% of one core, the application's process and its WebKit processes
//     together, from /proc (the simulator, which stands in for the service, is not counted).
//     Beside it, the same 60 s without snapshots: what the page costs on its own (its caret
//     blinks, for one), which no adapter can save.
// It needs a display and node: scripts/bench runs it under xvfb-run.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <boost/json.hpp>

#include "BenchReport.hpp"
#include "ProcessStats.hpp"
#include "Simulator.hpp"
#include "quorvane/DotService.hpp"
#include "quorvane/TextRules.hpp"
#include "quorvane/async/Async.hpp"
#include "quorvane/browser/DotBrowser.hpp"

namespace {

using namespace quorvane;

constexpr std::size_t kMessages = 2'000;
constexpr double kIdleSeconds = 60;
constexpr double kTurnSeconds = 0.5;

double monotonic() { return double(g_get_monotonic_time()) / G_USEC_PER_SEC; }

double mainThreadCPU()
{
    timespec now {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// Runs the main loop until `done` holds (blocking between events, so no polling delay counts).
void runUntil(const std::function<bool()>& done, double seconds = 120)
{
    double deadline = monotonic() + seconds;
    guint wake = g_timeout_add(
        20, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
    while (!done() && monotonic() < deadline)
        g_main_context_iteration(nullptr, TRUE);
    g_source_remove(wake);
    if (!done())
        throw std::runtime_error("The page did not get there in time.");
}

template <class T>
T await(Task<T> task)
{
    std::optional<T> value;
    std::exception_ptr error;
    bool done = false;
    TaskScope scope;
    scope.spawn([](Task<T> task, std::optional<T>& value, std::exception_ptr& error, bool& done) -> Task<void> {
        try {
            value.emplace(co_await std::move(task));
        } catch (...) {
            error = std::current_exception();
        }
        done = true;
    }(std::move(task), value, error, done));
    runUntil([&] { return done; });
    if (error)
        std::rethrow_exception(error);
    return std::move(*value);
}

void runFor(double seconds)
{
    bool over = false;
    guint end = g_timeout_add(
        guint(seconds * 1000),
        [](gpointer over) -> gboolean {
            *static_cast<bool*>(over) = true;
            return G_SOURCE_REMOVE;
        },
        &over);
    while (!over)
        g_main_context_iteration(nullptr, TRUE);
    (void)end;
}

// Script in the page's own world, as the page's code would run it; its result as text.
std::string evaluateInPage(WebKitWebView* view, const std::string& script)
{
    struct Result {
        bool done = false;
        std::string text;
    } result;
    webkit_web_view_evaluate_javascript(
        view, script.c_str(), gssize(script.size()), nullptr, nullptr, nullptr,
        [](GObject* source, GAsyncResult* async, gpointer data) {
            auto* result = static_cast<Result*>(data);
            if (JSCValue* value = webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), async, nullptr)) {
                gchar* text = jsc_value_to_string(value);
                result->text = text ? text : "";
                g_free(text);
                g_object_unref(value);
            }
            result->done = true;
        },
        &result);
    runUntil([&] { return result.done; });
    return result.text;
}

void runInPage(WebKitWebView* view, const std::string& script) { evaluateInPage(view, script + "; true"); }

// The simulator, a conversation of kMessages messages and a browser showing it, once per run.
struct Page {
    std::filesystem::path folder;
    std::unique_ptr<testing::Simulator> simulator;
    ManualScheduler clock;  // the browser's: no deadlines, and re-reads when the bench says
    std::unique_ptr<DotBrowser> browser;
    std::string url;

    // Started on first use; ended by main() after the benchmarks, while GTK is still up.
    static std::unique_ptr<Page>& instance()
    {
        static std::unique_ptr<Page> page;
        return page;
    }
    static Page& shared()
    {
        if (!instance()) {
            instance() = std::make_unique<Page>();
            instance()->start();
        }
        return *instance();
    }

    void start()
    {
        char pattern[] = "/tmp/quorvane-bench-XXXXXX";
        if (!g_mkdtemp(pattern))
            throw std::runtime_error("No temporary folder.");
        folder = pattern;
        setenv("XDG_DATA_HOME", (folder / "data").c_str(), 1);
        setenv("XDG_CACHE_HOME", (folder / "cache").c_str(), 1);
        gtk_init();
        simulator = std::make_unique<testing::Simulator>(
            folder / "sim", std::vector<std::string> { "--signed-in", "--no-persist" });
        DotService::install(DotService::load(simulator->configFile));
        auto seeded
            = simulator->control("seed", R"({"messages": )" + std::to_string(kMessages) + R"(, "bytes": 2000})");
        url = boost::json::value_to<std::string>(seeded.at("url"));
        browser = std::make_unique<DotBrowser>(newUUID(), QUORVANE_BENCH_DATA_DIR, nullptr, clock);
        load();
    }

    // A snapshot taken, so the browser holds the page from here on.
    void hold() { await(browser->inspect()); }

    // (Re)loads the conversation and waits until a new document shows all of it and has
    // finished its own work: a page of this size keeps its main thread busy for a while after
    // it shows its messages (style, layout, its event stream's first state), and a snapshot
    // taken meanwhile would time that, not the adapter.
    void load()
    {
        runInPage(browser->webView(), "window.quorvaneBenchOld = true");
        browser->open(url);
        const std::string shown = "!window.quorvaneBenchOld && document.querySelectorAll('[data-message-id]').length";
        while (evaluateInPage(browser->webView(), shown) != std::to_string(kMessages))
            runFor(0.2);
        settle();
        if (!browser->error().empty())
            throw std::runtime_error(browser->error());
    }

    // Waits until the page has done its own work (style, layout, painting) and answers at once.
    void settle()
    {
        for (int quick = 0; quick < 3;) {
            double start = monotonic();
            evaluateInPage(browser->webView(), "document.body.offsetHeight");
            quick = monotonic() - start < 0.05 ? quick + 1 : 0;
            runFor(0.1);
        }
    }

    ~Page()
    {
        browser.reset();
        runFor(0.5);  // WebKit's processes write their last caches
        simulator.reset();
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
};

// One timed snapshot: its wall time for the benchmark, its main-thread CPU time added to `main`.
void timedInspect(benchmark::State& state, Page& page, double& main)
{
    page.clock.advance(DotBrowser::kUnchangedPageReread);  // a read, not the snapshot held
    double cpu = mainThreadCPU();
    double start = monotonic();
    DotSnapshot snapshot;
    try {
        snapshot = await(page.browser->inspect());
    } catch (const std::exception& error) {
        std::fprintf(stderr, "inspect() failed after %.1f ms: %s\n", (monotonic() - start) * 1e3, error.what());
        state.SkipWithError(error.what());
        return;
    }
    state.SetIterationTime(monotonic() - start);
    main += mainThreadCPU() - cpu;
    if (snapshot.messages.size() != kMessages)
        state.SkipWithError(("The snapshot held " + std::to_string(snapshot.messages.size()) + " messages.").c_str());
}

void reportMainThread(benchmark::State& state, double main)
{
    state.counters["main ms"] = benchmark::Counter(main * 1e3 / double(state.iterations()));
}

void InspectUnchanged(benchmark::State& state)
{
    auto& page = Page::shared();
    page.hold();
    double main = 0;
    for (auto _ : state)
        timedInspect(state, page, main);
    reportMainThread(state, main);
}
BENCHMARK(InspectUnchanged)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(40);

void InspectOneChanged(benchmark::State& state)
{
    auto& page = Page::shared();
    page.hold();
    double main = 0;
    int round = 0;
    for (auto _ : state) {
        state.PauseTiming();
        // The newest answer grows by a few words, as it does while it is written. The page
        // renders that before the snapshot: its own rendering (which, on a page this long, may
        // take longer than reading it) is not the adapter's cost.
        runInPage(page.browser->webView(),
            "Array.from(document.querySelectorAll('[data-message-author-role=\"assistant\"] p')).pop()"
            ".append(' and a few more words "
                + std::to_string(round++) + "')");
        page.settle();
        state.ResumeTiming();
        timedInspect(state, page, main);
    }
    reportMainThread(state, main);
}
BENCHMARK(InspectOneChanged)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(40);

void InspectAfterLoad(benchmark::State& state)
{
    auto& page = Page::shared();
    double main = 0;
    for (auto _ : state) {
        state.PauseTiming();
        page.load();
        state.ResumeTiming();
        timedInspect(state, page, main);
    }
    reportMainThread(state, main);
}
BENCHMARK(InspectAfterLoad)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3)->Repetitions(1);

// Our own process and the WebKit processes it started (network, web content).
struct ProcessCPU {
    double app = 0;
    double webkit = 0;
};

ProcessCPU applicationCPU()
{
    ProcessCPU cpu;
    cpu.app = bench::cpuSeconds("self");
    for (const std::string& pid : bench::childProcesses("WebKit"))
        cpu.webkit += bench::cpuSeconds(pid);
    return cpu;
}

// The run loop's part in it: one snapshot, then 0.5 s of sleep, again, until cancelled.
Task<void> turns(DotBrowser& browser, ManualScheduler& clock, std::size_t& count)
{
    for (;;) {
        co_await browser.inspect();
        ++count;
        co_await sleepFor(GLibScheduler::shared(), kTurnSeconds);
        clock.advance(kTurnSeconds);  // the browser's clock keeps up with the wall clock
    }
}

// What the run loop costs while nothing happens (`watched`), or what the page costs on its own.
void idle(benchmark::State& state, bool watched)
{
    auto& page = Page::shared();
    page.hold();
    for (auto _ : state) {
        ProcessCPU before = applicationCPU();
        double start = monotonic();
        std::size_t count = 0;
        {
            TaskScope loop;
            if (watched)
                loop.spawn(turns(*page.browser, page.clock, count));
            runFor(kIdleSeconds);
            loop.cancelAll();
        }
        double seconds = monotonic() - start;
        ProcessCPU after = applicationCPU();
        state.SetIterationTime(seconds);
        state.counters["idle %"] = 100 * (after.app + after.webkit - before.app - before.webkit) / seconds;
        state.counters["app %"] = 100 * (after.app - before.app) / seconds;
        state.counters["WebKit %"] = 100 * (after.webkit - before.webkit) / seconds;
        state.counters["turns"] = double(count);
    }
}

void IdleConnected(benchmark::State& state) { idle(state, true); }
void IdleUnwatched(benchmark::State& state) { idle(state, false); }
BENCHMARK(IdleUnwatched)->UseManualTime()->Unit(benchmark::kSecond)->Iterations(1)->Repetitions(1);
BENCHMARK(IdleConnected)->UseManualTime()->Unit(benchmark::kSecond)->Iterations(1)->Repetitions(1);

}  // namespace

int main(int argc, char** argv)
{
    using bench::Clock;
    using bench::Row;
    int status = bench::runBenchmarks(argc, argv,
        {
            Row { "inspect(), page unchanged (2,000 messages of ~2 KB HTML)", "InspectUnchanged", std::nullopt, 25.0,
                Clock::real },
            Row { "inspect(), page unchanged: on the main thread", "InspectUnchanged", std::nullopt, 5.0, Clock::real,
                false, "main ms" },
            Row { "inspect(), one message changed (an answer being written)", "InspectOneChanged", std::nullopt, 25.0,
                Clock::real },
            Row { "inspect(), one message changed: on the main thread", "InspectOneChanged", std::nullopt, 5.0,
                Clock::real, false, "main ms" },
            Row { "inspect(), first snapshot after the page loaded", "InspectAfterLoad", std::nullopt, std::nullopt,
                Clock::real },
            Row { "of it on the main thread", "InspectAfterLoad", std::nullopt, std::nullopt, Clock::real, true,
                "main ms" },
            Row { "idle connected, a snapshot every 0.5 s for 60 s", "IdleConnected", std::nullopt, 2.0, Clock::real,
                false, "idle %", "% of one core" },
            Row { "the application's process", "IdleConnected", std::nullopt, std::nullopt, Clock::real, true, "app %",
                "% of one core" },
            Row { "its WebKit processes", "IdleConnected", std::nullopt, std::nullopt, Clock::real, true, "WebKit %",
                "% of one core" },
            Row { "the same 60 s without snapshots (the page on its own)", "IdleUnwatched", std::nullopt, std::nullopt,
                Clock::real, true, "idle %", "% of one core" },
        });
    Page::instance().reset();
    return status;
}
