#pragma once

// The platform effects the controller declares, made real for the desktop:
//   - GtkPowerActivity: a hold is a gtk_application_inhibit cookie that keeps the session from
//     idling and suspending ("Waiting for your Dot reply"), released when the hold is dropped;
//   - DisplayPasteboard: the display's clipboard, plain text;
//   - BrowserTransportFactory: a DotBrowser for an account's browser profile, reading the page
//     adapter from the data folder.
// All of them live as long as the controller that uses them (the AppDelegate owns both).

#include <filesystem>

#include <gtk/gtk.h>

#include "quorvane/controller/Pasteboard.hpp"
#include "quorvane/controller/PowerActivity.hpp"
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

}  // namespace quorvane
