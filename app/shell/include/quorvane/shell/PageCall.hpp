#pragma once

// Calls into the interface page. Page data crosses into JavaScript only as arguments of
// webkit_web_view_call_async_javascript_function: the function bodies here are fixed texts, and
// every value goes in the a{sv} dictionary, so nothing the page or the Dot service wrote can
// ever become code.
//
// The completion callback runs on the main loop when the call ends, also after the caller is
// gone: callers that touch themselves in it hold a weak token (see Lifetime.hpp).
//
// Cost: WebKitGTK 2.50 (Debian 12's) keeps a copy of every string argument in this process
// after the call has ended, for as long as the process lives: twenty calls with 4 MB each leave
// 80 MB allocated, and so does every further twenty; the argument's own GVariant is freed at
// once. So whatever calls into the page sends as little as it can: the state goes as changes
// after the first complete publication.

#include <functional>
#include <string>
#include <string_view>

#include <webkit/webkit.h>

#include "quorvane/holders/GObjectPtr.hpp"

namespace quorvane {

// The named arguments of one call.
class PageArguments {
public:
    PageArguments();
    ~PageArguments();
    PageArguments(const PageArguments&) = delete;
    PageArguments& operator=(const PageArguments&) = delete;

    // WebKitGTK takes strings and numbers (not booleans, not null); richer values go as JSON
    // text for the function body to parse.
    PageArguments& add(const char* name, std::string_view text);
    // Takes the text over without copying it. It must be valid UTF-8 without NUL characters,
    // which WebKit then trusts: for the megabytes of the state's JSON, which the state encoder
    // writes as ASCII.
    PageArguments& adopt(const char* name, std::string&& text);
    PageArguments& add(const char* name, double value);
    // The floating a{sv} variant; the builder is empty afterwards.
    GVariant* end();

private:
    GVariantBuilder builder_;
    bool ended_ = false;
};

// What a call gave back: the value, or the script's failure as text.
struct PageCallResult {
    GObjectPtr<JSCValue> value;
    std::string error;  // empty on success
    bool failed() const { return !error.empty(); }
};

using PageCallDone = std::function<void(PageCallResult)>;

// Runs `body` (the body of an async function; `await` is allowed) in the page's main world, or
// in `world` when given, in the top frame.
void callInPage(WebKitWebView* view, const char* body, PageArguments& arguments, PageCallDone done = {},
    const char* world = nullptr);

}  // namespace quorvane
