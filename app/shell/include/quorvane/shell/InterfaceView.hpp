#pragma once

// The web view that shows the interface page, hardened because the page shows text and HTML
// that came from the Dot service:
//   - its own ephemeral network session, shared with no Dot profile, and downloads refused;
//   - a default Content-Security-Policy (no remote content, script-src 'self', no eval, no
//     inline handlers, connect-src 'none', Trusted Types required);
//   - every permission request denied, no new windows, developer extras in debug builds only;
//   - navigation only to the bundle's index.html; a link click to http or https is handed to
//     the user's browser (openURI) and never navigates the view; the context menu offers
//     nothing that would open, download or navigate;
//   - a transparent background, so the window's sidebar backing shows through the page.
// The user scripts (the native-material flag and the state transport in the page's world; the
// bridge's relay in the shell's world, added by InterfaceBridge) go to the top frame only.
//
// Signal handlers hold the view's state weakly. Main thread only; GTK must be initialised.

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include <webkit/webkit.h>

namespace quorvane {

// The policy the interface page is written for.
inline constexpr const char* kInterfaceContentSecurityPolicy
    = "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self' data:; font-src 'self'; "
      "connect-src 'none'; base-uri 'none'; form-action 'none'; frame-src 'none'; object-src 'none'; "
      "require-trusted-types-for 'script'; trusted-types quorvane dompurify";

struct InterfaceViewOptions {
    std::filesystem::path indexFile;  // the bundle's UI/index.html
    std::string contentSecurityPolicy = kInterfaceContentSecurityPolicy;
    bool developerExtras = false;
    // Gives the state transport a place to keep what the page received, for the TestDriver.
    bool testDriver = false;
    std::function<void(const std::string& uri)> openURI;  // a link to the user's browser
    // The page asked for a file (<input type=file>); the handler answers the request.
    std::function<void(WebKitFileChooserRequest*)> chooseFile;
    std::function<void(WebKitLoadEvent)> onLoadChanged;
    std::function<void()> onWebProcessTerminated;
};

class InterfaceView {
public:
    explicit InterfaceView(InterfaceViewOptions options);
    ~InterfaceView();
    InterfaceView(const InterfaceView&) = delete;
    InterfaceView& operator=(const InterfaceView&) = delete;

    WebKitWebView* webView() const;
    WebKitUserContentManager* contentManager() const;
    const std::filesystem::path& indexFile() const;

    // Loads index.html.
    void load();

    struct State;

private:
    std::shared_ptr<State> state_;
};

}  // namespace quorvane
