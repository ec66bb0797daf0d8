#include "ShellHarness.hpp"

#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>

#include "quorvane/holders/GLibHolders.hpp"

namespace quorvane::testing {

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

std::string jsonDifference(const boost::json::value& a, const boost::json::value& b, const std::string& path)
{
    if (a.kind() != b.kind()) {
        if (a.is_number() && b.is_number() && a.to_number<double>() == b.to_number<double>())
            return "";
        return path + ": " + boost::json::serialize(a).substr(0, 200) + " ≠ "
            + boost::json::serialize(b).substr(0, 200);
    }
    if (a.is_object()) {
        const auto& x = a.get_object();
        const auto& y = b.get_object();
        for (const auto& [key, value] : x) {
            const auto* other = y.if_contains(key);
            if (!other)
                return path + "." + std::string(key) + ": missing on the right";
            if (auto d = jsonDifference(value, *other, path + "." + std::string(key)); !d.empty())
                return d;
        }
        for (const auto& [key, value] : y) {
            if (!x.contains(key))
                return path + "." + std::string(key) + ": missing on the left";
        }
        return "";
    }
    if (a.is_array()) {
        const auto& x = a.get_array();
        const auto& y = b.get_array();
        if (x.size() != y.size())
            return path + ": " + std::to_string(x.size()) + " elements ≠ " + std::to_string(y.size());
        for (std::size_t i = 0; i < x.size(); ++i) {
            if (auto d = jsonDifference(x[i], y[i], path + "[" + std::to_string(i) + "]"); !d.empty())
                return d;
        }
        return "";
    }
    return a == b
        ? ""
        : path + ": " + boost::json::serialize(a).substr(0, 200) + " ≠ " + boost::json::serialize(b).substr(0, 200);
}

void ShellTest::SetUp()
{
    // The case's own folders (the keyring wrapper gave the process a fresh home already).
    pageFolder = QUORVANE_TEST_PAGE_DIR;
}

void ShellTest::TearDown()
{
    if (application && application->delegate())
        application->delegate()->willTerminate();
    application.reset();
    runFor(0.2);
}

void ShellTest::launch(const std::function<void(ShellOptions&)>& adjust, bool waitForVault)
{
    ShellOptions options;
    options.dataDirectory = QUORVANE_TEST_DATA_DIR;
    options.resourceRoot = pageFolder;
    options.openURI = [this](const std::string& uri) { opened.push_back(uri); };
    if (adjust)
        adjust(options);
    application = std::make_unique<Application>(options);
    GErrorHolder error;
    ASSERT_TRUE(g_application_register(G_APPLICATION(application->gtkApplication()), nullptr, error.out()))
        << (error ? error.get()->message : "");
    ASSERT_NE(application->delegate(), nullptr);
    g_application_activate(G_APPLICATION(application->gtkApplication()));
    ASSERT_TRUE(runUntil([&] { return shell().ready() && (shell().controller() || !waitForVault); }))
        << "The page never finished loading, or the vault never opened.";
}

boost::json::value ShellTest::page(const std::string& script)
{
    struct Call {
        bool done = false;
        std::string json;
        std::string error;
    } call;
    webkit_web_view_call_async_javascript_function(
        shell().webView(), script.c_str(), -1, nullptr, nullptr, nullptr, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            auto* call = static_cast<Call*>(data);
            GError* error = nullptr;
            JSCValue* value
                = webkit_web_view_call_async_javascript_function_finish(WEBKIT_WEB_VIEW(source), result, &error);
            if (error) {
                call->error = error->message;
                g_error_free(error);
            } else if (value) {
                GCharPtr json(jsc_value_is_undefined(value) ? nullptr : jsc_value_to_json(value, 0));
                call->json = json ? json.get() : "null";
                g_object_unref(value);
            }
            call->done = true;
        },
        &call);
    if (!runUntil([&] { return call.done; }, 60))
        throw std::runtime_error("A script in the page did not finish.");
    if (!call.error.empty())
        throw std::runtime_error("A script in the page failed: " + call.error);
    return boost::json::parse(call.json.empty() ? "null" : call.json);
}

boost::json::value ShellTest::record() { return page("return window.__test;"); }

void ShellTest::post(const std::string& id, const std::string& command, const std::string& dataJSON)
{
    auto quote = [](const std::string& text) { return boost::json::serialize(boost::json::value(text)); };
    page("window.testPost(" + quote(id) + ", " + quote(command) + ", " + (dataJSON.empty() ? "undefined" : dataJSON)
        + "); return true;");
}

boost::json::value ShellTest::roundTrip(const std::string& id, const std::string& command, const std::string& dataJSON)
{
    post(id, command, dataJSON);
    boost::json::value error;
    bool answered = runUntil([&] {
        auto results = page("return window.__test.results;").as_array();
        for (const auto& result : results) {
            if (result.at("id") == boost::json::value(id)) {
                error = result.at("error");
                return true;
            }
        }
        return false;
    });
    if (!answered)
        throw std::runtime_error("No reply for " + id);
    return error;
}

void ShellTest::screenshot(const std::filesystem::path& file)
{
    screenshot(GTK_WINDOW(shell().mainWindow()->window()), file);
}

void ShellTest::screenshot(GtkWindow* shown, const std::filesystem::path& file)
{
    std::filesystem::create_directories(file.parent_path());
    GtkWidget* window = GTK_WIDGET(shown);
    runFor(0.5);  // let the page and the window draw
    GdkPaintable* paintable = gtk_widget_paintable_new(window);
    int width = gtk_widget_get_width(window), height = gtk_widget_get_height(window);
    GtkSnapshot* snapshot = gtk_snapshot_new();
    gdk_paintable_snapshot(paintable, snapshot, width, height);
    GskRenderNode* node = gtk_snapshot_free_to_node(snapshot);
    ASSERT_NE(node, nullptr);
    GskRenderer* renderer = gtk_native_get_renderer(GTK_NATIVE(window));
    graphene_rect_t bounds = GRAPHENE_RECT_INIT(0, 0, float(width), float(height));
    GdkTexture* texture = gsk_renderer_render_texture(renderer, node, &bounds);
    EXPECT_TRUE(gdk_texture_save_to_png(texture, file.c_str()));
    g_object_unref(texture);
    gsk_render_node_unref(node);
    g_object_unref(paintable);
}

bool ShellTest::runsUntilQuit(double seconds)
{
    struct Guard {
        bool fired = false;
        GApplication* application;
    } guard { false, G_APPLICATION(application->gtkApplication()) };
    guint timeout = g_timeout_add(
        guint(seconds * 1000),
        +[](gpointer data) -> gboolean {
            auto* guard = static_cast<Guard*>(data);
            guard->fired = true;
            g_application_quit(guard->application);
            return G_SOURCE_REMOVE;
        },
        &guard);
    g_application_run(G_APPLICATION(application->gtkApplication()), 0, nullptr);
    if (!guard.fired)
        g_source_remove(timeout);
    return !guard.fired;
}

}  // namespace quorvane::testing
