#include "quorvane/shell/TestDriver.hpp"

#include <unistd.h>

#include <boost/json/serialize.hpp>
#include <boost/json/value.hpp>

#include "quorvane/holders/GLibHolders.hpp"
#include "quorvane/shell/AppDelegate.hpp"
#include "quorvane/shell/PageCall.hpp"
#include "quorvane/shell/WeakOwner.hpp"

namespace quorvane {

namespace {

constexpr const char* kIntrospection = R"(<node>
  <interface name="local.vemir.quorvane.TestDriver">
    <method name="Run">
      <arg type="s" name="body" direction="in"/>
      <arg type="s" name="argument" direction="in"/>
      <arg type="s" name="json" direction="out"/>
    </method>
    <method name="RunInWindow">
      <arg type="s" name="title" direction="in"/>
      <arg type="s" name="body" direction="in"/>
      <arg type="s" name="argument" direction="in"/>
      <arg type="s" name="json" direction="out"/>
    </method>
    <method name="Replies"><arg type="s" name="json" direction="out"/></method>
    <method name="Status"><arg type="s" name="json" direction="out"/></method>
    <method name="Screenshot"><arg type="s" name="file" direction="in"/></method>
    <method name="Quit"/>
  </interface>
</node>)";

GDBusNodeInfo* introspection()
{
    static GDBusNodeInfo* info = g_dbus_node_info_new_for_xml(kIntrospection, nullptr);
    return info;
}

void fail(GDBusMethodInvocation* invocation, const std::string& message)
{
    g_dbus_method_invocation_return_error_literal(invocation, G_IO_ERROR, G_IO_ERROR_FAILED, message.c_str());
}

void answer(GDBusMethodInvocation* invocation, const std::string& json)
{
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(s)", json.c_str()));
}

// The first web view inside `widget`, depth first.
WebKitWebView* webViewIn(GtkWidget* widget)
{
    if (WEBKIT_IS_WEB_VIEW(widget))
        return WEBKIT_WEB_VIEW(widget);
    for (GtkWidget* child = gtk_widget_get_first_child(widget); child; child = gtk_widget_get_next_sibling(child)) {
        if (WebKitWebView* view = webViewIn(child))
            return view;
    }
    return nullptr;
}

// The web view of the first toplevel window titled `title` (the Dot windows belong to no
// application, so every toplevel of the process is looked at).
WebKitWebView* webViewOfWindow(std::string_view title)
{
    GListModel* toplevels = gtk_window_get_toplevels();
    WebKitWebView* found = nullptr;
    for (guint i = 0, n = g_list_model_get_n_items(toplevels); i < n && !found; ++i) {
        auto* window = GTK_WINDOW(g_list_model_get_item(toplevels, i));
        const char* windowTitle = gtk_window_get_title(window);
        if (windowTitle && title == windowTitle)
            found = webViewIn(GTK_WIDGET(window));
        g_object_unref(window);
    }
    return found;
}

}  // namespace

TestDriver::TestDriver(AppDelegate& delegate)
    : delegate_(delegate)
{
    ownerID_ = g_bus_own_name(
        G_BUS_TYPE_SESSION, kBusName, G_BUS_NAME_OWNER_FLAGS_NONE, &TestDriver::onBusAcquired, nullptr,
        +[](GDBusConnection*, const gchar* name, gpointer) {
            g_warning("The test driver could not own the bus name %s.", name);
        },
        new WeakOwner<TestDriver> { lifetime_.token(), this },
        +[](gpointer data) { delete static_cast<WeakOwner<TestDriver>*>(data); });
}

TestDriver::~TestDriver()
{
    lifetime_.end();
    if (registrationID_)
        g_dbus_connection_unregister_object(connection_, registrationID_);
    g_bus_unown_name(ownerID_);
}

void TestDriver::onBusAcquired(GDBusConnection* connection, const gchar*, gpointer data)
{
    auto* self = WeakOwner<TestDriver>::from(data);
    if (!self)
        return;
    static const GDBusInterfaceVTable vtable { &TestDriver::onMethodCall, nullptr, nullptr, {} };
    GErrorHolder error;
    self->registrationID_ = g_dbus_connection_register_object(
        connection, kObjectPath, introspection()->interfaces[0], &vtable,
        new WeakOwner<TestDriver> { self->lifetime_.token(), self },
        +[](gpointer data) { delete static_cast<WeakOwner<TestDriver>*>(data); }, error.out());
    if (!self->registrationID_) {
        g_warning("The test driver could not be registered: %s", error.get()->message);
        return;
    }
    self->connection_ = connection;
}

void TestDriver::onMethodCall(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method,
    GVariant* parameters, GDBusMethodInvocation* invocation, gpointer data)
{
    auto* self = WeakOwner<TestDriver>::from(data);
    if (!self) {
        fail(invocation, "The application is quitting.");
        return;
    }
    std::string_view name(method);
    if (name == "Run") {
        const char* body = nullptr;
        const char* argument = nullptr;
        g_variant_get(parameters, "(&s&s)", &body, &argument);
        WebKitWebView* view = self->delegate_.webView();
        if (!view)
            fail(invocation, "The interface page does not exist yet.");
        else
            run(view, body, argument, invocation);
    } else if (name == "RunInWindow") {
        const char* title = nullptr;
        const char* body = nullptr;
        const char* argument = nullptr;
        g_variant_get(parameters, "(&s&s&s)", &title, &body, &argument);
        if (WebKitWebView* view = webViewOfWindow(title))
            run(view, body, argument, invocation);
        else
            fail(invocation, std::string("No window \"") + title + "\" with a web page.");
    } else if (name == "Replies") {
        boost::json::array replies;
        for (const auto& reply : self->replies_) {
            replies.push_back(boost::json::object { { "id", reply.id },
                { "error", reply.error ? boost::json::value(*reply.error) : boost::json::value(nullptr) } });
        }
        answer(invocation, boost::json::serialize(replies));
    } else if (name == "Status") {
        answer(invocation, self->status());
    } else if (name == "Screenshot") {
        const char* file = nullptr;
        g_variant_get(parameters, "(&s)", &file);
        self->screenshot(file, invocation);
    } else if (name == "Quit") {
        g_dbus_method_invocation_return_value(invocation, nullptr);
        self->delegate_.requestQuit();
    } else {
        fail(invocation, "No such method.");
    }
}

void TestDriver::run(WebKitWebView* view, const char* body, const char* argument, GDBusMethodInvocation* invocation)
{
    PageArguments arguments;
    arguments.add("argument", argument);
    // The invocation must be answered even if the application ends first; the callback
    // touches nothing else.
    g_object_ref(invocation);
    callInPage(view, body, arguments, [invocation](PageCallResult result) {
        if (result.failed()) {
            fail(invocation, result.error);
        } else {
            JSCValue* value = result.value.get();
            GCharPtr json(value && !jsc_value_is_undefined(value) ? jsc_value_to_json(value, 0) : nullptr);
            answer(invocation, json ? json.get() : "null");
        }
        g_object_unref(invocation);
    });
}

void TestDriver::screenshot(const char* file, GDBusMethodInvocation* invocation)
{
    MainWindow* main = delegate_.mainWindow();
    if (!main) {
        fail(invocation, "There is no main window.");
        return;
    }
    GtkWidget* window = GTK_WIDGET(main->window());
    int width = gtk_widget_get_width(window), height = gtk_widget_get_height(window);
    GskRenderer* renderer = gtk_native_get_renderer(GTK_NATIVE(window));
    if (width <= 0 || height <= 0 || !renderer) {
        fail(invocation, "The main window is not shown.");
        return;
    }
    GdkPaintable* paintable = gtk_widget_paintable_new(window);
    GtkSnapshot* snapshot = gtk_snapshot_new();
    gdk_paintable_snapshot(paintable, snapshot, width, height);
    GskRenderNode* node = gtk_snapshot_free_to_node(snapshot);
    bool saved = false;
    if (node) {
        graphene_rect_t bounds = GRAPHENE_RECT_INIT(0, 0, float(width), float(height));
        GdkTexture* texture = gsk_renderer_render_texture(renderer, node, &bounds);
        saved = gdk_texture_save_to_png(texture, file);
        g_object_unref(texture);
        gsk_render_node_unref(node);
    }
    g_object_unref(paintable);
    if (saved)
        g_dbus_method_invocation_return_value(invocation, nullptr);
    else
        fail(invocation, std::string("The picture could not be written to ") + file + ".");
}

std::string TestDriver::status() const
{
    boost::json::value alert = nullptr;
    if (GtkWindow* window = delegate_.alert(); window && ADW_IS_MESSAGE_DIALOG(window)) {
        if (const char* heading = adw_message_dialog_get_heading(ADW_MESSAGE_DIALOG(window)))
            alert = heading;
    }
    // Every toplevel of the process: the Dot windows belong to no application.
    boost::json::array windows;
    MainWindow* main = delegate_.mainWindow();
    GListModel* toplevels = gtk_window_get_toplevels();
    for (guint i = 0, n = g_list_model_get_n_items(toplevels); i < n; ++i) {
        auto* window = GTK_WINDOW(g_list_model_get_item(toplevels, i));
        const char* title = gtk_window_get_title(window);
        windows.push_back(boost::json::object { { "title", title ? title : "" },
            { "visible", bool(gtk_widget_get_visible(GTK_WIDGET(window))) },
            { "main", main && window == main->window() } });
        g_object_unref(window);
    }
    return boost::json::serialize(boost::json::object { { "ready", delegate_.ready() },
        { "pid", std::int64_t(getpid()) }, { "alert", alert }, { "windows", windows } });
}

void TestDriver::replied(const std::string& id, const std::optional<std::string>& error)
{
    replies_.push_back({ id, error });
    while (replies_.size() > kReplyLimit)
        replies_.pop_front();
}

}  // namespace quorvane
