#include "PageHost.hpp"

#include <stdexcept>

#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>

namespace quorvane::testing {

namespace {

constexpr const char* kShellWorld = "quorvane-shell";
constexpr const char* kTestWorld = "quorvane-test";

// The relay, as the shell injects it: the top frame's own window messages only.
constexpr const char* kRelay = R"js(
(() => {
  if (location.protocol !== 'file:' || !location.pathname.endsWith('/UI/index.html')) return;
  window.addEventListener('message', (event) => {
    if (event.source !== window) return;
    const message = event.data && event.data.quorvane;
    if (!message || typeof message !== 'object') return;
    window.webkit.messageHandlers.quorvane.postMessage(JSON.stringify(message));
  });
})();
)js";

struct CallState {
    bool done = false;
    std::string result;
    std::string error;
};

}  // namespace

bool runUntil(const std::function<bool()>& done, double seconds)
{
    gint64 deadline = g_get_monotonic_time() + gint64(seconds * G_USEC_PER_SEC);
    while (!done()) {
        if (g_get_monotonic_time() > deadline)
            return false;
        if (!g_main_context_iteration(nullptr, FALSE))
            g_usleep(1000);
    }
    return true;
}

void runFor(double seconds)
{
    runUntil([] { return false; }, seconds);
}

std::filesystem::path PageHost::pageFile() { return std::filesystem::path(QUORVANE_UI_DIR) / "index.html"; }

const char* PageHost::contentSecurityPolicy()
{
    return "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self' data:; font-src 'self'; "
           "connect-src 'none'; base-uri 'none'; form-action 'none'; frame-src 'none'; object-src 'none'; "
           "require-trusted-types-for 'script'; trusted-types quorvane dompurify";
}

PageHost::PageHost()
    : PageHost(Options {})
{
}

PageHost::PageHost(Options options)
    : options_(options)
{
    gtk_init();
    content_ = webkit_user_content_manager_new();
    webkit_user_content_manager_register_script_message_handler(content_, "quorvane", kShellWorld);
    g_signal_connect(content_, "script-message-received::quorvane", G_CALLBACK(onScriptMessage), this);
    WebKitUserScript* relay = webkit_user_script_new_for_world(kRelay, WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
        WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, kShellWorld, nullptr, nullptr);
    webkit_user_content_manager_add_script(content_, relay);
    webkit_user_script_unref(relay);
    if (options_.nativeMaterial) {
        WebKitUserScript* material = webkit_user_script_new("window.quorvaneNativeMaterial=true",
            WEBKIT_USER_CONTENT_INJECT_TOP_FRAME, WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr);
        webkit_user_content_manager_add_script(content_, material);
        webkit_user_script_unref(material);
    }

    WebKitNetworkSession* session = webkit_network_session_new_ephemeral();
    view_ = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "user-content-manager", content_, "network-session",
        session, "default-content-security-policy", contentSecurityPolicy(), nullptr));
    g_object_unref(session);
    g_signal_connect(view_, "decide-policy", G_CALLBACK(onDecidePolicy), this);

    window_ = gtk_window_new();
    gtk_window_set_default_size(GTK_WINDOW(window_), options_.width, options_.height);
    gtk_window_set_child(GTK_WINDOW(window_), GTK_WIDGET(view_));
    gtk_window_present(GTK_WINDOW(window_));
}

PageHost::~PageHost()
{
    if (window_)
        gtk_window_destroy(GTK_WINDOW(window_));
    runFor(0.05);
    if (content_)
        g_object_unref(content_);
}

void PageHost::load()
{
    commands.clear();
    std::string uri = "file://" + pageFile().string();
    webkit_web_view_load_uri(view_, uri.c_str());
    if (!runUntil([&] { return !since(0, "ready").empty(); }, 20)) {
        std::string seen;
        try {
            seen = runInPage("return [location.href, document.readyState, typeof window.receiveState, "
                             "document.getElementById('app')?.childElementCount].join(' ');");
        } catch (const std::exception& error) {
            seen = error.what();
        }
        throw std::runtime_error("The page never said \"ready\" (page: " + seen + ").");
    }
}

void PageHost::onScriptMessage(WebKitUserContentManager*, JSCValue* value, gpointer self)
{
    auto* host = static_cast<PageHost*>(self);
    char* text = jsc_value_to_string(value);
    std::string json = text ? text : "";
    g_free(text);
    boost::system::error_code error;
    boost::json::value parsed = boost::json::parse(json, error);
    if (error || !parsed.is_object())
        return;
    const auto& object = parsed.as_object();
    const auto* id = object.if_contains("id");
    const auto* command = object.if_contains("command");
    if (!id || !id->is_string() || !command || !command->is_string())
        return;
    PageCommand entry { std::string(id->as_string()), std::string(command->as_string()), {} };
    if (const auto* data = object.if_contains("data"); data && data->is_object())
        entry.data = data->as_object();
    host->commands.push_back(entry);
    if (host->held.count(entry.command))
        return;
    auto failure = host->failures.find(entry.command);
    host->answer(entry.id, failure == host->failures.end() ? std::nullopt : std::optional(failure->second));
}

gboolean PageHost::onDecidePolicy(
    WebKitWebView*, WebKitPolicyDecision* decision, WebKitPolicyDecisionType type, gpointer self)
{
    auto* host = static_cast<PageHost*>(self);
    if (type == WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION) {
        WebKitNavigationAction* action
            = webkit_navigation_policy_decision_get_navigation_action(WEBKIT_NAVIGATION_POLICY_DECISION(decision));
        const char* uri = webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
        std::string expected = "file://" + pageFile().string();
        if (uri && expected == uri) {
            webkit_policy_decision_use(decision);
            return TRUE;
        }
    }
    if (type == WEBKIT_POLICY_DECISION_TYPE_RESPONSE) {
        webkit_policy_decision_use(decision);
        return TRUE;
    }
    ++host->navigationAttempts;
    webkit_policy_decision_ignore(decision);
    return TRUE;
}

void PageHost::answer(const std::string& id, const std::optional<std::string>& error)
{
    GVariantBuilder builder;
    g_variant_builder_init(&builder, G_VARIANT_TYPE_VARDICT);
    g_variant_builder_add(&builder, "{sv}", "id", g_variant_new_string(id.c_str()));
    g_variant_builder_add(&builder, "{sv}", "error", g_variant_new_string(error.value_or("").c_str()));
    webkit_web_view_call_async_javascript_function(view_, "window.nativeResult(id, error === '' ? null : error)", -1,
        g_variant_builder_end(&builder), nullptr, nullptr, nullptr, nullptr, nullptr);
}

std::string PageHost::call(const std::string& body, const std::string& json, const char* world)
{
    CallState state;
    GVariantBuilder builder;
    g_variant_builder_init(&builder, G_VARIANT_TYPE_VARDICT);
    g_variant_builder_add(&builder, "{sv}", "json", g_variant_new_string(json.c_str()));
    webkit_web_view_call_async_javascript_function(
        view_, body.c_str(), gssize(body.size()), g_variant_builder_end(&builder), world, "quorvane-test.js", nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            auto* state = static_cast<CallState*>(data);
            GError* error = nullptr;
            JSCValue* value = webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), result, &error);
            if (error) {
                state->error = error->message;
                g_error_free(error);
            } else if (value) {
                if (jsc_value_is_undefined(value)) {
                    state->result = "null";
                } else {
                    char* text = jsc_value_to_json(value, 0);
                    state->result = text ? text : "null";
                    g_free(text);
                }
                g_object_unref(value);
            }
            state->done = true;
        },
        &state);
    if (!runUntil([&] { return state.done; }, 60))
        throw std::runtime_error("A script in the page did not finish.");
    if (!state.error.empty())
        throw std::runtime_error("Script failed: " + state.error);
    return state.result;
}

std::string PageHost::run(const std::string& body, const std::string& json) { return call(body, json, kTestWorld); }

std::string PageHost::runInPage(const std::string& body, const std::string& json) { return call(body, json, nullptr); }

void PageHost::receiveState(const std::string& stateJSON)
{
    runInPage("window.receiveState(JSON.parse(json))", stateJSON);
}

void PageHost::receiveUpdateState(const std::string& updateJSON)
{
    runInPage("window.receiveUpdateState(JSON.parse(json))", updateJSON);
}

void PageHost::showSettings() { runInPage("window.showSettings?.()"); }

void PageHost::startFlushDraft()
{
    flushResult.reset();
    webkit_web_view_call_async_javascript_function(
        view_, "return await window.flushDraft?.()", -1, nullptr, nullptr, nullptr, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            auto* host = static_cast<PageHost*>(data);
            GError* error = nullptr;
            JSCValue* value = webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), result, &error);
            if (error) {
                host->flushResult = error->message;
                g_error_free(error);
            } else {
                host->flushResult = "resolved";
            }
            if (value)
                g_object_unref(value);
        },
        this);
}

std::vector<PageCommand> PageHost::since(std::size_t mark, const std::string& command) const
{
    std::vector<PageCommand> out;
    for (std::size_t i = mark; i < commands.size(); ++i)
        if (command.empty() || commands[i].command == command)
            out.push_back(commands[i]);
    return out;
}

PageCommand PageHost::waitFor(const std::string& command, std::size_t mark, double seconds)
{
    if (!runUntil([&] { return !since(mark, command).empty(); }, seconds))
        throw std::runtime_error("The page never sent \"" + command + "\".");
    return since(mark, command).front();
}

void PageHost::settle()
{
    run("await new Promise((r) => requestAnimationFrame(() => requestAnimationFrame(r))); return true;");
}

void PageHost::screenshot(const std::filesystem::path& file)
{
    std::filesystem::create_directories(file.parent_path());
    struct Shot {
        bool done = false;
        GdkTexture* texture = nullptr;
    } shot;
    webkit_web_view_get_snapshot(
        view_, WEBKIT_SNAPSHOT_REGION_VISIBLE, WEBKIT_SNAPSHOT_OPTIONS_NONE, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            auto* shot = static_cast<Shot*>(data);
            shot->texture = webkit_web_view_get_snapshot_finish(WEBKIT_WEB_VIEW(source), result, nullptr);
            shot->done = true;
        },
        &shot);
    if (!runUntil([&] { return shot.done; }, 20) || !shot.texture)
        throw std::runtime_error("No screenshot.");
    gdk_texture_save_to_png(shot.texture, file.c_str());
    g_object_unref(shot.texture);
}

}  // namespace quorvane::testing
