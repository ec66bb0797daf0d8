#pragma once

// A remote control of the running application for end-to-end tests and the headless demo.
//
// OFF BY DEFAULT, and it must stay so in every real run: it lets any process on the user's
// session bus run scripts in the interface page. Only QUORVANE_TEST_DRIVER=1 in the program's
// environment turns it on (ShellOptions::testDriver); the end-to-end tests and
// `scripts/run --screenshot` run the program that way inside a private session bus.
//
// It owns the bus name "local.vemir.quorvane.TestDriver" and serves, at /local/vemir/quorvane/
// TestDriver, the interface "local.vemir.quorvane.TestDriver":
//   Run(s body, s argument) -> (s json)   runs `body` as an async function in the interface
//        page's own world, with the string `argument` as its only argument, and answers the
//        result as JSON ("null" for undefined). A harness posts commands the way the page does
//        (window.postMessage({quorvane: {id, command, data}}, "*")), reads the page's document,
//        and reads window.quorvaneTestDriver.state: the ClientState exactly as the page's
//        receiveState got it last (kept by the state transport when the driver is on).
//   RunInWindow(s title, s body, s argument) -> (s json)   the same in the main world of the
//        web page of the first window titled `title`: the Dot window ("Your Dot") or a sign-in
//        window ("Sign in to Dot"), where a harness clicks as the user would there.
//   Replies() -> (s json)   the shell's answers to the page's commands, oldest first, as
//        [{"id", "error"}] (error null or the sentence); the newest kReplyLimit.
//   Status() -> (s json)    {"ready", "pid", "alert", "windows"}: whether the page is ready,
//        the process id, the heading of the alert that is up (null when none), and the
//        application's windows as [{"title", "visible", "main"}] (the Dot window among them).
//   Screenshot(s file)      writes the main window, as GTK draws it, as a PNG.
//   Quit()                  quits as Quit Quorvane does (the draft is flushed first).
// A failing call answers a D-Bus error whose message is the reason.

#include <deque>
#include <memory>
#include <optional>
#include <string>

#include <gio/gio.h>
#include <webkit/webkit.h>

#include "quorvane/async/Lifetime.hpp"

namespace quorvane {

class AppDelegate;

class TestDriver {
public:
    static constexpr const char* kBusName = "local.vemir.quorvane.TestDriver";
    static constexpr const char* kObjectPath = "/local/vemir/quorvane/TestDriver";
    static constexpr const char* kInterface = "local.vemir.quorvane.TestDriver";
    static constexpr std::size_t kReplyLimit = 1000;

    explicit TestDriver(AppDelegate& delegate);
    ~TestDriver();
    TestDriver(const TestDriver&) = delete;
    TestDriver& operator=(const TestDriver&) = delete;

    // The shell answered the page's command `id`.
    void replied(const std::string& id, const std::optional<std::string>& error);

private:
    static void onMethodCall(GDBusConnection*, const gchar* sender, const gchar* path, const gchar* interface,
        const gchar* method, GVariant* parameters, GDBusMethodInvocation* invocation, gpointer data);
    static void onBusAcquired(GDBusConnection* connection, const gchar* name, gpointer data);
    static void run(WebKitWebView* view, const char* body, const char* argument, GDBusMethodInvocation* invocation);
    void screenshot(const char* file, GDBusMethodInvocation* invocation);
    std::string status() const;

    struct Reply {
        std::string id;
        std::optional<std::string> error;
    };

    AppDelegate& delegate_;
    std::deque<Reply> replies_;
    guint ownerID_ = 0;
    GDBusConnection* connection_ = nullptr;  // while registered; owned by GIO
    guint registrationID_ = 0;
    Lifetime lifetime_;
};

}  // namespace quorvane
