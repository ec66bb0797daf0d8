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
    std::function<void()> onChange;
    std::shared_ptr<const std::string> adapterScript;
    bool loading = false;
    std::string error;
    bool shutDown = false;

    // A load still running after 60 s is stopped and reported as unreachable.
    Scheduler::Timer loadTimeout;
    bool loadTimedOut = false;
    double loadTimeoutSeconds = 60;

    // Cancelled by shutdown(): adapter calls still pending end instead of waiting forever.
    GObjectPtr<GCancellable> lifetime = GObjectPtr<GCancellable>::adopt(g_cancellable_new());
    TaskScope tasks;  // detached "reveal" actions

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
