#include "quorvane/updates/AppcastUpdateDriver.hpp"

#include <cmath>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

#include <gio/gio.h>
#include <libsoup/soup.h>

#include "quorvane/holders/GLibHolders.hpp"
#include "quorvane/holders/GObjectPtr.hpp"
#include "quorvane/updates/Appcast.hpp"

namespace quorvane {
namespace {

constexpr guint defaultCheckInterval = 24 * 60 * 60;
constexpr guint shortestCheckInterval = 60 * 60;
// A feed that stops answering ends the check as an error instead of keeping it open.
constexpr guint fetchTimeoutSeconds = 60;
// Feeds are a few kilobytes; anything past this is not one.
constexpr gsize largestFeed = 1024 * 1024;

UpdateError driverError(int code, std::string message)
{
    return UpdateError { UpdateError::domainName, code, std::move(message) };
}

class AppcastController final : public UpdaterController, public Updater {
public:
    AppcastController(const AppBundle& bundle, AppcastUpdateDriverOptions options,
        std::weak_ptr<UpdaterDelegate> updaterDelegate, std::weak_ptr<UserDriverDelegate> userDriverDelegate)
        : options_(std::move(options))
        , feedURL_(bundle.string("SUFeedURL").value_or(""))
        , installedVersion_(bundle.string("CFBundleShortVersionString").value_or(""))
        , updaterDelegate_(std::move(updaterDelegate))
        , userDriverDelegate_(std::move(userDriverDelegate))
    {
        if (bundle.infoDictionary) {
            if (const auto* enabled = bundle.infoDictionary->if_contains("SUEnableAutomaticChecks");
                enabled && enabled->is_bool())
                automaticallyChecks_.set(enabled->get_bool());
            if (const auto* interval = bundle.infoDictionary->if_contains("SUScheduledCheckInterval");
                interval && interval->is_number()) {
                boost::json::error_code error;
                double seconds = interval->to_number<double>(error);
                if (!error && std::isfinite(seconds))
                    checkInterval_ = seconds < shortestCheckInterval ? shortestCheckInterval
                        : seconds > 365.0 * 24 * 60 * 60             ? 365u * 24 * 60 * 60
                                                                     : static_cast<guint>(seconds);
            }
        }
    }

    ~AppcastController() override
    {
        // Callbacks that are still queued, or still running further up the stack (they hold
        // the token while they call in here), find it empty and do nothing more.
        *alive_ = nullptr;
        alive_.reset();
        if (cancellable_)
            g_cancellable_cancel(cancellable_.get());
    }

    std::optional<UpdateError> startUpdater() override
    {
        if (started_)
            return std::nullopt;
        GUri* parsed = g_uri_parse(feedURL_.c_str(), G_URI_FLAGS_NONE, nullptr);
        if (!parsed)
            return driverError(
                UpdateError::invalidFeedURLError, "The update feed address “" + feedURL_ + "” cannot be read.");
        const char* host = g_uri_get_host(parsed);
        bool usable = feedURL_.starts_with("https:") && host && *host && !g_uri_get_userinfo(parsed);
        g_uri_unref(parsed);
        if (!usable)
            return driverError(UpdateError::invalidFeedURLError,
                "The update feed address “" + feedURL_ + "” is not a plain https address.");

        std::string userAgent = "Quorvane/" + (installedVersion_.empty() ? std::string("0") : installedVersion_);
        auto session = GObjectPtr<SoupSession>::adopt(soup_session_new_with_options("timeout", fetchTimeoutSeconds,
            "idle-timeout", fetchTimeoutSeconds, "user-agent", userAgent.c_str(), nullptr));
        if (options_.trustedCertificates) {
            GErrorHolder error;
            auto database = GObjectPtr<GTlsDatabase>::adopt(
                g_tls_file_database_new(options_.trustedCertificates->c_str(), error.out()));
            if (!database)
                return driverError(UpdateError::appcastError,
                    "The trusted certificates for the update feed cannot be loaded: "
                        + std::string(error ? error.get()->message : "unknown error"));
            soup_session_set_tls_database(session.get(), database.get());
        }
        session_ = std::move(session);
        started_ = true;
        if (automaticallyChecks_.get()) {
            scheduleChecks();
            launchCheck_ = schedule(g_idle_source_new());
        }
        canCheck_.set(true);
        return std::nullopt;
    }

    void checkForUpdates() override { runCheck(true); }
    Updater& updater() override { return *this; }

    bool canCheckForUpdates() const override { return canCheck_.get(); }
    bool automaticallyChecksForUpdates() const override { return automaticallyChecks_.get(); }
    void setAutomaticallyChecksForUpdates(bool enabled) override
    {
        if (enabled == automaticallyChecks_.get())
            return;
        if (started_) {
            if (enabled)
                scheduleChecks();
            else {
                timer_.reset();
                launchCheck_.reset();
            }
        }
        automaticallyChecks_.set(enabled);
    }
    Observation observeCanCheckForUpdates(std::function<void(bool)> observer) override
    {
        return canCheck_.observe(std::move(observer));
    }
    Observation observeAutomaticallyChecksForUpdates(std::function<void(bool)> observer) override
    {
        return automaticallyChecks_.observe(std::move(observer));
    }

private:
    using Token = std::weak_ptr<AppcastController*>;
    static bool gone(const Token& token)
    {
        auto anchor = token.lock();
        return !anchor || !*anchor;
    }
    using Outcome = std::variant<UpdateItem, UpdateError>;

    struct PendingFetch {
        Token token;
        GObjectPtr<SoupMessage> message;
        GObjectPtr<GOutputStream> feed;
    };

    void scheduleChecks() { timer_ = schedule(g_timeout_source_new_seconds(checkInterval_), true); }

    // Attaches a background-check source that holds this controller weakly.
    GSourceHolder schedule(GSource* source, bool repeating = false)
    {
        struct Scheduled {
            Token token;
            bool repeating;
        };
        g_source_set_callback(
            source,
            [](gpointer data) -> gboolean {
                auto* scheduled = static_cast<Scheduled*>(data);
                bool repeat = scheduled->repeating;
                if (auto alive = scheduled->token.lock(); alive && *alive)
                    (*alive)->runCheck(false);
                return repeat ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
            },
            new Scheduled { alive_, repeating }, [](gpointer data) { delete static_cast<Scheduled*>(data); });
        g_source_attach(source, g_main_context_get_thread_default());
        return GSourceHolder(source);
    }

    void runCheck(bool userInitiated)
    {
        if (!started_ || checking_)
            return;
        auto message = GObjectPtr<SoupMessage>::adopt(soup_message_new("GET", feedURL_.c_str()));
        if (!message) {
            deliver(driverError(UpdateError::invalidFeedURLError, "The update feed address cannot be requested."),
                userInitiated);
            return;
        }
        soup_message_headers_replace(soup_message_get_request_headers(message.get()), "Accept",
            "application/rss+xml, application/xml;q=0.9, text/xml;q=0.9, */*;q=0.1");
        checking_ = true;
        checkIsUserInitiated_ = userInitiated;
        cancellable_ = GObjectPtr<GCancellable>::adopt(g_cancellable_new());
        SoupMessage* request = message.get();
        auto* pending = new PendingFetch { alive_, std::move(message), {} };
        soup_session_send_async(session_.get(), request, G_PRIORITY_DEFAULT, cancellable_.get(), sent, pending);
        canCheck_.set(false);
    }

    // The answer's headers are in: refuse what is not a feed from https, else read the body into
    // a buffer of fixed size, so that an endless answer ends the check instead of filling memory.
    static void sent(GObject* source, GAsyncResult* result, gpointer data)
    {
        std::unique_ptr<PendingFetch> pending(static_cast<PendingFetch*>(data));
        GErrorHolder error;
        auto body
            = GObjectPtr<GInputStream>::adopt(soup_session_send_finish(SOUP_SESSION(source), result, error.out()));
        AppcastController* self = alive(pending->token);
        if (!self)
            return;
        SoupMessage* message = pending->message.get();
        if (!body)
            return self->finishFetch(driverError(UpdateError::appcastError,
                std::string("The update feed could not be fetched: ") + error.get()->message));
        guint status = soup_message_get_status(message);
        if (status < 200 || status > 299)
            return self->finishFetch(driverError(UpdateError::appcastError,
                "The update feed answered with HTTP status " + std::to_string(status) + "."));
        // Redirects are followed, but the feed must still come over https.
        if (std::string_view(g_uri_get_scheme(soup_message_get_uri(message))) != "https")
            return self->finishFetch(driverError(
                UpdateError::appcastError, "The update feed was redirected to an address that is not https."));

        pending->feed = GObjectPtr<GOutputStream>::adopt(
            g_memory_output_stream_new(g_malloc(largestFeed), largestFeed, nullptr, g_free));
        GOutputStream* feed = pending->feed.get();
        g_output_stream_splice_async(feed, body.get(),
            GOutputStreamSpliceFlags(G_OUTPUT_STREAM_SPLICE_CLOSE_SOURCE | G_OUTPUT_STREAM_SPLICE_CLOSE_TARGET),
            G_PRIORITY_DEFAULT, self->cancellable_.get(), read, pending.release());
    }

    static void read(GObject* source, GAsyncResult* result, gpointer data)
    {
        std::unique_ptr<PendingFetch> pending(static_cast<PendingFetch*>(data));
        GErrorHolder error;
        gssize size = g_output_stream_splice_finish(G_OUTPUT_STREAM(source), result, error.out());
        AppcastController* self = alive(pending->token);
        if (!self)
            return;
        if (size < 0 && g_error_matches(error.get(), G_IO_ERROR, G_IO_ERROR_NO_SPACE))
            return self->finishFetch(driverError(UpdateError::appcastError, "The update feed is larger than 1 MB."));
        if (size < 0)
            return self->finishFetch(driverError(
                UpdateError::appcastError, std::string("The update feed could not be read: ") + error.get()->message));
        auto* memory = G_MEMORY_OUTPUT_STREAM(source);
        std::string_view text(static_cast<const char*>(g_memory_output_stream_get_data(memory)),
            g_memory_output_stream_get_data_size(memory));
        self->finishFetch(self->outcomeOfFeed(text));
    }

    static AppcastController* alive(const Token& token)
    {
        auto anchor = token.lock();
        return anchor ? *anchor : nullptr;
    }

    Outcome outcomeOfFeed(std::string_view text) const
    {
        try {
            std::vector<AppcastItem> items = parseAppcast(text);
            if (auto update = newestUpdate(items, installedVersion_))
                return *update;
            return driverError(UpdateError::noUpdateError, "The installed version is the newest.");
        } catch (const AppcastParseError& parseError) {
            return driverError(UpdateError::appcastParseError, parseError.what());
        }
    }

    void finishFetch(Outcome outcome)
    {
        checking_ = false;
        cancellable_.reset();
        bool userInitiated = checkIsUserInitiated_;
        Token token = alive_;
        canCheck_.set(true);
        if (gone(token))
            return;  // an observer dropped this controller
        deliver(std::move(outcome), userInitiated);
    }

    // Tells the delegates; each of them may drop this controller, so nothing of it is used after
    // a call unless the token shows it still exists.
    void deliver(Outcome outcome, bool userInitiated)
    {
        Token token = alive_;
        UpdateCheck check = userInitiated ? UpdateCheck::updates : UpdateCheck::updatesInBackground;
        if (auto* update = std::get_if<UpdateItem>(&outcome)) {
            auto userDriver = userDriverDelegate_.lock();
            if (!userDriver)
                return;
            bool handleShowing = userInitiated || !userDriver->supportsGentleScheduledUpdateReminders()
                || userDriver->shouldHandleShowingScheduledUpdate(*update, false);
            if (gone(token))
                return;
            showingUpdate_ = true;
            userDriver->willHandleShowingUpdate(handleShowing, *update, UserUpdateState { userInitiated });
            return;
        }
        if (showingUpdate_) {
            showingUpdate_ = false;
            if (auto userDriver = userDriverDelegate_.lock())
                userDriver->willFinishUpdateSession();
            if (gone(token))
                return;
        }
        if (auto updater = updaterDelegate_.lock())
            updater->didFinishUpdateCycle(check, std::get<UpdateError>(outcome));
    }

    AppcastUpdateDriverOptions options_;
    std::string feedURL_;
    std::string installedVersion_;
    std::weak_ptr<UpdaterDelegate> updaterDelegate_;
    std::weak_ptr<UserDriverDelegate> userDriverDelegate_;
    guint checkInterval_ = defaultCheckInterval;
    ObservableBool canCheck_ { false };
    ObservableBool automaticallyChecks_ { false };
    bool started_ = false;
    bool checking_ = false;
    bool checkIsUserInitiated_ = false;
    bool showingUpdate_ = false;
    GObjectPtr<SoupSession> session_;
    GObjectPtr<GCancellable> cancellable_;
    GSourceHolder timer_;
    GSourceHolder launchCheck_;
    // The weak token every callback holds; it goes first when the controller is destroyed.
    std::shared_ptr<AppcastController*> alive_ = std::make_shared<AppcastController*>(this);
};

}  // namespace

AppcastUpdateDriver::AppcastUpdateDriver(AppcastUpdateDriverOptions options)
    : options_(std::move(options))
{
}

std::unique_ptr<UpdaterController> AppcastUpdateDriver::makeController(const AppBundle& bundle,
    std::weak_ptr<UpdaterDelegate> updaterDelegate, std::weak_ptr<UserDriverDelegate> userDriverDelegate)
{
    return std::make_unique<AppcastController>(
        bundle, options_, std::move(updaterDelegate), std::move(userDriverDelegate));
}

}  // namespace quorvane
