#pragma once

// What the application shell is built from. The program fills it from its installation
// (defaultOptions()); tests point it at their own page, store and browser stand-ins.

#include <filesystem>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "quorvane/VaultStorage.hpp"
#include "quorvane/updates/UpdateDriver.hpp"

namespace quorvane {

struct DesktopNotification;

struct ShellOptions {
    // The installed data folder, share/quorvane: UI/, dot-adapter.js, Info.json,
    // dot-service.json. Its sibling glib-2.0/schemas holds the compiled settings schema when the
    // system's schema folders do not.
    std::filesystem::path dataDirectory;
    // The interface page's folder; empty means dataDirectory / "UI".
    std::filesystem::path resourceRoot;
    // The page's default Content-Security-Policy; empty means kInterfaceContentSecurityPolicy.
    std::string contentSecurityPolicy;
    // Opens an http or https address in the user's browser; empty means the desktop's default
    // handler (gtk_show_uri).
    std::function<void(const std::string& uri)> openURI;
    // Opens the vault store; empty means the default store (the keyring and the data home).
    std::function<std::unique_ptr<VaultStorage>()> openStore;
    // The update driver; empty means the appcast driver.
    std::shared_ptr<UpdateDriver> updateDriver;
    // Shows a desktop notification; empty means the desktop's notification service through
    // GApplication. Tests record them instead: a headless session has no notification daemon.
    std::function<void(const DesktopNotification&)> sendNotification;
    // Run as an instance of its own instead of handing a second start to the running one (the
    // demo runs beside a real installation this way).
    bool separateInstance = false;
    // Serve the TestDriver on the session bus. Off by default and never on in a real run: it
    // lets any process on the session bus run scripts in the interface page.
    bool testDriver = false;
    // How large a part of a complete state publication grows before the next one starts
    // (StateTransport). Tests make it small, so that short histories go in several parts too.
    std::size_t publicationPartBytes = std::size_t(4) << 20;
};

// The installation's own options: the data folder is <prefix>/share/quorvane beside the
// program's <prefix>/bin (a build tree has the same layout), unless QUORVANE_DATA_DIR names
// another; QUORVANE_SEPARATE_INSTANCE=1 asks for a separate instance.
ShellOptions defaultOptions();

}  // namespace quorvane
