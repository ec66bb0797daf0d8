#pragma once

// The inside of a DotBrowser, shared by its source files. Signal handlers receive a heap-held
// weak_ptr<State> as user data (see connectWeak), never the state itself.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <webkit/webkit.h>

#include "quorvane/async/Async.hpp"
#include "quorvane/browser/BrowserProfile.hpp"
#include "quorvane/browser/DotBrowser.hpp"
#include "quorvane/browser/SnapshotAssembler.hpp"

namespace quorvane {

struct DotBrowser::State : std::enable_shared_from_this<State> {
    struct Popup {
        GObjectPtr<GtkWindow> window;
        GObjectPtr<WebKitWebView> webView;
    };

    std::filesystem::path dataDirectory;
    BrowserProfile profile;
    GObjectPtr<WebKitNetworkSession> session;
    GObjectPtr<WebKitUserContentManager> contentManager;
    GObjectPtr<WebKitWebView> webView;
    GObjectPtr<GtkWindow> window;
    std::vector<Popup> popups;
    // Windows the page asked for that WebKit has not shown yet; ours until then.
    std::vector<GObjectPtr<WebKitWebView>> unshownPopups;
    std::function<void()> onChange;
    std::shared_ptr<const std::string> adapterScript;
    bool loading = false;
    std::string error;
    bool shutDown = false;
    Scheduler* scheduler = nullptr;

    SnapshotAssembler snapshots;
    std::string lastReason;  // the last snapshot's reason, logged when it changes
    // The last snapshot read from the page, when it began, and whether anything may have changed
    // since then (a change signal, a load, a page action, a failure). See inspect().
    std::optional<DotSnapshot> held;
    double heldAt = 0;
    bool quiet = false;
    bool probing = false;  // a probe of a page that missed a deadline is under way

    // A load still running after 60 s is stopped and reported as unreachable.
    Scheduler::Timer loadTimeout;
    bool loadTimedOut = false;

    // Cancelled after shutdown(), from the main loop: adapter calls still pending end instead of
    // waiting forever.
    GObjectPtr<GCancellable> lifetime = GObjectPtr<GCancellable>::adopt(g_cancellable_new());
    TaskScope tasks;  // detached "reveal" actions and probes

    struct Connection {
        gpointer instance;
        gulong id;
    };
    std::vector<Connection> connections;  // of the long-lived objects, undone by shutdown()

    // Connects `callback` with a weak reference to this state as its user data.
    gulong connectWeak(gpointer instance, const char* signal, GCallback callback);
    // The same, remembered so that shutdown() disconnects it.
    void connectTracked(gpointer instance, const char* signal, GCallback callback);

    std::shared_ptr<const std::string> loadAdapter();
    void setUpWindow();
    void watchPopup(WebKitWebView* popup);
    void hideWindow();
};

std::shared_ptr<DotBrowser::State> lockState(gpointer data);

// Signal handlers shared between the source files.
void connectPageHandlers(DotBrowser::State& state, WebKitWebView* view);

}  // namespace quorvane
