#include "Simulator.hpp"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>

#include <boost/json/parse.hpp>
#include <libsoup/soup.h>

#include "quorvane/browser/SnapshotAssembler.hpp"
#include "quorvane/holders/GObjectPtr.hpp"

namespace quorvane::testing {

namespace {

std::string readLine(int fd, int timeoutMs)
{
    std::string line;
    for (;;) {
        pollfd p { fd, POLLIN, 0 };
        if (poll(&p, 1, timeoutMs) <= 0)
            throw std::runtime_error("The Dot simulator did not report READY in time; so far: " + line);
        char c;
        ssize_t n = read(fd, &c, 1);
        if (n <= 0)
            throw std::runtime_error("The Dot simulator ended before it was ready; it said: " + line);
        if (c == '\n')
            return line;
        line += c;
    }
}

}  // namespace

Simulator::Simulator(const std::filesystem::path& folder, std::vector<std::string> options)
    : folder_(folder)
    , options_(std::move(options))
{
    std::filesystem::create_directories(folder / "state");
    configFile = folder / "dot-service.json";
    spawn("0");
}

void Simulator::restart()
{
    stop();
    spawn(origin.substr(origin.rfind(':') + 1));
}

void Simulator::spawn(const std::string& port)
{
    std::vector<std::string> args = { QUORVANE_NODE, QUORVANE_SIM_SERVER, "--port", port, "--state-dir",
        (folder_ / "state").string(), "--write-config", configFile.string(), "--quiet", "--exit-with-stdin" };
    args.insert(args.end(), options_.begin(), options_.end());
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    int stdoutFd = -1;
    GError* error = nullptr;
    if (!g_spawn_async_with_pipes(nullptr, argv.data(), nullptr, G_SPAWN_DO_NOT_REAP_CHILD, nullptr, nullptr, &pid_,
            &stdinFd_, &stdoutFd, nullptr, &error)) {
        std::string message = error->message;
        g_clear_error(&error);
        throw std::runtime_error("The Dot simulator could not start: " + message);
    }
    try {
        std::string ready = readLine(stdoutFd, 30000);
        close(stdoutFd);
        if (ready.rfind("READY ", 0) != 0)
            throw std::runtime_error("Unexpected first line from the Dot simulator: " + ready);
        auto rest = ready.substr(6);
        origin = rest.substr(0, rest.find(' '));
    } catch (...) {
        close(stdoutFd);
        stop();
        throw;
    }
}

Simulator::~Simulator() { stop(); }

void Simulator::stop()
{
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        int status = 0;
        for (int i = 0; i < 100 && waitpid(pid_, &status, WNOHANG) == 0; ++i)
            g_usleep(50000);
        if (waitpid(pid_, &status, WNOHANG) == 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
        }
        g_spawn_close_pid(pid_);
        pid_ = 0;
    }
    if (stdinFd_ >= 0) {
        close(stdinFd_);
        stdinFd_ = -1;
    }
}

boost::json::value Simulator::control(const std::string& name, const std::string& body)
{
    return request("POST", "/__control/" + name, body);
}

boost::json::value Simulator::controlGet(const std::string& name) { return request("GET", "/__control/" + name, ""); }

boost::json::value Simulator::request(const char* method, const std::string& path, const std::string& body)
{
    auto session = GObjectPtr<SoupSession>::adopt(soup_session_new());
    auto message = GObjectPtr<SoupMessage>::adopt(soup_message_new(method, (origin + path).c_str()));
    // The simulator's certificate is its own; only this test client accepts it blindly.
    g_signal_connect(message.get(), "accept-certificate",
        G_CALLBACK(+[](SoupMessage*, GTlsCertificate*, GTlsCertificateFlags, gpointer) -> gboolean { return TRUE; }),
        nullptr);
    if (std::string_view(method) == "POST") {
        GBytes* bytes = g_bytes_new(body.data(), body.size());
        soup_message_set_request_body_from_bytes(message.get(), "application/json", bytes);
        g_bytes_unref(bytes);
    }
    GError* error = nullptr;
    GBytes* response = soup_session_send_and_read(session.get(), message.get(), nullptr, &error);
    if (!response) {
        std::string text = error->message;
        g_clear_error(&error);
        throw std::runtime_error("Control call " + path + " failed: " + text);
    }
    gsize size = 0;
    auto* data = static_cast<const char*>(g_bytes_get_data(response, &size));
    std::string text(data ? data : "", size);
    g_bytes_unref(response);
    if (soup_message_get_status(message.get()) != SOUP_STATUS_OK)
        throw std::runtime_error("Control call " + path + " answered "
            + std::to_string(soup_message_get_status(message.get())) + ": " + text);
    // The simulator's answers may hold lone surrogates on purpose (as JSON escapes).
    return boost::json::parse(wellFormedJSON(text));
}

}  // namespace quorvane::testing
