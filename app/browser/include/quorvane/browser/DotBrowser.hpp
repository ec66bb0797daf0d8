#pragma once

// DotBrowser hosts the Dot page of one account in its own web view and "Your Dot" window, and
// is the application's only way to read or drive that page: it loads the conversation, runs the
// page adapter (dot-adapter.js, in an isolated script world) for snapshots and page actions,
// reports page changes through onChange, and keeps the sign-in windows the page opens.
//
// Lifetimes: the browser's state lives behind a shared pointer; every GLib signal handler, timer
// and the "dotChanged" message handler hold it weakly, so neither WebKit nor GTK keeps a browser
// alive or calls into a dead one. shutdown() (run by the destructor too) disconnects everything,
// loads about:blank into the page (its scripts, streams and timers stop with the document, even
// while a pending call still holds the web view) and lets go of every window the page opened,
// shown or not. Adapter calls still pending then end with GLibError G_IO_ERROR_CANCELLED, resumed
// from the main loop (an idle callback), never inside shutdown() or the destructor: the caller
// (a controller replacing its transport) must not run again while it is in the middle of that.
//
// Deadlines: every adapter call ends by its deadline (AdapterDeadlines, on the injected
// scheduler). A page action that misses it fails with AppFailure "We’re checking whether your
// message was sent." (the outcome is unknown: never NotSubmitted); a snapshot that misses it with
// "The Dot page didn’t answer in time.". The page is then probed with a trivial script; when that
// is not answered either, the page's main thread is stuck, and its web process is ended
// (webkit_web_view_terminate_web_process), so error() becomes "The Dot window stopped. Reconnect
// to continue." and the run loop reconnects. Calls into a page whose web process has ended fail
// with that sentence too, until the page is opened again.
//
// Snapshots: the adapter sends what changed since the snapshot the browser holds; inspect()
// always returns the whole DotSnapshot (SnapshotAssembler). A reason for a page that is not
// ready is logged (g_message) whenever it changes. A page that has not changed is not asked
// again: inspect() returns the snapshot it last read when, since that read began, the page sent
// no change signal, nothing was loaded, no action ran and no call failed, and that read began
// less than kUnchangedPageReread seconds ago (the signal follows every change to the document;
// the re-read catches what changes without one, such as a field's value set by script). An
// idle connection therefore calls into the page every 2 s instead of twice a second.
//
// Everything runs on the main thread; GTK must be initialised first.

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include <webkit/webkit.h>

#include "quorvane/async/Scheduler.hpp"
#include "quorvane/transport/DotTransport.hpp"

namespace quorvane {

// Seconds each adapter action may take. The adapter's own waits fit inside with room to spare:
// "send" waits up to 2 s for its control and 10 s for its turn, "prepare" about 2 s at most.
struct AdapterDeadlines {
    double inspect = 10;
    double prepare = 15;
    double send = 30;
    double clearDraft = 10;
    double reveal = 10;
    // The trivial script that tells a slow page from a stuck one. Generous: a long conversation
    // keeps a page's main thread busy for many seconds after it loads on a loaded machine, and
    // ending a page that was only slow costs the user a reload.
    double probe = 30;
};

class DotBrowser final : public DotTransport {
public:
    static constexpr const char* kWorld = "local.quorvane.adapter";
    static constexpr const char* kCouldNotReach = "Couldn’t reach Dot. Check your connection and try again.";
    static constexpr const char* kWindowStopped = "The Dot window stopped. Reconnect to continue.";
    static constexpr const char* kNotAnswering = "The Dot page didn’t answer in time.";
    static constexpr AdapterDeadlines kDeadlines {};
    static constexpr double kLoadTimeoutSeconds = 60;  // a load still running then is unreachable
    static constexpr double kUnchangedPageReread = 2;  // seconds; see "Snapshots" above

    // `profile` is the account's browserProfile; `dataDirectory` the share/quorvane folder that
    // holds dot-adapter.js; `dataStore` a network session to use instead of the profile's own;
    // `scheduler` times deadlines and the load time-out, and must outlive the browser.
    DotBrowser(std::string_view profile, std::filesystem::path dataDirectory, WebKitNetworkSession* dataStore = nullptr,
        Scheduler& scheduler = GLibScheduler::shared());
    ~DotBrowser() override;
    DotBrowser(const DotBrowser&) = delete;
    DotBrowser& operator=(const DotBrowser&) = delete;

    bool loading() const override;
    const std::string& error() const override;
    void setOnChange(std::function<void()> onChange) override;

    void open(std::string_view url) override;
    void show() override;
    void showMessage(std::string id, std::string url) override;
    void shutdown() override;

    Task<DotSnapshot> inspect() override;
    Task<void> prepare(std::string text, std::string url) override;
    Task<void> send(std::string text, std::string url) override;
    Task<void> clearDraft(std::string text, std::string url) override;

    bool windowVisible() const override;
    void hideWindow() override;

    // The adapter action "reveal" on its own, as showMessage() runs it (without its outcome).
    Task<void> reveal(std::string id, std::string url);

    // For the application shell and tests.
    WebKitWebView* webView() const;
    GtkWindow* window() const;
    std::size_t popupCount() const;
    GtkWindow* popupWindow(std::size_t index) const;
    const std::string& profileIdentifier() const;

    struct State;

private:
    std::shared_ptr<State> state_;
};

}  // namespace quorvane
