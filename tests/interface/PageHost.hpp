#pragma once

// Hosts the built interface page in WebKitGTK the way the application shell does, with a fake
// native side, for the page's end-to-end tests and its benchmark:
//  - the page's own Content-Security-Policy as the view's default policy, an ephemeral network
//    session, and no navigation away from index.html (every attempt is counted and cancelled);
//  - the "quorvane" message handler registered in an isolated world, reached only through a
//    relay injected into the top frame that forwards the page's own window messages
//    ({ quorvane: { id, command, data } } with event.source === window);
//  - answers through window.nativeResult(id, error), at once or when the test decides;
//  - receiveState and the other page functions called in the page's main world, with the data
//    passed as call arguments, never formatted into script text.
// Test code that clicks and reads runs in a third world of its own, sharing only the DOM.

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <boost/json/object.hpp>
#include <boost/json/value.hpp>
#include <gtk/gtk.h>
#include <webkit/webkit.h>

namespace quorvane::testing {

// One command the page posted.
struct PageCommand {
    std::string id;
    std::string command;
    boost::json::object data;
};

// Runs the main loop until `done` holds; false after `seconds`.
bool runUntil(const std::function<bool()>& done, double seconds = 10);
void runFor(double seconds);

class PageHost {
public:
    struct Options {
        bool nativeMaterial = false;
        int width = 1180;
        int height = 780;
    };

    PageHost();
    explicit PageHost(Options options);
    ~PageHost();
    PageHost(const PageHost&) = delete;
    PageHost& operator=(const PageHost&) = delete;

    // The built page: <build>/share/quorvane/UI/index.html.
    static std::filesystem::path pageFile();
    static const char* contentSecurityPolicy();

    // Loads the page and waits for its "ready".
    void load();

    // Page functions, called in the page's main world.
    void receiveState(const std::string& stateJSON);
    void receiveUpdateState(const std::string& updateJSON);
    void showSettings();
    // Starts "return await window.flushDraft?.()"; the outcome arrives later (see flushOutcome).
    void startFlushDraft();
    // Empty while the call runs; then "resolved" or the rejection's message.
    std::optional<std::string> flushOutcome() const { return flushResult; }

    // Runs `body` (a function body; may await) in the test world and returns its result as JSON.
    // `json` is available to the body as the string argument `json`.
    std::string run(const std::string& body, const std::string& json = "null");
    // Same, in the page's main world (for measurements that must see the page's own timing).
    std::string runInPage(const std::string& body, const std::string& json = "null");

    // The fake native side.
    std::vector<PageCommand> commands;
    std::map<std::string, std::string> failures;  // command → the sentence it fails with
    std::set<std::string> held;  // commands left unanswered until answer() is called
    void answer(const std::string& id, const std::optional<std::string>& error);
    int navigationAttempts = 0;

    // Commands posted since `mark`, optionally only one kind.
    std::vector<PageCommand> since(std::size_t mark, const std::string& command = "") const;
    // Waits until a command of this kind arrives after `mark`; throws when none comes.
    PageCommand waitFor(const std::string& command, std::size_t mark, double seconds = 5);

    // Lets the page draw: two animation frames.
    void settle();
    void screenshot(const std::filesystem::path& file);

    WebKitWebView* view() const { return view_; }

private:
    static void onScriptMessage(WebKitUserContentManager*, JSCValue* value, gpointer self);
    static gboolean onDecidePolicy(WebKitWebView*, WebKitPolicyDecision*, WebKitPolicyDecisionType, gpointer self);
    std::string call(const std::string& body, const std::string& json, const char* world);

    Options options_;
    GtkWidget* window_ = nullptr;
    WebKitWebView* view_ = nullptr;
    WebKitUserContentManager* content_ = nullptr;
    std::optional<std::string> flushResult;
};

}  // namespace quorvane::testing
