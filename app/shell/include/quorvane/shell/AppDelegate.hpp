#pragma once

// The application delegate: starts the system, owns the main window and the interface page,
// carries messages between the page and the Controller, publishes state and update state, keeps
// the icon and the window's appearance in line with the state, runs the menus and quitting.
//
// Start-up (launchFinished), in order: the page's web view with the bridge, its load started;
// the vault's storage opening on a worker thread; the main window, in the theme of the last run;
// the menus; the updater (its state goes to the page and to "Check for Updates…"); the
// desktop's appearance. Once the storage is open, on the main thread: the Controller (its store,
// vault and Dot page transport), publication of its state, its run loop, and the page commands
// that arrived meanwhile, in order. A long history takes most of a second to open, and WebKit
// starts its processes in the same time.
//
// Page commands (InterfaceBridge has checked the frame and the shape): "ready", "checkUpdates",
// "automaticUpdates" and "replyNotifications" with a boolean "enabled", and "windowModal" are
// answered here; every other command goes to Controller::perform, and its error's sentence goes
// back as window.nativeResult(id, error). Each accepted message gets exactly one reply, unless
// the document that sent it is gone by then. The settings the shell keeps for the page go to it
// as window.receiveDesktopSettings({ replyNotifications }) when it is ready and on every change.
//
// State goes to the page only while `ready` (the page said "ready" or finished loading; a new
// load clears it), through the incremental StateTransport; a refused or failed publication makes
// the next one complete. When the vault opens before the page is ready, its state is encoded
// ahead, so that the page's first publication only hands the parts over. Quitting asks the page to flush its draft first and, when that fails,
// asks the user.
//
// Everything runs on the main thread but the opening of the vault's storage (StorageOpening),
// which touches nothing but the store it opens and hands its result over through the main
// loop before any controller exists. GLib callbacks, page calls and the controller's and
// updater's callbacks hold the delegate through a weak token.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <adwaita.h>
#include <gtk/gtk.h>
#include <webkit/webkit.h>

#include "quorvane/async/Lifetime.hpp"
#include "quorvane/async/Scheduler.hpp"
#include "quorvane/controller/ClientState.hpp"
#include "quorvane/controller/Controller.hpp"
#include "quorvane/shell/AppIconPublisher.hpp"
#include "quorvane/shell/DesktopAppearance.hpp"
#include "quorvane/shell/InterfaceBridge.hpp"
#include "quorvane/shell/InterfaceView.hpp"
#include "quorvane/shell/MainWindow.hpp"
#include "quorvane/shell/PageCall.hpp"
#include "quorvane/shell/PlatformServices.hpp"
#include "quorvane/shell/ShellOptions.hpp"
#include "quorvane/shell/ShellSettings.hpp"
#include "quorvane/shell/StateTransport.hpp"
#include "quorvane/shell/StorageOpening.hpp"
#include "quorvane/shell/TestDriver.hpp"
#include "quorvane/updates/AppUpdater.hpp"

namespace quorvane {

class AvatarFetcher;

class AppDelegate {
public:
    // The sentences of the alert shown when the page could not save its draft before quitting.
    static constexpr const char* kDraftAlertHeading = "Your latest draft couldn’t be saved.";
    static constexpr const char* kDraftAlertBody
        = "Keep Quorvane open to try again, or quit without saving the latest changes.";
    static constexpr const char* kKeepOpen = "Keep open";
    static constexpr const char* kQuitAnyway = "Quit anyway";
    // A page that has not answered flushDraft after this long counts as having failed.
    static constexpr double kFlushDraftTimeout = 10;

    AppDelegate(GtkApplication* application, ShellOptions options);
    ~AppDelegate();
    AppDelegate(const AppDelegate&) = delete;
    AppDelegate& operator=(const AppDelegate&) = delete;

    // Application callbacks.
    void launchFinished();
    void reopen();  // the launcher or a second start: show the main window
    void requestQuit();  // Quit Quorvane, Ctrl+Q, a termination signal
    void willTerminate();

    // Menu actions.
    void checkUpdates();
    void showSettings();
    void openDot();
    // A notification's action: the window comes forward with `botID`'s conversation of account
    // `accountID` (switching to that account first when it is another one and may be left now).
    void showConversation(const std::string& accountID, const std::string& botID);

    void publish(const ClientState& state);
    void publishUpdate(const AppUpdateState& update);

    // How one state publication went, for the benchmark: the main thread's share (icon,
    // appearance, encoding and handing the text to WebKit) and the time until the page's
    // receiveState had run.
    struct PublicationTiming {
        std::uint64_t sequence = 0;
        bool complete = false;
        std::size_t bytes = 0;
        double encodeSeconds = 0;  // the transport's encoding, with the hand-over of each part to WebKit
        double mainThreadSeconds = 0;
        double untilReceivedSeconds = 0;
    };
    std::function<void(const PublicationTiming&)> onPublished;

    // For tests and the benchmark.
    Controller* controller() const { return controller_.get(); }
    MainWindow* mainWindow() const { return window_.get(); }
    WebKitWebView* webView() const { return view_ ? view_->webView() : nullptr; }
    AppUpdater& appUpdater() { return appUpdater_; }
    const AppIconPublisher& appIcon() const { return icon_; }
    bool ready() const { return ready_; }
    bool checkUpdatesEnabled() const;
    GtkWindow* alert() const { return alert_ ? GTK_WINDOW(alert_) : nullptr; }
    const std::filesystem::path& indexFile() const { return indexFile_; }
    const ShellSettings& settings() const { return settings_; }
    ReplyNotifier& replyNotifier() { return notifier_; }
    FileSaver& fileSaver() { return files_; }
    // Page commands handed to the Controller so far.
    std::size_t commandsDispatched() const { return commandsDispatched_; }

private:
    void onPageMessage(PageMessage message);
    void reply(const std::string& id, const std::optional<std::string>& error, std::uint64_t document);
    void onLoadChanged(WebKitLoadEvent event);
    void onWebProcessTerminated();
    void pageReady();
    void sendSnapshot();
    void storageOpened(OpenedStorage storage);
    void applyAppearance(const ClientState& state);
    void applyTheme(Theme theme, bool systemDark);
    void send(const ClientState& state, double started);
    void partAnswered(PageCallResult result, const PublicationTiming& timing, double started, bool last);
    void sendUpdate(const AppUpdateState& update);
    void sendDesktopSettings();
    void chooseFile(WebKitFileChooserRequest* request);
    void flushDraftFinished(bool saved);
    void showDraftAlert();
    void terminate();
    void installActions();
    void showAbout();

    GtkApplication* application_;
    ShellOptions options_;
    std::filesystem::path resourceRoot_;
    std::filesystem::path indexFile_;
    ShellSettings settings_;

    // The platform services the Controller uses; declared before it, so they outlive it.
    GtkPowerActivity power_;
    DisplayPasteboard pasteboard_;
    BrowserTransportFactory transports_;
    DesktopFileSaver files_;
    DesktopReplyNotifier notifier_;
    std::unique_ptr<AvatarFetcher> avatars_;

    std::unique_ptr<InterfaceView> view_;
    std::unique_ptr<InterfaceBridge> bridge_;
    std::unique_ptr<MainWindow> window_;
    std::unique_ptr<Controller> controller_;
    std::unique_ptr<StorageOpening> storageOpening_;  // until the controller is made
    std::vector<PageMessage> waitingCommands_;  // page commands that came before the controller
    DesktopAppearance appearance_;
    bool ready_ = false;
    AppIconPublisher icon_;
    AppUpdater appUpdater_;
    GSimpleAction* updateMenuItem_ = nullptr;  // owned by the application's action map

    StateTransport transport_;
    std::uint64_t lastSent_ = 0;  // sequence of the newest publication sent
    std::uint64_t document_ = 0;  // counts page loads, so late replies never reach a new document
    std::optional<ClientState> latest_;  // the newest published state, sent whole after a refusal
    double lastCrashReload_ = -1e9;

    std::size_t commandsDispatched_ = 0;
    bool launched_ = false;
    bool quitting_ = false;  // flushDraft is running or the alert is up
    bool terminated_ = false;
    bool flushPending_ = false;  // flushDraft asked, neither answered nor timed out
    Scheduler::Timer flushTimeout_;
    GtkWidget* alert_ = nullptr;
    std::unique_ptr<TestDriver> driver_;  // only with ShellOptions::testDriver

    Lifetime lifetime_;  // last but one: callbacks stop reaching the delegate first thing
};

}  // namespace quorvane
