#include "quorvane/shell/InterfaceView.hpp"

#include "quorvane/async/Lifetime.hpp"
#include "quorvane/holders/GLibHolders.hpp"
#include "quorvane/holders/GObjectPtr.hpp"
#include "quorvane/shell/BridgeScripts.hpp"
#include "quorvane/shell/InterfaceBridge.hpp"

namespace quorvane {

struct InterfaceView::State {
    InterfaceViewOptions options;
    GObjectPtr<WebKitNetworkSession> session;
    GObjectPtr<WebKitUserContentManager> manager;
    GObjectPtr<WebKitWebView> view;
};

namespace {

std::shared_ptr<InterfaceView::State> lock(gpointer data) { return lockWeakData<InterfaceView::State>(data); }

void addScript(WebKitUserContentManager* manager, const char* source)
{
    WebKitUserScript* script = webkit_user_script_new(
        source, WEBKIT_USER_CONTENT_INJECT_TOP_FRAME, WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr);
    webkit_user_content_manager_add_script(manager, script);
    webkit_user_script_unref(script);
}

bool isWebAddress(const char* uri)
{
    GCharPtr scheme(g_uri_parse_scheme(uri));
    return scheme && (g_ascii_strcasecmp(scheme.get(), "https") == 0 || g_ascii_strcasecmp(scheme.get(), "http") == 0);
}

gboolean onDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision, WebKitPolicyDecisionType type, gpointer data)
{
    auto state = lock(data);
    if (type == WEBKIT_POLICY_DECISION_TYPE_RESPONSE) {
        webkit_policy_decision_use(decision);
        return TRUE;
    }
    auto* action = webkit_navigation_policy_decision_get_navigation_action(WEBKIT_NAVIGATION_POLICY_DECISION(decision));
    const char* uri = webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
    if (state && uri && type == WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION
        && InterfaceBridge::addressesFile(uri, state->options.indexFile)) {
        webkit_policy_decision_use(decision);
        return TRUE;
    }
    webkit_policy_decision_ignore(decision);
    if (state && uri && webkit_navigation_action_get_navigation_type(action) == WEBKIT_NAVIGATION_TYPE_LINK_CLICKED
        && isWebAddress(uri) && state->options.openURI) {
        auto openURI = state->options.openURI;
        openURI(uri);
    }
    return TRUE;
}

gboolean onPermissionRequest(WebKitWebView*, WebKitPermissionRequest* request, gpointer)
{
    webkit_permission_request_deny(request);
    return TRUE;
}

GtkWidget* onCreate(WebKitWebView*, WebKitNavigationAction*, gpointer) { return nullptr; }

gboolean onRunFileChooser(WebKitWebView*, WebKitFileChooserRequest* request, gpointer data)
{
    auto state = lock(data);
    if (!state || !state->options.chooseFile) {
        webkit_file_chooser_request_cancel(request);
        return TRUE;
    }
    auto chooseFile = state->options.chooseFile;
    chooseFile(request);
    return TRUE;
}

// Nothing in the context menu may open, download or navigate; editing and copying stay.
gboolean onContextMenu(WebKitWebView*, WebKitContextMenu* menu, WebKitHitTestResult*, gpointer)
{
    static const WebKitContextMenuAction refused[] = { WEBKIT_CONTEXT_MENU_ACTION_OPEN_LINK,
        WEBKIT_CONTEXT_MENU_ACTION_OPEN_LINK_IN_NEW_WINDOW, WEBKIT_CONTEXT_MENU_ACTION_DOWNLOAD_LINK_TO_DISK,
        WEBKIT_CONTEXT_MENU_ACTION_OPEN_IMAGE_IN_NEW_WINDOW, WEBKIT_CONTEXT_MENU_ACTION_DOWNLOAD_IMAGE_TO_DISK,
        WEBKIT_CONTEXT_MENU_ACTION_OPEN_FRAME_IN_NEW_WINDOW, WEBKIT_CONTEXT_MENU_ACTION_GO_BACK,
        WEBKIT_CONTEXT_MENU_ACTION_GO_FORWARD, WEBKIT_CONTEXT_MENU_ACTION_STOP, WEBKIT_CONTEXT_MENU_ACTION_RELOAD,
        WEBKIT_CONTEXT_MENU_ACTION_OPEN_VIDEO_IN_NEW_WINDOW, WEBKIT_CONTEXT_MENU_ACTION_OPEN_AUDIO_IN_NEW_WINDOW,
        WEBKIT_CONTEXT_MENU_ACTION_DOWNLOAD_VIDEO_TO_DISK, WEBKIT_CONTEXT_MENU_ACTION_DOWNLOAD_AUDIO_TO_DISK,
        WEBKIT_CONTEXT_MENU_ACTION_COPY_LINK_TO_CLIPBOARD };
    GList* items = g_list_copy(webkit_context_menu_get_items(menu));
    for (GList* item = items; item; item = item->next) {
        auto* entry = WEBKIT_CONTEXT_MENU_ITEM(item->data);
        auto action = webkit_context_menu_item_get_stock_action(entry);
        for (auto no : refused) {
            if (action == no) {
                webkit_context_menu_remove(menu, entry);
                break;
            }
        }
    }
    g_list_free(items);
    return FALSE;
}

void onDownloadStarted(WebKitNetworkSession*, WebKitDownload* download, gpointer) { webkit_download_cancel(download); }

void onLoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer data)
{
    if (auto state = lock(data); state && state->options.onLoadChanged) {
        auto onLoadChanged = state->options.onLoadChanged;
        onLoadChanged(event);
    }
}

void onWebProcessTerminated(WebKitWebView*, WebKitWebProcessTerminationReason, gpointer data)
{
    if (auto state = lock(data); state && state->options.onWebProcessTerminated) {
        auto onTerminated = state->options.onWebProcessTerminated;
        onTerminated();
    }
}

}  // namespace

InterfaceView::InterfaceView(InterfaceViewOptions options)
    : state_(std::make_shared<State>())
{
    auto& s = *state_;
    s.options = std::move(options);
    s.session = GObjectPtr<WebKitNetworkSession>::adopt(webkit_network_session_new_ephemeral());
    g_signal_connect(s.session.get(), "download-started", G_CALLBACK(onDownloadStarted), nullptr);
    s.manager = GObjectPtr<WebKitUserContentManager>::adopt(webkit_user_content_manager_new());
    // Tells the page it sits in the native window, whose web view draws no background.
    addScript(s.manager.get(), "window.quorvaneNativeMaterial=true");
    if (s.options.testDriver) {
        addScript(s.manager.get(),
            "Object.defineProperty(window,'quorvaneTestDriver',{value:{state:null},writable:false,configurable:false}"
            ")");
    }
    addScript(s.manager.get(), bridge_scripts::stateTransport);

    auto settings = GObjectPtr<WebKitSettings>::adopt(webkit_settings_new());
    webkit_settings_set_enable_developer_extras(settings.get(), s.options.developerExtras);
    webkit_settings_set_javascript_can_open_windows_automatically(settings.get(), FALSE);
    webkit_settings_set_enable_back_forward_navigation_gestures(settings.get(), FALSE);
    webkit_settings_set_allow_file_access_from_file_urls(settings.get(), FALSE);
    webkit_settings_set_allow_universal_access_from_file_urls(settings.get(), FALSE);

    s.view = GObjectPtr<WebKitWebView>::adopt(WEBKIT_WEB_VIEW(g_object_ref_sink(g_object_new(WEBKIT_TYPE_WEB_VIEW,
        "network-session", s.session.get(), "user-content-manager", s.manager.get(), "settings", settings.get(),
        "default-content-security-policy", s.options.contentSecurityPolicy.c_str(), nullptr))));
    GdkRGBA clear { 0, 0, 0, 0 };
    webkit_web_view_set_background_color(s.view.get(), &clear);

    auto connect = [&](const char* signal, GCallback callback) {
        g_signal_connect_data(
            s.view.get(), signal, callback, newWeakData(state_), &deleteWeakClosureData<State>, GConnectFlags(0));
    };
    connect("decide-policy", G_CALLBACK(onDecidePolicy));
    connect("permission-request", G_CALLBACK(onPermissionRequest));
    connect("create", G_CALLBACK(onCreate));
    connect("run-file-chooser", G_CALLBACK(onRunFileChooser));
    connect("context-menu", G_CALLBACK(onContextMenu));
    connect("load-changed", G_CALLBACK(onLoadChanged));
    connect("web-process-terminated", G_CALLBACK(onWebProcessTerminated));
}

InterfaceView::~InterfaceView()
{
    state_->options = {};
    webkit_web_view_stop_loading(state_->view.get());
}

WebKitWebView* InterfaceView::webView() const { return state_->view.get(); }

WebKitUserContentManager* InterfaceView::contentManager() const { return state_->manager.get(); }

const std::filesystem::path& InterfaceView::indexFile() const { return state_->options.indexFile; }

void InterfaceView::load()
{
    GCharPtr uri(g_filename_to_uri(state_->options.indexFile.c_str(), nullptr, nullptr));
    if (uri)
        webkit_web_view_load_uri(state_->view.get(), uri.get());
}

}  // namespace quorvane
