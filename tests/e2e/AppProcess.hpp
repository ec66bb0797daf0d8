#pragma once

// The real `quorvane` program as a separate process, driven through its TestDriver
// (QUORVANE_TEST_DRIVER=1, see app/shell/include/quorvane/shell/TestDriver.hpp) on the session
// bus that the test runs in. Each start gets the same data folders (XDG data, cache and config
// homes under `folder`), so a restart finds what the last run saved; its output goes to
// `folder`/quorvane.log. The process is stopped (and reaped) when the object goes away, and
// every stop waits for its WebKit helper processes to end as well.

#include <filesystem>
#include <string>

#include <boost/json/object.hpp>
#include <boost/json/value.hpp>
#include <gio/gio.h>
#include <sys/resource.h>
#include <sys/types.h>

namespace quorvane::testing {

class AppProcess {
public:
    AppProcess(std::filesystem::path program, std::filesystem::path folder, std::filesystem::path dotService);
    ~AppProcess();
    AppProcess(const AppProcess&) = delete;
    AppProcess& operator=(const AppProcess&) = delete;

    // Starts the program and waits until its interface page is ready; throws with the log's
    // tail when it ends or does not get there within `seconds`.
    void start(double seconds = 120);
    // Quits it as the user does (Quit Quorvane) and waits for the process to end; throws if it
    // has not ended after `seconds` (it is then killed).
    void quit(double seconds = 60);
    // Kills it at once, without the chance to save anything.
    void kill();
    bool running() const { return pid_ > 0; }

    // Runs `body` as an async function in the page's own world; `argument` is its one
    // (string) argument. The result as JSON.
    boost::json::value run(const std::string& body, const std::string& argument = "");
    // The same in the main world of the web page in the window titled `title` ("Your Dot", or
    // "Sign in to Dot"), where the user would click.
    boost::json::value runInWindow(const std::string& title, const std::string& body, const std::string& argument = "");
    // Kills the web process of the Dot page (SIGKILL), as a crash would end it. It is told
    // from the interface page's by keeping the Dot page's script busy for a moment and taking
    // the web process that spends that time.
    void killDotWebProcess();
    // Sets the running program's file size limit (RLIMIT_FSIZE; RLIM_INFINITY lifts it): a write
    // past it fails with EFBIG, as one fails on a full disk. The program is started with
    // SIGXFSZ ignored, so such a write fails instead of ending it. Its helper processes keep
    // their own limits.
    void limitFileSize(rlim_t bytes);
    // The driver's Replies and Status, parsed.
    boost::json::value replies();
    boost::json::value status();
    // Posts `command` with `data` as the page does (a window message); answers its id.
    std::string post(const std::string& command, const boost::json::object& data = {});
    // Waits for the shell's answer to the command `id`: null, or the sentence it failed with.
    boost::json::value answer(const std::string& id, double seconds = 60);
    void screenshot(const std::filesystem::path& file);

    // The last lines of the program's output, for failure messages.
    std::string logTail() const;
    const std::filesystem::path& folder() const { return folder_; }

private:
    GVariant* call(const char* method, GVariant* parameters, const GVariantType* reply, int timeoutMs = 60000);
    bool exited();
    // Waits (at most 30 s, then kills them) until the program's WebKit helper processes,
    // known by this program's environment, have ended too.
    void awaitHelpers();

    std::filesystem::path program_;
    std::filesystem::path folder_;
    std::filesystem::path dotService_;
    pid_t pid_ = 0;
    GDBusConnection* bus_ = nullptr;
    int posted_ = 0;
};

}  // namespace quorvane::testing
