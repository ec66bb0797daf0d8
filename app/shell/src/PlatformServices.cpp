#include "quorvane/shell/PlatformServices.hpp"

#include <string>

#include "quorvane/browser/DotBrowser.hpp"
#include "quorvane/holders/GObjectPtr.hpp"

namespace quorvane {

namespace {

class InhibitHold final : public PowerActivity::Hold {
public:
    InhibitHold(GtkApplication* application, guint cookie, std::shared_ptr<int> count)
        : application_(GObjectPtr<GtkApplication>::retain(application))
        , cookie_(cookie)
        , count_(std::move(count))
    {
        ++*count_;
    }
    ~InhibitHold() override
    {
        if (cookie_)
            gtk_application_uninhibit(application_.get(), cookie_);
        --*count_;
    }

private:
    GObjectPtr<GtkApplication> application_;
    guint cookie_;
    std::shared_ptr<int> count_;
};

}  // namespace

GtkPowerActivity::GtkPowerActivity(GtkApplication* application)
    : application_(application)
{
}

std::unique_ptr<PowerActivity::Hold> GtkPowerActivity::hold(std::string_view reason)
{
    // Without a window the inhibitor applies to the whole session, which is what is meant.
    guint cookie = gtk_application_inhibit(application_, nullptr,
        GtkApplicationInhibitFlags(GTK_APPLICATION_INHIBIT_IDLE | GTK_APPLICATION_INHIBIT_SUSPEND),
        std::string(reason).c_str());
    return std::make_unique<InhibitHold>(application_, cookie, count_);
}

void DisplayPasteboard::putPlainText(std::string_view text)
{
    GdkDisplay* display = gdk_display_get_default();
    if (!display)
        return;
    std::string owned(text);
    gdk_clipboard_set_text(gdk_display_get_clipboard(display), owned.c_str());
}

BrowserTransportFactory::BrowserTransportFactory(std::filesystem::path dataDirectory)
    : dataDirectory_(std::move(dataDirectory))
{
}

std::unique_ptr<DotTransport> BrowserTransportFactory::make(std::string_view browserProfile)
{
    return std::make_unique<DotBrowser>(browserProfile, dataDirectory_);
}

}  // namespace quorvane
