// The state publication in the real web view, with a vault of 10,000 messages of about 7 KB:
//   - start-up: from launch (the program's start, vault load included) until the page shows the
//     stored conversation's last message;
//   - the first, complete publication: from publish() until the page's receiveState has run;
//   - a publication where only the live reply changed (as while a reply streams): the main
//     thread's share, and the time until receiveState has run (medians of 40);
//   - memory after start-up, read from /proc: the application process, and the page's web
//     process, each against the vault's plaintext size; and, beside each, what the same program
//     needs with an empty vault (measured first, in a launch of its own), so that what the
//     history itself costs can be read off.
// Memory and the live-reply publications are measured once start-up has settled: both
// processes have been nearly idle for half a second. Under Xvfb the first seconds after the
// page shows the conversation go to drawing the window with software OpenGL, which would
// otherwise be counted against the publications.
// It runs the application itself (Application, AppDelegate, the Controller over the real store
// and keyring), so it needs a display and a keyring: scripts/bench runs it under xvfb-run in a
// private session (tests/store/with-keyring.sh). The page is the built interface page when
// there is one, else the shell's test page.
//
// The program prepares the vault, then starts itself again to measure a launch from scratch; at
// the end, a child process of it measures the launch with an empty vault.

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "BenchData.hpp"
#include "ProcessStats.hpp"
#include "quorvane/Json.hpp"
#include "quorvane/SecureStore.hpp"
#include "quorvane/holders/GLibHolders.hpp"
#include "quorvane/shell/AppDelegate.hpp"
#include "quorvane/shell/Application.hpp"

using namespace quorvane;

namespace {

constexpr std::size_t kMessages = 10'000;
constexpr int kLiveSamples = 40;
constexpr const char* kMarker = "BENCH-LAST-STORED-MESSAGE";

double now() { return double(g_get_monotonic_time()) / G_USEC_PER_SEC; }

bool runUntil(const std::function<bool()>& done, double seconds)
{
    double deadline = now() + seconds;
    while (!done()) {
        if (now() > deadline)
            return false;
        if (!g_main_context_iteration(nullptr, FALSE))
            g_usleep(500);
    }
    return true;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// The largest WebKit web process among this process's children: the page's (the Dot page is
// never loaded here). Empty when there is none.
std::string pageProcess()
{
    std::string largestPID;
    std::size_t largest = 0;
    for (const std::string& pid : bench::childProcesses("WebKitWebProces")) {
        if (std::size_t bytes = bench::residentBytes(pid); bytes > largest) {
            largest = bytes;
            largestPID = pid;
        }
    }
    return largestPID;
}

// Runs the main loop until this process and the page's have each used under a fifth of a core
// over half a second (at most 15 s); the seconds it took.
double settle()
{
    const double started = now();
    const std::string page = pageProcess();
    while (now() - started < 15) {
        double app = bench::cpuSeconds("self"), pageCPU = page.empty() ? 0 : bench::cpuSeconds(page);
        runUntil([] { return false; }, 0.5);
        double appLoad = (bench::cpuSeconds("self") - app) / 0.5;
        double pageLoad = page.empty() ? 0 : (bench::cpuSeconds(page) - pageCPU) / 0.5;
        if (appLoad < 0.2 && pageLoad < 0.2)
            break;
    }
    return now() - started;
}

// Memory once start-up has settled: the application process and the page's.
struct SettledMemory {
    std::size_t app = 0;
    std::size_t page = 0;
    double settledAfter = 0;
};

SettledMemory settledMemory()
{
    SettledMemory memory;
    memory.settledAfter = settle();
    memory.app = bench::residentBytes("self");
    std::string page = pageProcess();
    memory.page = page.empty() ? 0 : bench::residentBytes(page);
    return memory;
}

void line(const std::string& name, double ms, double goal)
{
    std::printf("%s: %.1f ms (goal ≤ %.0f ms) %s\n", name.c_str(), ms, goal, ms <= goal ? "met" : "MISSED");
}

void ratioLine(const std::string& name, std::size_t bytes, std::size_t plaintext, double goal)
{
    double ratio = double(bytes) / double(plaintext);
    std::printf("%s: %.0f MB vs vault plaintext %.0f MB = %.2f× (goal ≤ %.1f×) %s\n", name.c_str(), bytes / 1e6,
        plaintext / 1e6, ratio, goal, ratio <= goal ? "met" : "MISSED");
}

void vaultShareLine(const std::string& name, std::size_t bytes, std::size_t empty, std::size_t plaintext)
{
    std::printf("  %s: %.0f MB with an empty vault, so the history adds %.0f MB = %.2f× its plaintext\n", name.c_str(),
        empty / 1e6, (double(bytes) - double(empty)) / 1e6, (double(bytes) - double(empty)) / double(plaintext));
}

// The folders of one launch's data and cache.
void useFolders(const std::string& folder)
{
    std::filesystem::create_directories(folder + "/data");
    std::filesystem::create_directories(folder + "/cache");
    setenv("XDG_DATA_HOME", (folder + "/data").c_str(), 1);
    setenv("XDG_CACHE_HOME", (folder + "/cache").c_str(), 1);
}

// The application's and the page process's memory after a start with an empty vault, from a
// launch of its own in a child process (launch(true)); zeros when it failed.
SettledMemory emptyVaultMemory(const std::string& folder)
{
    useFolders(folder + "/empty");
    const gchar* arguments[] = { "/proc/self/exe", "--empty-vault", nullptr };
    gchar* out = nullptr;
    gint status = 0;
    bool ran = g_spawn_sync(nullptr, const_cast<gchar**>(arguments), nullptr, G_SPAWN_STDERR_TO_DEV_NULL, nullptr,
        nullptr, &out, nullptr, &status, nullptr);
    unsigned long long app = 0, page = 0;
    if (!ran || !out || std::sscanf(out, "EMPTY-VAULT %llu %llu", &app, &page) != 2)
        std::fprintf(stderr, "The launch with an empty vault failed.\n");
    g_free(out);
    return { std::size_t(app), std::size_t(page), 0 };
}

int prepare(char** argv)
{
    char pattern[] = "/tmp/quorvane-shell-bench-XXXXXX";
    if (!g_mkdtemp(pattern))
        return 1;
    std::string folder = pattern;
    useFolders(folder);
    Vault vault = bench::makeVault(kMessages);
    auto& messages = vault.account().messages;
    for (std::size_t i = messages.size(); i-- > 0;) {
        if (messages[i].botID == vault.account().selectedBot) {
            // Whichever form the page shows (text, HTML, parts), the marker is in it.
            auto& last = messages.mutableAt(i);
            last.text = std::string(kMarker) + " " + last.text.str();
            if (last.html)
                last.html = "<p>" + std::string(kMarker) + "</p>" + last.html->str();
            if (last.parts) {
                for (auto& part : last.parts->mutableElements()) {
                    part.text = std::string(kMarker) + " " + part.text.str();
                    if (part.html)
                        part.html = "<p>" + std::string(kMarker) + "</p>" + part.html->str();
                }
            }
            break;
        }
    }
    std::size_t plaintext = encodeJSON(vault).size();
    SecureStore().save(vault);
    setenv("QUORVANE_BENCH_FOLDER", folder.c_str(), 1);
    setenv("QUORVANE_BENCH_PLAINTEXT", std::to_string(plaintext).c_str(), 1);
    setenv("QUORVANE_BENCH_LAUNCHED", std::to_string(g_get_monotonic_time()).c_str(), 1);
    char launch[] = "--launch";
    char* again[] = { argv[0], launch, nullptr };
    execv("/proc/self/exe", again);
    std::perror("execv");
    return 1;
}

std::string pageScript(WebKitWebView* view, const char* body)
{
    struct Call {
        bool done = false;
        std::string out;
    } call;
    webkit_web_view_call_async_javascript_function(
        view, body, -1, nullptr, nullptr, nullptr, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            auto* call = static_cast<Call*>(data);
            JSCValue* value
                = webkit_web_view_call_async_javascript_function_finish(WEBKIT_WEB_VIEW(source), result, nullptr);
            if (value) {
                GCharPtr text(jsc_value_to_string(value));
                call->out = text ? text.get() : "";
                g_object_unref(value);
            }
            call->done = true;
        },
        &call);
    runUntil([&] { return call.done; }, 60);
    return call.out;
}

// With `emptyVault`, only prints the settled memory of a start without a stored vault.
int launch(bool emptyVault)
{

    ShellOptions options;
    options.dataDirectory = QUORVANE_BENCH_DATA_DIR;
    bool interfacePage = std::filesystem::exists(options.dataDirectory / "UI" / "index.html")
        && !std::getenv("QUORVANE_BENCH_TEST_PAGE_ONLY");
    options.resourceRoot
        = interfacePage ? options.dataDirectory / "UI" : std::filesystem::path(QUORVANE_BENCH_TEST_PAGE);
    options.openURI = [](const std::string&) {};
    options.separateInstance = true;  // the empty-vault launch runs beside the measured one
    Application application(options);
    std::vector<AppDelegate::PublicationTiming> timings;
    if (!g_application_register(G_APPLICATION(application.gtkApplication()), nullptr, nullptr)
        || !application.delegate())
        return 1;
    AppDelegate& shell = *application.delegate();
    shell.onPublished = [&](const AppDelegate::PublicationTiming& timing) { timings.push_back(timing); };
    g_application_activate(G_APPLICATION(application.gtkApplication()));

    if (emptyVault) {
        runUntil([&] { return shell.ready() && !timings.empty(); }, 60);
        SettledMemory memory = settledMemory();
        std::printf("EMPTY-VAULT %zu %zu\n", memory.app, memory.page);
        shell.willTerminate();
        return 0;
    }
    const double launched = std::strtod(std::getenv("QUORVANE_BENCH_LAUNCHED"), nullptr) / G_USEC_PER_SEC;
    const std::size_t plaintext = std::strtoull(std::getenv("QUORVANE_BENCH_PLAINTEXT"), nullptr, 10);
    const std::string folder = std::getenv("QUORVANE_BENCH_FOLDER");

    // Start-up: until the page shows the last stored message.
    std::string probe
        = std::string("return String(document.body && document.body.textContent.includes('") + kMarker + "'));";
    bool shown = runUntil(
        [&] {
            if (!shell.ready())
                return false;
            return pageScript(shell.webView(), probe.c_str()) == "true";
        },
        60);
    double startup = now() - launched;
    runUntil([&] { return !timings.empty(); }, 30);
    double firstComplete = 0, firstCompleteMain = 0, firstCompleteEncode = 0;
    std::size_t firstCompleteBytes = 0;
    for (const auto& timing : timings) {
        if (timing.complete) {
            firstComplete = timing.untilReceivedSeconds;
            firstCompleteMain = timing.mainThreadSeconds;
            firstCompleteEncode = timing.encodeSeconds;
            firstCompleteBytes = timing.bytes;
            break;
        }
    }

    // Memory after start-up, once things have settled.
    shell.controller()->onChange = nullptr;  // only the publications below
    SettledMemory memory = settledMemory();

    // Live-reply-only publications, as while a reply streams.
    ClientState state = shell.controller()->snapshot();
    ChatMessage live;
    live.id = "BENCH-LIVE-reply";
    live.botID = "dot";
    live.role = MessageRole::assistant;
    live.status = MessageStatus::streaming;
    std::string text;
    std::vector<double> mainThread, untilReceived;
    for (int i = 0; i < kLiveSamples; ++i) {
        text += bench::prose(120, std::size_t(i));
        live.text = text;
        live.date = 800'000'000.0 + i;
        state.liveReply = live;
        state.liveReplies = { live };
        std::size_t before = timings.size();
        shell.publish(state);
        if (!runUntil([&] { return timings.size() > before; }, 30))
            break;
        mainThread.push_back(timings.back().mainThreadSeconds * 1000);
        untilReceived.push_back(timings.back().untilReceivedSeconds * 1000);
        runUntil([] { return false; }, 0.05);
    }

    std::printf("Publication in the real web view, %zu messages (%.0f MB vault plaintext), %s\n", kMessages,
        plaintext / 1e6, interfacePage ? "interface page" : "shell test page");
    std::printf("Summary (medians of %zu live-reply publications; start-up and the first publication once):\n",
        mainThread.size());
    line("shell live-reply publication, main thread", median(mainThread), 10);
    line("shell live-reply publication, until receiveState ran", median(untilReceived), 30);
    line("shell first complete publication, until receiveState ran", firstComplete * 1000, 1500);
    std::printf(
        "  of which the main thread (%.0f MB of JSON): %.1f ms, encoding and handing the parts to WebKit %.1f ms\n",
        firstCompleteBytes / 1e6, firstCompleteMain * 1000, firstCompleteEncode * 1000);
    if (shown)
        line("shell start-up to the stored conversation", startup * 1000, 2000);
    else
        std::printf("shell start-up to the stored conversation: the page never showed it MISSED\n");
    // The same program with an empty vault, now that this launch's measurements are done.
    SettledMemory empty = emptyVaultMemory(folder);
    const std::size_t emptyApp = empty.app, emptyPage = empty.page;
    ratioLine("shell memory after start-up, application process", memory.app, plaintext, 2.5);
    vaultShareLine("application process", memory.app, emptyApp, plaintext);
    ratioLine("shell memory after start-up, page web process", memory.page, plaintext, 4.0);
    vaultShareLine("page web process", memory.page, emptyPage, plaintext);
    std::printf("  (start-up settled %.1f s after the conversation was shown)\n", memory.settledAfter);

    shell.willTerminate();
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && std::string(argv[1]) == "--launch")
        return launch(false);
    if (argc > 1 && std::string(argv[1]) == "--empty-vault")
        return launch(true);
    return prepare(argv);
}
