#pragma once

// DotBrowser hosts the Dot page of one account in its own web view and "Your Dot" window, and
// is the application's only way to read or drive that page: it loads the conversation, runs the
// page adapter (dot-adapter.js, in an isolated script world) for snapshots and page actions,
// reports page changes through onChange, and keeps the sign-in windows the page opens.
//
// Lifetimes: the browser's state lives behind a shared pointer; every GLib signal handler, timer
// and the "dotChanged" message handler hold it weakly, so neither WebKit nor GTK keeps a browser
// alive or calls into a dead one. shutdown() (run by the destructor too) disconnects everything,
// and pending adapter calls end with GLibError G_IO_ERROR_CANCELLED instead of waiting forever.
//
// The "dotChanged" message handler lives in the adapter's world only. WebKitGTK does not tell a
// handler which frame posted, so the adapter puts `mainFrame: window === window.top` into every
// message and the handler drops any message that does not say true. Only scripts of our own
// world can post there at all, so page scripts cannot forge the flag.
//
// Navigation: a load still running after 60 s is stopped and reported like an unreachable page
// (WebKitGTK has no per-request time-out). show() presents the window; GTK 4 leaves its
// placement (centring) to the window manager.
//
// Everything runs on the main thread; GTK must be initialised first.

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include <webkit/webkit.h>

#include "quorvane/transport/DotTransport.hpp"

namespace quorvane {

class DotBrowser final : public DotTransport {
public:
    static constexpr const char* kWorld = "local.quorvane.adapter";
    static constexpr const char* kCouldNotReach = "Couldn’t reach Dot. Check your connection and try again.";
    static constexpr const char* kWindowStopped = "The Dot window stopped. Reconnect to continue.";

    // `profile` is the account's browserProfile; `dataDirectory` the share/quorvane folder that
    // holds dot-adapter.js; `dataStore` a network session to use instead of the profile's own.
    DotBrowser(
        std::string_view profile, std::filesystem::path dataDirectory, WebKitNetworkSession* dataStore = nullptr);
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
    // How long a load may run before it counts as unreachable (60 s unless a test shortens it).
    void setLoadTimeout(double seconds);

    struct State;

private:
    std::shared_ptr<State> state_;
};

}  // namespace quorvane
