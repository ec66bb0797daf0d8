#pragma once

// The platform effects the controller declares, made real for the desktop:
//   - GtkPowerActivity: a hold is a gtk_application_inhibit cookie that keeps the session from
//     idling and suspending ("Waiting for your Dot reply"), released when the hold is dropped;
//   - DisplayPasteboard: the display's clipboard, plain text;
//   - BrowserTransportFactory: a DotBrowser for an account's browser profile, reading the page
//     adapter from the data folder;
//   - DesktopFileSaver: the save dialog (GtkFileChooserNative in save mode), and the bytes
//     written where the user chose, atomically and without blocking the window;
//   - DesktopReplyNotifier: a desktop notification for each filed reply while the window is not
//     the one the user works in and the setting allows it.
// All of them live as long as the controller that uses them (the AppDelegate owns both).

#include <filesystem>
#include <functional>
#include <string>

#include <gtk/gtk.h>

#include "quorvane/controller/FileSaver.hpp"
#include "quorvane/controller/Pasteboard.hpp"
#include "quorvane/controller/PowerActivity.hpp"
#include "quorvane/controller/ReplyNotifier.hpp"
#include "quorvane/controller/TransportFactory.hpp"

namespace quorvane {

class GtkPowerActivity final : public PowerActivity {
public:
    explicit GtkPowerActivity(GtkApplication* application);
    std::unique_ptr<Hold> hold(std::string_view reason) override;

    // Inhibit cookies currently held (for tests and diagnostics).
    int holding() const { return *count_; }

private:
    GtkApplication* application_;  // the application outlives every controller it hosts
    std::shared_ptr<int> count_ = std::make_shared<int>(0);
};

class DisplayPasteboard final : public Pasteboard {
public:
    void putPlainText(std::string_view text) override;
};

class BrowserTransportFactory final : public TransportFactory {
public:
    explicit BrowserTransportFactory(std::filesystem::path dataDirectory);
    std::unique_ptr<DotTransport> make(std::string_view browserProfile) override;

private:
    std::filesystem::path dataDirectory_;
};

// GTK 4.8 has no GtkFileDialog; GtkFileChooserNative is the dialog that goes through the desktop
// portal where there is one and falls back to GTK's own chooser where there is not. In save
// mode GTK 4 always asks before replacing an existing file (the GTK 3 switch for it is gone).
// The offer's notice is a choice of the chooser, which both the portal and GTK's own chooser show
// beside the file name, so the user reads it where the file is chosen, whichever dialog opens.
// The bytes go through g_file_replace_contents_bytes_async: GIO writes them to a temporary file
// beside the target on its worker thread and renames it over the target, so the window never
// waits on the disk and a failed write leaves an existing file as it was. The outcome arrives on
// the main loop; a failure is one sentence that names the file and the system's reason.
class DesktopFileSaver final : public FileSaver {
public:
    // `parent` gives the window the dialog belongs to (may give null).
    explicit DesktopFileSaver(std::function<GtkWindow*()> parent);
    void offer(FileOffer offer, std::function<void(FileOfferOutcome)> done) override;

    // The sentence for a write that failed with `reason`.
    static std::string failureSentence(const std::string& fileName, const std::string& reason);

private:
    std::function<GtkWindow*()> parent_;
};

// What one notification shows and where activating it leads.
struct DesktopNotification {
    std::string id;  // replaces an earlier notification with the same id
    std::string title;
    std::string body;
    std::string accountID;  // the default action's target: this account's conversation with…
    std::string botID;  // …this bot
};

// The action a notification activates, with the target ("accountID", "botID").
inline constexpr const char* kShowConversationAction = "app.show-conversation";

// Sends `notification` through GApplication (the desktop's notification service).
void sendDesktopNotification(GApplication* application, const DesktopNotification& notification);

class DesktopReplyNotifier final : public ReplyNotifier {
public:
    struct Hooks {
        std::function<bool()> windowActive;  // the user is working in Quorvane's window
        std::function<bool()> enabled;  // the user's setting, read at every reply
        std::function<void(const DesktopNotification&)> send;
    };
    explicit DesktopReplyNotifier(Hooks hooks);
    void replyFiled(const ReplyNotice& notice) override;

private:
    Hooks hooks_;
};

}  // namespace quorvane
