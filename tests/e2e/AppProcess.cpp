#include "AppProcess.hpp"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>

extern char** environ;

namespace quorvane::testing {

namespace {

constexpr const char* kBusName = "local.vemir.quorvane.TestDriver";
constexpr const char* kObjectPath = "/local/vemir/quorvane/TestDriver";
constexpr const char* kInterface = "local.vemir.quorvane.TestDriver";

double now() { return double(g_get_monotonic_time()) / G_USEC_PER_SEC; }

// The processes that carry `marker` in their environment: the program's WebKit helpers, which
// outlive it by a moment and are not its children to reap.
std::vector<pid_t> processesMarked(const std::string& marker)
{
    std::vector<pid_t> found;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::ifstream in(entry.path() / "environ", std::ios::binary);
        std::string variable;
        while (std::getline(in, variable, '\0')) {
            if (variable == marker) {
                found.push_back(pid_t(std::stol(name)));
                break;
            }
        }
    }
    return found;
}

std::string fileText(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
}

// User and system time that `pid` has spent, in clock ticks (0 once it is gone).
long long cpuTicks(pid_t pid)
{
    const std::string stat = fileText("/proc/" + std::to_string(pid) + "/stat");
    const auto end = stat.rfind(')');
    if (end == std::string::npos)
        return 0;
    std::istringstream fields(stat.substr(end + 2));
    std::string field;
    long long utime = 0, stime = 0;
    // After the command come state (3) ... utime (14) and stime (15).
    for (int index = 3; index <= 15 && fields >> field; ++index) {
        if (index == 14)
            utime = std::stoll(field);
        else if (index == 15)
            stime = std::stoll(field);
    }
    return utime + stime;
}

}  // namespace

AppProcess::AppProcess(std::filesystem::path program, std::filesystem::path folder, std::filesystem::path dotService)
    : program_(std::move(program))
    , folder_(std::move(folder))
    , dotService_(std::move(dotService))
{
    GError* error = nullptr;
    bus_ = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    if (!bus_) {
        std::string message = error->message;
        g_error_free(error);
        throw std::runtime_error("No session bus: " + message);
    }
    for (const char* sub : { "data", "cache", "config" })
        std::filesystem::create_directories(folder_ / sub);
}

AppProcess::~AppProcess()
{
    if (pid_ > 0) {
        try {
            quit(30);
        } catch (...) {
            // quit() killed it already.
        }
    }
    if (bus_)
        g_object_unref(bus_);
}

void AppProcess::start(double seconds)
{
    if (pid_ > 0)
        throw std::runtime_error("Quorvane is running already.");
    std::vector<std::string> environment;
    for (char** entry = environ; *entry; ++entry) {
        std::string_view text(*entry);
        auto name = text.substr(0, text.find('='));
        if (name != "XDG_DATA_HOME" && name != "XDG_CACHE_HOME" && name != "XDG_CONFIG_HOME"
            && name != "QUORVANE_DOT_SERVICE" && name != "GSETTINGS_BACKEND")
            environment.emplace_back(text);
    }
    environment.push_back("XDG_DATA_HOME=" + (folder_ / "data").string());
    environment.push_back("XDG_CACHE_HOME=" + (folder_ / "cache").string());
    environment.push_back("XDG_CONFIG_HOME=" + (folder_ / "config").string());
    environment.push_back("QUORVANE_DOT_SERVICE=" + dotService_.string());
    environment.push_back("QUORVANE_SEPARATE_INSTANCE=1");
    environment.push_back("QUORVANE_TEST_DRIVER=1");
    // Settings in a file under the config home, so that they survive a restart like the rest.
    environment.push_back("GSETTINGS_BACKEND=keyfile");
    std::vector<char*> envp;
    for (auto& entry : environment)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::string path = program_.string();
    char* argv[] = { path.data(), nullptr };

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    std::string log = (folder_ / "quorvane.log").string();
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    // An ignored signal stays ignored in the program (see limitFileSize()); this process never
    // writes past a limit of its own.
    ::signal(SIGXFSZ, SIG_IGN);
    int failed = posix_spawn(&pid_, path.c_str(), &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (failed) {
        pid_ = 0;
        throw std::runtime_error("Quorvane could not start: " + std::string(g_strerror(failed)));
    }

    double deadline = now() + seconds;
    for (;;) {
        if (exited())
            throw std::runtime_error("Quorvane ended while starting; it said:\n" + logTail());
        try {
            auto state = status();
            if (state.at("ready").as_bool() && state.at("pid").to_number<std::int64_t>() == pid_)
                return;
        } catch (const std::runtime_error&) {
            // The driver is not on the bus yet.
        }
        if (now() > deadline) {
            kill();
            throw std::runtime_error("Quorvane's page was not ready in time; it said:\n" + logTail());
        }
        g_usleep(100000);
    }
}

void AppProcess::quit(double seconds)
{
    if (pid_ <= 0)
        return;
    // The driver's Quit is the menu's Quit; SIGTERM does the same when the driver is not up.
    try {
        GVariant* result = call("Quit", nullptr, nullptr, 10000);
        g_variant_unref(result);
    } catch (const std::runtime_error&) {
        ::kill(pid_, SIGTERM);
    }
    double deadline = now() + seconds;
    while (!exited()) {
        if (now() > deadline) {
            kill();
            throw std::runtime_error("Quorvane did not end after Quit; it said:\n" + logTail());
        }
        g_usleep(50000);
    }
}

void AppProcess::kill()
{
    if (pid_ <= 0)
        return;
    ::kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = 0;
    awaitHelpers();
}

bool AppProcess::exited()
{
    if (pid_ <= 0)
        return true;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = 0;
        awaitHelpers();
        return true;
    }
    return false;
}

void AppProcess::awaitHelpers()
{
    const std::string marker = "QUORVANE_DOT_SERVICE=" + dotService_.string();
    double deadline = now() + 30;
    for (auto helpers = processesMarked(marker); !helpers.empty(); helpers = processesMarked(marker)) {
        if (now() > deadline) {
            for (pid_t helper : helpers)
                ::kill(helper, SIGKILL);
            return;
        }
        g_usleep(100000);
    }
}

GVariant* AppProcess::call(const char* method, GVariant* parameters, const GVariantType* reply, int timeoutMs)
{
    GError* error = nullptr;
    GVariant* result = g_dbus_connection_call_sync(bus_, kBusName, kObjectPath, kInterface, method, parameters, reply,
        G_DBUS_CALL_FLAGS_NO_AUTO_START, timeoutMs, nullptr, &error);
    if (!result) {
        g_dbus_error_strip_remote_error(error);
        std::string message = error->message;
        g_error_free(error);
        throw std::runtime_error(std::string(method) + ": " + message);
    }
    return result;
}

boost::json::value AppProcess::run(const std::string& body, const std::string& argument)
{
    GVariant* result = call("Run", g_variant_new("(ss)", body.c_str(), argument.c_str()), G_VARIANT_TYPE("(s)"));
    const char* json = nullptr;
    g_variant_get(result, "(&s)", &json);
    auto value = boost::json::parse(json);
    g_variant_unref(result);
    return value;
}

boost::json::value AppProcess::runInWindow(
    const std::string& title, const std::string& body, const std::string& argument)
{
    GVariant* result = call(
        "RunInWindow", g_variant_new("(sss)", title.c_str(), body.c_str(), argument.c_str()), G_VARIANT_TYPE("(s)"));
    const char* json = nullptr;
    g_variant_get(result, "(&s)", &json);
    auto value = boost::json::parse(json);
    g_variant_unref(result);
    return value;
}

void AppProcess::killDotWebProcess()
{
    std::vector<pid_t> webProcesses;
    for (pid_t helper : processesMarked("QUORVANE_DOT_SERVICE=" + dotService_.string())) {
        if (fileText("/proc/" + std::to_string(helper) + "/cmdline").find("WebKitWebProcess") != std::string::npos)
            webProcesses.push_back(helper);
    }
    if (webProcesses.empty())
        throw std::runtime_error("Quorvane has no web process.");
    // Four seconds of a busy script in the Dot page, started after the call has returned; the CPU
    // time is taken over most of them. The Dot page's process must have spent clearly the most,
    // twice as much as any other: on a loaded machine the interface page can be busy at the same
    // time, and killing it instead would end the test's own way into the program.
    for (int attempt = 0; attempt < 5; ++attempt) {
        std::vector<long long> before;
        for (pid_t process : webProcesses)
            before.push_back(cpuTicks(process));
        runInWindow("Your Dot",
            "setTimeout(() => { const end = Date.now() + 4000; while (Date.now() < end) {} }, 0); return true;");
        g_usleep(3000000);
        std::size_t busiest = 0;
        long long most = -1, next = 0;
        for (std::size_t i = 0; i < webProcesses.size(); ++i) {
            const long long spent = cpuTicks(webProcesses[i]) - before[i];
            if (spent > most) {
                next = std::max(next, most);
                most = spent;
                busiest = i;
            } else {
                next = std::max(next, spent);
            }
        }
        if (most > 2 * next) {
            ::kill(webProcesses[busiest], SIGKILL);
            return;
        }
        g_usleep(1500000);  // let the busy spell end before measuring again
    }
    throw std::runtime_error("The Dot page's web process could not be told apart from the interface page's.");
}

void AppProcess::limitFileSize(rlim_t bytes)
{
    if (pid_ <= 0)
        throw std::runtime_error("Quorvane is not running.");
    // Only the soft limit moves, so that lifting it again needs no privilege.
    rlimit limit {};
    if (prlimit(pid_, RLIMIT_FSIZE, nullptr, &limit) == 0) {
        limit.rlim_cur = std::min(bytes, limit.rlim_max);
        if (prlimit(pid_, RLIMIT_FSIZE, &limit, nullptr) == 0)
            return;
    }
    throw std::runtime_error("The file size limit could not be set: " + std::string(g_strerror(errno)));
}

boost::json::value AppProcess::replies()
{
    GVariant* result = call("Replies", nullptr, G_VARIANT_TYPE("(s)"));
    const char* json = nullptr;
    g_variant_get(result, "(&s)", &json);
    auto value = boost::json::parse(json);
    g_variant_unref(result);
    return value;
}

boost::json::value AppProcess::status()
{
    GVariant* result = call("Status", nullptr, G_VARIANT_TYPE("(s)"), 5000);
    const char* json = nullptr;
    g_variant_get(result, "(&s)", &json);
    auto value = boost::json::parse(json);
    g_variant_unref(result);
    return value;
}

std::string AppProcess::post(const std::string& command, const boost::json::object& data)
{
    std::string id = "e2e-" + std::to_string(++posted_);
    boost::json::object message { { "id", id }, { "command", command }, { "data", data } };
    run("window.postMessage({ quorvane: JSON.parse(argument) }, '*'); return true;", boost::json::serialize(message));
    return id;
}

boost::json::value AppProcess::answer(const std::string& id, double seconds)
{
    double deadline = now() + seconds;
    for (;;) {
        const auto all = replies();
        for (const auto& reply : all.as_array()) {
            if (reply.at("id") == boost::json::value(id))
                return reply.at("error");
        }
        if (now() > deadline)
            throw std::runtime_error("No answer to " + id);
        g_usleep(50000);
    }
}

void AppProcess::screenshot(const std::filesystem::path& file)
{
    std::filesystem::create_directories(file.parent_path());
    GVariant* result = call("Screenshot", g_variant_new("(s)", file.c_str()), nullptr);
    g_variant_unref(result);
}

std::string AppProcess::logTail() const
{
    std::ifstream in(folder_ / "quorvane.log");
    std::stringstream all;
    all << in.rdbuf();
    std::string text = all.str();
    return text.size() > 4000 ? "…" + text.substr(text.size() - 4000) : text;
}

}  // namespace quorvane::testing
