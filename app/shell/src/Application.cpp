#include "quorvane/shell/Application.hpp"

#include <glib-unix.h>

#include "quorvane/DotService.hpp"
#include "quorvane/shell/AppDelegate.hpp"
#include "quorvane/shell/WeakOwner.hpp"

namespace quorvane {

Application::Application(ShellOptions options)
    : options_(std::move(options))
    , application_(GObjectPtr<AdwApplication>::adopt(adw_application_new(
          kApplicationID, options_.separateInstance ? G_APPLICATION_NON_UNIQUE : G_APPLICATION_DEFAULT_FLAGS)))
{
    connectWeakOwner(application_.get(), "startup", G_CALLBACK(&Application::onStartup), lifetime_, this);
    connectWeakOwner(application_.get(), "activate", G_CALLBACK(&Application::onActivate), lifetime_, this);
    connectWeakOwner(application_.get(), "shutdown", G_CALLBACK(&Application::onShutdown), lifetime_, this);
}

Application::~Application()
{
    lifetime_.end();
    delegate_.reset();
}

void Application::onStartup(GApplication* application, gpointer data)
{
    auto* self = WeakOwner<Application>::from(data);
    if (!self)
        return;
    // The Dot service's hosts are read once, before anything can reach the service; a file that
    // cannot be used stops the start with the reason.
    try {
        DotService::install(DotService::load(DotService::configurationFile(self->options_.dataDirectory)));
    } catch (const std::exception& error) {
        g_printerr("Quorvane cannot start: %s\n", error.what());
        self->status_ = 1;
        g_application_quit(application);
        return;
    }
    self->delegate_ = std::make_unique<AppDelegate>(GTK_APPLICATION(application), self->options_);
    // Holding keeps the application running while its window is hidden; Quit releases it.
    g_application_hold(application);
    auto signal = +[](gpointer data) -> gboolean {
        if (auto* self = static_cast<WeakOwner<Application>*>(data)->get(); self && self->delegate_)
            self->delegate_->requestQuit();
        return G_SOURCE_CONTINUE;
    };
    auto destroy = +[](gpointer data) { delete static_cast<WeakOwner<Application>*>(data); };
    g_unix_signal_add_full(
        G_PRIORITY_DEFAULT, SIGINT, signal, new WeakOwner<Application> { self->lifetime_.token(), self }, destroy);
    g_unix_signal_add_full(
        G_PRIORITY_DEFAULT, SIGTERM, signal, new WeakOwner<Application> { self->lifetime_.token(), self }, destroy);
}

void Application::onActivate(GApplication*, gpointer data)
{
    auto* self = WeakOwner<Application>::from(data);
    if (!self || !self->delegate_)
        return;
    if (self->delegate_->mainWindow())
        self->delegate_->reopen();
    else
        self->delegate_->launchFinished();
}

void Application::onShutdown(GApplication*, gpointer data)
{
    auto* self = WeakOwner<Application>::from(data);
    if (self && self->delegate_)
        self->delegate_->willTerminate();
}

int Application::run(int argc, char** argv)
{
    int status = g_application_run(G_APPLICATION(application_.get()), argc, argv);
    return status_ ? status_ : status;
}

}  // namespace quorvane
