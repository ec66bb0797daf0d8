#pragma once

// The application object: an AdwApplication with the id "local.vemir.quorvane" whose delegate
// is an AppDelegate. The first activation starts the system; a later one (the launcher again, a
// second start, which GApplication hands to the running instance) shows the main window. The
// last window closing never quits: only Quit does. SIGINT and SIGTERM quit the way Quit does,
// saving the page's draft first.

#include <memory>

#include <adwaita.h>

#include "quorvane/async/Lifetime.hpp"
#include "quorvane/holders/GObjectPtr.hpp"
#include "quorvane/shell/ShellOptions.hpp"

namespace quorvane {

class AppDelegate;

class Application {
public:
    static constexpr const char* kApplicationID = "local.vemir.quorvane";

    explicit Application(ShellOptions options = defaultOptions());
    ~Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    // Runs the application to its end; the process's exit status.
    int run(int argc, char** argv);

    GtkApplication* gtkApplication() const { return GTK_APPLICATION(application_.get()); }
    // The delegate, once the application has started; null before.
    AppDelegate* delegate() const { return delegate_.get(); }

private:
    static void onStartup(GApplication*, gpointer data);
    static void onActivate(GApplication*, gpointer data);
    static void onShutdown(GApplication*, gpointer data);

    ShellOptions options_;
    GObjectPtr<AdwApplication> application_;
    std::unique_ptr<AppDelegate> delegate_;
    int status_ = 0;
    Lifetime lifetime_;
};

}  // namespace quorvane
