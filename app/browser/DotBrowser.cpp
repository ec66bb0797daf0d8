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

void onLoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer data)
{
    auto state = lockState(data);
    if (!state)
        return;
    if (event == WEBKIT_LOAD_STARTED) {
        state->loading = true;
        state->error.clear();
    } else if (event == WEBKIT_LOAD_FINISHED) {
        state->loading = false;
        state->loadTimeout.reset();
    }
}

gboolean onLoadFailed(WebKitWebView*, WebKitLoadEvent event, const char*, GError* error, gpointer data)
{
    auto state = lockState(data);
    if (!state)
        return FALSE;
    state->loading = false;
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
        state->loading = false;
        state->loadTimeout.reset();
        state->error = DotBrowser::kWindowStopped;
    }
}

void onDotChanged(WebKitUserContentManager*, JSCValue* message, gpointer data)
{
    auto state = lockState(data);
    if (!state || state->shutDown || !state->onChange)
        return;
    if (!message || !jsc_value_is_object(message))
        return;
    auto mainFrame = GObjectPtr<JSCValue>::adopt(jsc_value_object_get_property(message, "mainFrame"));
    if (!mainFrame || !jsc_value_is_boolean(mainFrame.get()) || !jsc_value_to_boolean(mainFrame.get()))
        return;  // a sub-frame, or a message that does not say
    auto onChange = state->onChange;  // the callback may replace or clear it
    onChange();
}

// The adapter call: the script runs as the body of an async function in the main frame, in our
// world, with the three arguments passed as values, never spliced into the source.
Task<GObjectPtr<JSCValue>> evaluate(
    std::weak_ptr<DotBrowser::State> weak, std::string action, std::string text, std::string expectedURL)
{
    GObjectPtr<WebKitWebView> view;
    GObjectPtr<GCancellable> lifetime;
    std::shared_ptr<const std::string> script;
    {
        auto state = weak.lock();
        if (!state || state->shutDown)
            throw AppFailure(kDotStillLoading);
        script = state->loadAdapter();
        view = GObjectPtr<WebKitWebView>::retain(state->webView.get());
        lifetime = GObjectPtr<GCancellable>::retain(state->lifetime.get());
    }
    auto start = [&](GCancellable* cancellable, GAsyncReadyCallback callback, gpointer data) {
        GVariantBuilder arguments;
        g_variant_builder_init(&arguments, G_VARIANT_TYPE("a{sv}"));
        g_variant_builder_add(&arguments, "{sv}", "action", g_variant_new_string(action.c_str()));
        g_variant_builder_add(&arguments, "{sv}", "text", g_variant_new_string(text.c_str()));
        g_variant_builder_add(&arguments, "{sv}", "expectedURL", g_variant_new_string(expectedURL.c_str()));
        webkit_web_view_call_async_javascript_function(view.get(), script->data(), gssize(script->size()),
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
    co_return co_await asyncCall<GObjectPtr<JSCValue>>(start, finish, lifetime.get());
}

Task<DotSnapshot> inspectPage(std::weak_ptr<DotBrowser::State> state)
{
    auto value = co_await evaluate(std::move(state), "inspect", "", "");
    co_return snapshotFromAdapter(value.get());
}

Task<void> pageAction(std::weak_ptr<DotBrowser::State> state, std::string action, std::string text, std::string url)
{
    auto value = co_await evaluate(std::move(state), std::move(action), std::move(text), std::move(url));
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

DotBrowser::DotBrowser(std::string_view profile, std::filesystem::path dataDirectory, WebKitNetworkSession* dataStore)
    : state_(std::make_shared<State>())
{
    auto& s = *state_;
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
    const auto& service = DotService::current();
    std::string target = validDotURL(url, service) ? std::string(url) : service.homeURL();
    s.loadTimedOut = false;
    webkit_web_view_load_uri(s.webView.get(), target.c_str());
    std::weak_ptr<State> weak = state_;
    s.loadTimeout = GLibScheduler::shared().schedule(s.loadTimeoutSeconds, [weak] {
        if (auto state = weak.lock(); state && state->loading) {
            state->loadTimedOut = true;
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
    webkit_web_view_stop_loading(s.webView.get());
    webkit_user_content_manager_unregister_script_message_handler(s.contentManager.get(), "dotChanged", kWorld);
    for (const auto& connection : s.connections)
        g_signal_handler_disconnect(connection.instance, connection.id);
    s.connections.clear();
    auto popups = std::move(s.popups);
    s.popups.clear();
    for (auto& popup : popups) {
        webkit_web_view_stop_loading(popup.webView.get());
        gtk_window_destroy(popup.window.get());
    }
    s.loadTimeout.reset();
    s.loading = false;
    gtk_window_destroy(s.window.get());
    // Last, because waiting tasks resume right here with a cancellation error.
    g_cancellable_cancel(s.lifetime.get());
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

void DotBrowser::setLoadTimeout(double seconds) { state_->loadTimeoutSeconds = seconds; }

const std::string& DotBrowser::profileIdentifier() const { return state_->profile.identifier; }

}  // namespace quorvane
