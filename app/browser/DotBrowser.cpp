// DotBrowser: construction, navigation state, the adapter calls and shutdown. Windows opened by
// the page and file choosing are in DotBrowserWindows.cpp.

#include <fstream>
#include <sstream>

#include "DotBrowserState.hpp"
#include "quorvane/AppFailure.hpp"
#include "quorvane/DotService.hpp"
#include "quorvane/browser/AdapterResult.hpp"
#include "quorvane/holders/GLibHolders.hpp"

namespace quorvane {

std::shared_ptr<DotBrowser::State> lockState(gpointer data) { return lockWeakData<DotBrowser::State>(data); }

gulong DotBrowser::State::connectWeak(gpointer instance, const char* signal, GCallback callback)
{
    return g_signal_connect_data(
        instance, signal, callback, newWeakData(shared_from_this()), &deleteWeakClosureData<State>, GConnectFlags(0));
}

void DotBrowser::State::connectTracked(gpointer instance, const char* signal, GCallback callback)
{
    connections.push_back({ instance, connectWeak(instance, signal, callback) });
}

namespace {

// WebKit throttles timers and suspends work of pages it thinks nobody sees; the Dot page must
// keep answering while its window is hidden, so those features are switched off.
void keepRunningWhenHidden(WebKitSettings* settings)
{
    static const char* const throttles[]
        = { "HiddenPageDOMTimerThrottling", "HiddenPageDOMTimerThrottlingAutoIncreases", "DOMTimersThrottling",
              "PageVisibilityBasedProcessSuppression", "HiddenPageCSSAnimationSuspension" };
    WebKitFeatureList* features = webkit_settings_get_all_features();
    for (gsize i = 0; i < webkit_feature_list_get_length(features); ++i) {
        WebKitFeature* feature = webkit_feature_list_get(features, i);
        std::string_view id = webkit_feature_get_identifier(feature);
        for (const char* name : throttles) {
            if (id == name)
                webkit_settings_set_feature_enabled(settings, feature, FALSE);
        }
    }
    webkit_feature_list_unref(features);
}

// "host" or "host:port" (or "[v6]:port") to the bare host a certificate is allowed for.
std::string hostOnly(std::string_view host)
{
    if (!host.empty() && host.front() == '[') {
        auto end = host.find(']');
        return std::string(host.substr(1, end == std::string_view::npos ? std::string_view::npos : end - 1));
    }
    auto colon = host.find(':');
    if (colon != std::string_view::npos && host.find(':', colon + 1) == std::string_view::npos)
        return std::string(host.substr(0, colon));
    return std::string(host);
}

void trustConfiguredCertificate(WebKitNetworkSession* session)
{
    const DotService* service = nullptr;
    try {
        service = &DotService::current();
    } catch (const DotServiceError&) {
        return;  // nothing configured yet: the page will load nothing trusted either
    }
    if (!service->trustedCertificate)
        return;
    GErrorHolder error;
    auto certificate = GObjectPtr<GTlsCertificate>::adopt(
        g_tls_certificate_new_from_file(service->trustedCertificate->c_str(), error.out()));
    if (!certificate) {
        g_warning(
            "The Dot certificate %s couldn’t be read: %s", service->trustedCertificate->c_str(), error.get()->message);
        return;
    }
    webkit_network_session_allow_tls_certificate_for_host(
        session, certificate.get(), hostOnly(service->mainHost).c_str());
}

// Whether `uri` is on the Dot service's own origin: https, on its main host and port. The Dot
// view shows nothing else; sign-in elsewhere happens in the windows the page opens.
bool onDotOrigin(const char* uri)
{
    const DotService* service = nullptr;
    try {
        service = &DotService::current();
    } catch (const DotServiceError&) {
        return false;
    }
    if (!uri)
        return false;
    GUri* parsed = g_uri_parse(uri, G_URI_FLAGS_NONE, nullptr);
    if (!parsed)
        return false;
    std::string scheme = g_uri_get_scheme(parsed) ? g_uri_get_scheme(parsed) : "";
    std::string host = g_uri_get_host(parsed) ? g_uri_get_host(parsed) : "";
    const int port = g_uri_get_port(parsed);
    g_uri_unref(parsed);
    if (g_ascii_strcasecmp(scheme.c_str(), "https") != 0 || host.empty())
        return false;
    std::string authority = host.find(':') != std::string::npos ? "[" + host + "]" : host;
    if (port != -1 && port != 443)
        authority += ":" + std::to_string(port);
    std::string_view expected = service->mainHost;
    if (expected.ends_with(":443"))
        expected.remove_suffix(4);
    return authority.size() == expected.size()
        && g_ascii_strncasecmp(authority.c_str(), expected.data(), expected.size()) == 0;
}

// A hostile address in the log stays short.
std::string shortAddress(const char* uri)
{
    std::string text = uri ? uri : "";
    return text.size() > 200 ? text.substr(0, 200) + "…" : text;
}

// The page's own script can send the Dot view anywhere (location, links, refreshes, redirects),
// and the adapter would read whatever it found there as Dot. A main-frame document from outside
// the Dot origin is therefore refused when its answer arrives: WebKit tells frames apart only
// for responses, and a sub-frame may come from anywhere. What never answers (a host that does
// not exist) fails in onLoadFailed, which keeps the Dot page too.
gboolean onDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision, WebKitPolicyDecisionType type, gpointer)
{
    if (type != WEBKIT_POLICY_DECISION_TYPE_RESPONSE)
        return FALSE;
    auto* response = WEBKIT_RESPONSE_POLICY_DECISION(decision);
    if (!webkit_response_policy_decision_is_main_frame_main_resource(response))
        return FALSE;
    const char* uri = webkit_uri_response_get_uri(webkit_response_policy_decision_get_response(response));
    if (onDotOrigin(uri))
        return FALSE;
    g_message("The Dot page tried to leave for %s; it stays on Dot.", shortAddress(uri).c_str());
    webkit_policy_decision_ignore(decision);
    return TRUE;
}

void onLoadChanged(WebKitWebView* view, WebKitLoadEvent event, gpointer data)
{
    auto state = lockState(data);
    if (!state)
        return;
    state->quiet = false;
    // A visit elsewhere is refused before it commits (see onDecidePolicy); meanwhile the Dot
    // page is still there to read.
    if (event == WEBKIT_LOAD_STARTED && !onDotOrigin(webkit_web_view_get_uri(view)))
        return;
    if (event == WEBKIT_LOAD_STARTED) {
        state->loading = true;
        state->error.clear();
    } else if (event == WEBKIT_LOAD_FINISHED) {
        state->loading = false;
        state->loadTimeout.reset();
    }
}

gboolean onLoadFailed(WebKitWebView*, WebKitLoadEvent event, const char* failingURI, GError* error, gpointer data)
{
    auto state = lockState(data);
    if (!state)
        return FALSE;
    state->quiet = false;
    state->loading = false;
    // A visit elsewhere that failed or was refused leaves the Dot page as it was: no error page
    // in its place, and nothing wrong with the way to Dot.
    if (!onDotOrigin(failingURI))
        return TRUE;
    state->loadTimeout.reset();
    bool provisional = event == WEBKIT_LOAD_STARTED || event == WEBKIT_LOAD_REDIRECTED;
    bool cancelled = g_error_matches(error, WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_CANCELLED);
    // A cancelled load stays quiet (another navigation replaced it) unless our own time-out
    // stopped it, which counts as unreachable however far the load had come.
    if (state->loadTimedOut || (provisional && !cancelled))
        state->error = DotBrowser::kCouldNotReach;
    state->loadTimedOut = false;
    return FALSE;
}

void onWebProcessTerminated(WebKitWebView*, WebKitWebProcessTerminationReason, gpointer data)
{
    if (auto state = lockState(data)) {
        state->quiet = false;
        state->loading = false;
        state->loadTimeout.reset();
        state->error = DotBrowser::kWindowStopped;
    }
}

void onDotChanged(WebKitUserContentManager*, JSCValue* message, gpointer data)
{
    auto state = lockState(data);
    if (!state || state->shutDown)
        return;
    if (!message || !jsc_value_is_object(message))
        return;
    auto mainFrame = GObjectPtr<JSCValue>::adopt(jsc_value_object_get_property(message, "mainFrame"));
    if (!mainFrame || !jsc_value_is_boolean(mainFrame.get()) || !jsc_value_to_boolean(mainFrame.get()))
        return;  // a sub-frame, or a message that does not say
    state->quiet = false;
    if (!state->onChange)
        return;
    auto onChange = state->onChange;  // the callback may replace or clear it
    onChange();
}

// A deadline that passed: the outcome of the call is unknown.
class DeadlineMissed : public AppFailure {
public:
    using AppFailure::AppFailure;
};

// Cancels `child` when `parent` is cancelled, for as long as the link lives. (A signal handler,
// not g_cancellable_connect, whose disconnect would wait forever for a callback that is
// running on this very thread.)
class CancelLink {
public:
    CancelLink(GCancellable* parent, GCancellable* child)
        : parent_(GObjectPtr<GCancellable>::retain(parent))
    {
        if (g_cancellable_is_cancelled(parent)) {
            g_cancellable_cancel(child);
            return;
        }
        handler_ = g_signal_connect_data(
            parent, "cancelled", G_CALLBACK(&CancelLink::cancelChild), g_object_ref(child), &release, GConnectFlags(0));
    }
    CancelLink(const CancelLink&) = delete;
    CancelLink& operator=(const CancelLink&) = delete;
    ~CancelLink()
    {
        if (handler_)
            g_signal_handler_disconnect(parent_.get(), handler_);
    }

private:
    static void cancelChild(GCancellable*, gpointer child) { g_cancellable_cancel(G_CANCELLABLE(child)); }
    static void release(gpointer child, GClosure*) { g_object_unref(child); }
    GObjectPtr<GCancellable> parent_;
    gulong handler_ = 0;
};

// One call into the page: a script body run as an async function in the main frame, in our
// world, with its arguments passed as values, never spliced into the source. (Callers build it
// as a named variable: GCC 12 destroys a braced temporary inside a co_await expression twice.)
struct PageCall {
    std::string action;
    std::string text;
    std::string expectedURL;
    std::string since;
    double deadline = 0;
    const char* late = kCheckingWhetherSent;  // the sentence when the deadline passes
    std::shared_ptr<const std::string> body;  // the adapter unless given
};

Task<void> probePage(std::weak_ptr<DotBrowser::State> weak);

Task<GObjectPtr<JSCValue>> evaluate(std::weak_ptr<DotBrowser::State> weak, PageCall call)
{
    GObjectPtr<WebKitWebView> view;
    GObjectPtr<GCancellable> lifetime;
    Scheduler* scheduler = nullptr;
    {
        auto state = weak.lock();
        if (!state || state->shutDown)
            throw AppFailure(kDotStillLoading);
        if (!call.body)
            call.body = state->loadAdapter();
        view = GObjectPtr<WebKitWebView>::retain(state->webView.get());
        lifetime = GObjectPtr<GCancellable>::retain(state->lifetime.get());
        scheduler = state->scheduler;
    }
    // Ended by the deadline or by the browser's end, whichever comes first.
    auto ended = GObjectPtr<GCancellable>::adopt(g_cancellable_new());
    CancelLink link(lifetime.get(), ended.get());
    bool late = false;
    Scheduler::Timer deadline = scheduler->schedule(call.deadline, [&late, cancellable = ended.get()] {
        late = true;
        g_cancellable_cancel(cancellable);
    });
    auto start = [&](GCancellable* cancellable, GAsyncReadyCallback callback, gpointer data) {
        GVariantBuilder arguments;
        g_variant_builder_init(&arguments, G_VARIANT_TYPE("a{sv}"));
        g_variant_builder_add(&arguments, "{sv}", "action", g_variant_new_string(call.action.c_str()));
        g_variant_builder_add(&arguments, "{sv}", "text", g_variant_new_string(call.text.c_str()));
        g_variant_builder_add(&arguments, "{sv}", "expectedURL", g_variant_new_string(call.expectedURL.c_str()));
        g_variant_builder_add(&arguments, "{sv}", "since", g_variant_new_string(call.since.c_str()));
        webkit_web_view_call_async_javascript_function(view.get(), call.body->data(), gssize(call.body->size()),
            g_variant_builder_end(&arguments), DotBrowser::kWorld, "dot-adapter.js", cancellable, callback, data);
    };
    auto finish = [](GObject* source, GAsyncResult* result) {
        GError* error = nullptr;
        auto value = GObjectPtr<JSCValue>::adopt(
            webkit_web_view_call_async_javascript_function_finish(WEBKIT_WEB_VIEW(source), result, &error));
        if (error)
            GLibError::raise(error);
        return value;
    };
    try {
        co_return co_await asyncCall<GObjectPtr<JSCValue>>(start, finish, ended.get());
    } catch (const GLibError& error) {
        const bool cancelled = error.matches(G_IO_ERROR, G_IO_ERROR_CANCELLED);
        // WebKit answers a call into a page without a web process with a script error of its
        // own ("Unsupported result type"); what the caller needs to know is that the page ended.
        if (auto state = weak.lock(); !cancelled && state && state->error == DotBrowser::kWindowStopped)
            throw AppFailure(DotBrowser::kWindowStopped);
        if (!late || !cancelled)
            throw;
    }
    // Nobody can tell what became of the call; whether the page still answers at all is found
    // out apart from the caller.
    if (auto state = weak.lock(); state && !state->shutDown && call.action != "probe")
        state->tasks.spawn(probePage(weak));
    throw DeadlineMissed(call.late);
}

// A page that missed a deadline: one that cannot run a trivial script either is stuck for good
// (a runaway script on its main thread), and only ending its process brings it back.
Task<void> probePage(std::weak_ptr<DotBrowser::State> weak)
{
    double seconds = 0;
    {
        auto state = weak.lock();
        if (!state || state->probing)
            co_return;
        state->probing = true;
        seconds = DotBrowser::kDeadlines.probe;
    }
    static const auto body = std::make_shared<const std::string>("return true;");
    bool stuck = false;
    try {
        PageCall call { "probe", "", "", "", seconds, kCheckingWhetherSent, body };
        co_await evaluate(weak, std::move(call));
    } catch (const DeadlineMissed&) {
        stuck = true;
    } catch (...) {
        // Any answer, even an error, shows the page is alive.
    }
    auto state = weak.lock();
    if (!state)
        co_return;
    state->probing = false;
    if (stuck && !state->shutDown)
        webkit_web_view_terminate_web_process(state->webView.get());
}

Task<DotSnapshot> readSnapshot(std::weak_ptr<DotBrowser::State> weak)
{
    const double deadline = DotBrowser::kDeadlines.inspect;
    for (bool whole = false;; whole = true) {
        std::string since;
        if (auto state = weak.lock()) {
            if (!whole)
                since = state->snapshots.since();
            // A change from here on may not be in what the page answers.
            state->quiet = true;
            state->heldAt = state->scheduler->now();
        }
        PageCall call { "inspect", "", "", since, deadline, DotBrowser::kNotAnswering, nullptr };
        auto value = co_await evaluate(weak, std::move(call));
        auto state = weak.lock();
        if (!state)
            throw AppFailure(kDotStillLoading);
        GCharPtr answer = snapshotAnswer(value.get());
        value.reset();
        try {
            DotSnapshot snapshot = state->snapshots.apply(answer.get());
            if (snapshot.reason != state->lastReason) {
                state->lastReason = snapshot.reason.str();
                if (!state->lastReason.empty())
                    g_message("The Dot page is not ready: %s", state->lastReason.c_str());
            }
            co_return snapshot;
        } catch (const StaleSnapshotBase&) {
            if (whole)
                throw;
        }
    }
}

Task<DotSnapshot> inspectPage(std::weak_ptr<DotBrowser::State> weak)
{
    if (auto state = weak.lock(); state && !state->shutDown && state->quiet && state->held
        && state->scheduler->now() - state->heldAt < DotBrowser::kUnchangedPageReread) {
        co_return *state->held;
    }
    try {
        DotSnapshot snapshot = co_await readSnapshot(weak);
        if (auto state = weak.lock())
            state->held = snapshot;
        co_return snapshot;
    } catch (...) {
        if (auto state = weak.lock()) {
            state->quiet = false;
            state->held.reset();
        }
        throw;
    }
}

double deadlineOf(std::string_view action)
{
    const auto& d = DotBrowser::kDeadlines;
    if (action == "prepare")
        return d.prepare;
    if (action == "send")
        return d.send;
    if (action == "clearDraft")
        return d.clearDraft;
    return d.reveal;
}

// Whatever an action did to the page, the next snapshot reads it.
void pageMayChange(const std::weak_ptr<DotBrowser::State>& weak)
{
    if (auto state = weak.lock())
        state->quiet = false;
}

Task<void> pageAction(std::weak_ptr<DotBrowser::State> state, std::string action, std::string text, std::string url)
{
    double deadline = deadlineOf(action);
    PageCall call { std::move(action), std::move(text), std::move(url), "", deadline, kCheckingWhetherSent, nullptr };
    pageMayChange(state);
    GObjectPtr<JSCValue> value;
    try {
        value = co_await evaluate(state, std::move(call));
    } catch (...) {
        pageMayChange(state);
        throw;
    }
    pageMayChange(state);
    checkAdapterOutcome(value.get());
}

Task<void> revealQuietly(std::weak_ptr<DotBrowser::State> state, std::string id, std::string url)
{
    try {
        co_await pageAction(std::move(state), "reveal", std::move(id), std::move(url));
    } catch (...) {
        // Revealing is a courtesy; its outcome does not matter to anyone.
    }
}

gboolean cancelLifetime(gpointer cancellable)
{
    g_cancellable_cancel(G_CANCELLABLE(cancellable));
    return G_SOURCE_REMOVE;
}

}  // namespace

std::shared_ptr<const std::string> DotBrowser::State::loadAdapter()
{
    if (adapterScript)
        return adapterScript;
    auto file = dataDirectory / "dot-adapter.js";
    std::error_code exists;
    if (!std::filesystem::is_regular_file(file, exists))
        throw AppFailure(kAdapterMissing);
    gchar* contents = nullptr;
    gsize length = 0;
    GError* error = nullptr;
    if (!g_file_get_contents(file.c_str(), &contents, &length, &error))
        GLibError::raise(error);
    GCharPtr owned(contents);
    std::string text(contents, length);
    owned.reset();
    if (!g_utf8_validate(text.data(), gssize(text.size()), nullptr))
        throw GLibError(G_CONVERT_ERROR, G_CONVERT_ERROR_ILLEGAL_SEQUENCE, file.string() + " is not UTF-8 text.");
    adapterScript = std::make_shared<const std::string>(std::move(text));
    return adapterScript;
}

DotBrowser::DotBrowser(std::string_view profile, std::filesystem::path dataDirectory, WebKitNetworkSession* dataStore,
    Scheduler& scheduler)
    : state_(std::make_shared<State>())
{
    auto& s = *state_;
    s.scheduler = &scheduler;
    s.dataDirectory = std::move(dataDirectory);
    s.profile = BrowserProfile::forAccount(profile);
    s.session = dataStore ? GObjectPtr<WebKitNetworkSession>::retain(dataStore) : s.profile.makeSession();
    trustConfiguredCertificate(s.session.get());

    s.contentManager = GObjectPtr<WebKitUserContentManager>::adopt(webkit_user_content_manager_new());
    auto settings = GObjectPtr<WebKitSettings>::adopt(webkit_settings_new());
    keepRunningWhenHidden(settings.get());
    s.webView = GObjectPtr<WebKitWebView>::adopt(
        WEBKIT_WEB_VIEW(g_object_ref_sink(g_object_new(WEBKIT_TYPE_WEB_VIEW, "network-session", s.session.get(),
            "user-content-manager", s.contentManager.get(), "settings", settings.get(), nullptr))));

    webkit_user_content_manager_register_script_message_handler(s.contentManager.get(), "dotChanged", kWorld);
    s.connectTracked(s.contentManager.get(), "script-message-received::dotChanged", G_CALLBACK(onDotChanged));
    s.connectTracked(s.webView.get(), "decide-policy", G_CALLBACK(onDecidePolicy));
    s.connectTracked(s.webView.get(), "load-changed", G_CALLBACK(onLoadChanged));
    s.connectTracked(s.webView.get(), "load-failed", G_CALLBACK(onLoadFailed));
    s.connectTracked(s.webView.get(), "web-process-terminated", G_CALLBACK(onWebProcessTerminated));
    connectPageHandlers(s, s.webView.get());
    s.setUpWindow();
}

DotBrowser::~DotBrowser() { shutdown(); }

bool DotBrowser::loading() const { return state_->loading; }

const std::string& DotBrowser::error() const { return state_->error; }

void DotBrowser::setOnChange(std::function<void()> onChange)
{
    if (!state_->shutDown)
        state_->onChange = std::move(onChange);
}

void DotBrowser::open(std::string_view url)
{
    auto& s = *state_;
    if (s.shutDown)
        return;
    s.error.clear();
    s.quiet = false;
    const auto& service = DotService::current();
    std::string target = validDotURL(url, service) ? std::string(url) : service.homeURL();
    s.loadTimedOut = false;
    webkit_web_view_load_uri(s.webView.get(), target.c_str());
    std::weak_ptr<State> weak = state_;
    // Reset when the load finishes or fails, so when it fires the load is still under way, or
    // has not even been reported as started (on a busy machine): unreachable either way. The
    // stop's own failure, if one is reported, says the same.
    s.loadTimeout = s.scheduler->schedule(kLoadTimeoutSeconds, [weak] {
        if (auto state = weak.lock()) {
            state->loadTimedOut = true;
            state->loading = false;
            state->error = DotBrowser::kCouldNotReach;
            webkit_web_view_stop_loading(state->webView.get());
        }
    });
}

void DotBrowser::show()
{
    auto& s = *state_;
    if (s.shutDown)
        return;
    gtk_accessible_update_state(GTK_ACCESSIBLE(s.webView.get()), GTK_ACCESSIBLE_STATE_HIDDEN, FALSE, -1);
    // GTK 4 leaves placement to the window manager, which centres new windows on its own.
    gtk_window_present(s.window.get());
}

void DotBrowser::showMessage(std::string id, std::string url)
{
    show();
    if (!state_->shutDown)
        state_->tasks.spawn(revealQuietly(state_, std::move(id), std::move(url)));
}

void DotBrowser::shutdown()
{
    auto& s = *state_;
    if (s.shutDown)
        return;
    s.shutDown = true;
    s.onChange = nullptr;
    webkit_user_content_manager_unregister_script_message_handler(s.contentManager.get(), "dotChanged", kWorld);
    for (const auto& connection : s.connections)
        g_signal_handler_disconnect(connection.instance, connection.id);
    s.connections.clear();
    s.loadTimeout.reset();
    s.loading = false;
    // The account's page stops here, with its scripts and streams, even if a pending call still
    // holds the web view for a while.
    webkit_web_view_stop_loading(s.webView.get());
    webkit_web_view_load_uri(s.webView.get(), "about:blank");
    auto popups = std::move(s.popups);
    s.popups.clear();
    for (auto& popup : popups) {
        webkit_web_view_stop_loading(popup.webView.get());
        gtk_window_destroy(popup.window.get());
    }
    // Windows WebKit never got to show are ours alone: dropping them ends their pages.
    auto unshown = std::move(s.unshownPopups);
    s.unshownPopups.clear();
    for (auto& view : unshown)
        webkit_web_view_stop_loading(view.get());
    unshown.clear();
    gtk_window_destroy(s.window.get());
    // Waiting calls end from the main loop: their callers must not run inside shutdown() (or
    // the destructor), which they may have called themselves while replacing this browser.
    g_idle_add_full(G_PRIORITY_DEFAULT, &cancelLifetime, g_object_ref(s.lifetime.get()), g_object_unref);
}

Task<DotSnapshot> DotBrowser::inspect() { return inspectPage(state_); }

Task<void> DotBrowser::prepare(std::string text, std::string url)
{
    return pageAction(state_, "prepare", std::move(text), std::move(url));
}

Task<void> DotBrowser::send(std::string text, std::string url)
{
    return pageAction(state_, "send", std::move(text), std::move(url));
}

Task<void> DotBrowser::clearDraft(std::string text, std::string url)
{
    return pageAction(state_, "clearDraft", std::move(text), std::move(url));
}

Task<void> DotBrowser::reveal(std::string id, std::string url)
{
    return pageAction(state_, "reveal", std::move(id), std::move(url));
}

bool DotBrowser::windowVisible() const
{
    return !state_->shutDown && gtk_widget_get_visible(GTK_WIDGET(state_->window.get()));
}

void DotBrowser::hideWindow()
{
    if (!state_->shutDown)
        state_->hideWindow();
}

WebKitWebView* DotBrowser::webView() const { return state_->webView.get(); }

GtkWindow* DotBrowser::window() const { return state_->window.get(); }

std::size_t DotBrowser::popupCount() const { return state_->popups.size(); }

GtkWindow* DotBrowser::popupWindow(std::size_t index) const { return state_->popups.at(index).window.get(); }

const std::string& DotBrowser::profileIdentifier() const { return state_->profile.identifier; }

}  // namespace quorvane
