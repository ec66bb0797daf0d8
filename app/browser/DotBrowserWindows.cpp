// The windows of a DotBrowser: "Your Dot", which hides instead of closing; the sign-in windows
// the page opens; and the file chooser the page asks for.

#include <algorithm>

#include "DotBrowserState.hpp"
#include "quorvane/holders/GLibHolders.hpp"

namespace quorvane {

namespace {

constexpr int kDotWidth = 1000, kDotHeight = 760;
constexpr int kPopupWidth = 560, kPopupHeight = 720;

// The user closing "Your Dot" only puts it away: the page keeps running for the controller.
gboolean onDotWindowCloseRequest(GtkWindow*, gpointer data)
{
    if (auto state = lockState(data))
        state->hideWindow();
    return TRUE;
}

// The user closed a sign-in window: forget it and let it go.
gboolean onPopupCloseRequest(GtkWindow* window, gpointer data)
{
    if (auto state = lockState(data)) {
        auto& popups = state->popups;
        auto it = std::find_if(popups.begin(), popups.end(), [&](const auto& p) { return p.window.get() == window; });
        if (it != popups.end()) {
            webkit_web_view_stop_loading(it->webView.get());
            popups.erase(it);
        }
    }
    return FALSE;  // GTK destroys the window
}

// The page in a sign-in window closed itself (window.close()).
void onPopupClose(WebKitWebView* view, gpointer data)
{
    auto state = lockState(data);
    if (!state)
        return;
    auto& popups = state->popups;
    auto it = std::find_if(popups.begin(), popups.end(), [&](const auto& p) { return p.webView.get() == view; });
    if (it == popups.end())
        return;
    auto popup = std::move(*it);
    popups.erase(it);
    gtk_window_destroy(popup.window.get());
}

void onPopupReadyToShow(WebKitWebView* view, gpointer data)
{
    auto state = lockState(data);
    if (!state || state->shutDown)
        return;
    auto window = GObjectPtr<GtkWindow>::retain(GTK_WINDOW(gtk_window_new()));
    gtk_window_set_title(window.get(), "Sign in to Dot");
    gtk_window_set_default_size(window.get(), kPopupWidth, kPopupHeight);
    gtk_window_set_resizable(window.get(), TRUE);
    gtk_window_set_child(window.get(), GTK_WIDGET(view));
    state->connectWeak(window.get(), "close-request", G_CALLBACK(onPopupCloseRequest));
    gtk_window_present(window.get());
    state->popups.push_back({ std::move(window), GObjectPtr<WebKitWebView>::retain(view) });
}

// Every new window the page asks for is granted; it shares the page's session and settings.
GtkWidget* onCreate(WebKitWebView* view, WebKitNavigationAction*, gpointer data)
{
    auto state = lockState(data);
    if (!state || state->shutDown)
        return nullptr;
    auto* popup = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "related-view", view, nullptr));
    state->watchPopup(popup);
    return GTK_WIDGET(popup);
}

struct FileChoice {
    GObjectPtr<WebKitFileChooserRequest> request;
};

void onFileChooserResponse(GtkNativeDialog* dialog, int response, gpointer data)
{
    auto* choice = static_cast<FileChoice*>(data);
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    if (response == GTK_RESPONSE_ACCEPT) {
        auto files = GObjectPtr<GListModel>::adopt(gtk_file_chooser_get_files(GTK_FILE_CHOOSER(dialog)));
        std::vector<std::string> paths;
        for (guint i = 0; i < g_list_model_get_n_items(files.get()); ++i) {
            auto file = GObjectPtr<GFile>::adopt(G_FILE(g_list_model_get_item(files.get(), i)));
            if (GCharPtr path { g_file_get_path(file.get()) })
                paths.emplace_back(path.get());
        }
        std::vector<const char*> list;
        for (const auto& p : paths)
            list.push_back(p.c_str());
        list.push_back(nullptr);
        webkit_file_chooser_request_select_files(choice->request.get(), list.data());
    } else {
        webkit_file_chooser_request_cancel(choice->request.get());
    }
    G_GNUC_END_IGNORE_DEPRECATIONS
    // The dialog kept itself alive for the answer; this drops that reference.
    GObjectPtr<GtkNativeDialog>::adopt(dialog);
}

void deleteFileChoice(gpointer data, GClosure*) { delete static_cast<FileChoice*>(data); }

// Files for the page: several if it allows, never folders, over the "Your Dot" window.
gboolean onRunFileChooser(WebKitWebView*, WebKitFileChooserRequest* request, gpointer data)
{
    auto state = lockState(data);
    if (!state || state->shutDown)
        return FALSE;
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    GtkFileChooserNative* dialog = gtk_file_chooser_native_new(
        "Choose Files", state->window.get(), GTK_FILE_CHOOSER_ACTION_OPEN, nullptr, nullptr);
    gtk_file_chooser_set_select_multiple(
        GTK_FILE_CHOOSER(dialog), webkit_file_chooser_request_get_select_multiple(request));
    G_GNUC_END_IGNORE_DEPRECATIONS
    gtk_native_dialog_set_modal(GTK_NATIVE_DIALOG(dialog), TRUE);
    g_signal_connect_data(dialog, "response", G_CALLBACK(onFileChooserResponse),
        new FileChoice { GObjectPtr<WebKitFileChooserRequest>::retain(request) }, &deleteFileChoice, GConnectFlags(0));
    gtk_native_dialog_show(GTK_NATIVE_DIALOG(dialog));
    return TRUE;
}

}  // namespace

void connectPageHandlers(DotBrowser::State& state, WebKitWebView* view)
{
    if (view == state.webView.get()) {
        state.connectTracked(view, "create", G_CALLBACK(onCreate));
        state.connectTracked(view, "run-file-chooser", G_CALLBACK(onRunFileChooser));
    } else {
        state.connectWeak(view, "create", G_CALLBACK(onCreate));
        state.connectWeak(view, "run-file-chooser", G_CALLBACK(onRunFileChooser));
    }
}

void DotBrowser::State::watchPopup(WebKitWebView* popup)
{
    connectPageHandlers(*this, popup);
    connectWeak(popup, "ready-to-show", G_CALLBACK(onPopupReadyToShow));
    connectWeak(popup, "close", G_CALLBACK(onPopupClose));
}

void DotBrowser::State::setUpWindow()
{
    window = GObjectPtr<GtkWindow>::retain(GTK_WINDOW(gtk_window_new()));
    gtk_window_set_title(window.get(), "Your Dot");
    gtk_window_set_default_size(window.get(), kDotWidth, kDotHeight);
    gtk_window_set_resizable(window.get(), TRUE);
    gtk_window_set_child(window.get(), GTK_WIDGET(webView.get()));
    connectTracked(window.get(), "close-request", G_CALLBACK(onDotWindowCloseRequest));
}

void DotBrowser::State::hideWindow()
{
    gtk_widget_set_visible(GTK_WIDGET(window.get()), FALSE);
    gtk_accessible_update_state(GTK_ACCESSIBLE(webView.get()), GTK_ACCESSIBLE_STATE_HIDDEN, TRUE, -1);
}

}  // namespace quorvane
