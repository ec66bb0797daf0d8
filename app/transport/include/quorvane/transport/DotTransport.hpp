#pragma once

// The controller's only way to read and drive the Dot page. DotBrowser (app/browser) is the real
// one; tests of the controller stand in their own. It lives apart from the browser so that the
// controller can drive a page without linking WebKit or GTK.
//
// Page operations are Tasks (lazy: they start when awaited). They fail with NotSubmitted when the
// page refused the action (nothing reached the conversation), and with any other exception when
// the outcome is unknown.

#include <functional>
#include <string>
#include <string_view>

#include "quorvane/PageRecords.hpp"
#include "quorvane/async/Task.hpp"

namespace quorvane {

class DotTransport {
public:
    virtual ~DotTransport() = default;

    virtual bool loading() const = 0;
    virtual const std::string& error() const = 0;  // empty, or why the page is not usable
    virtual void setOnChange(std::function<void()> onChange) = 0;

    virtual void open(std::string_view url) = 0;
    virtual void show() = 0;
    virtual void showMessage(std::string id, std::string url) = 0;
    virtual void shutdown() = 0;

    virtual Task<DotSnapshot> inspect() = 0;
    virtual Task<void> prepare(std::string text, std::string url) = 0;
    virtual Task<void> send(std::string text, std::string url) = 0;
    virtual Task<void> clearDraft(std::string text, std::string url) = 0;

    // The Dot window: whether it is on screen, and putting it away (ordered out, its page hidden
    // from accessibility, the page still running).
    virtual bool windowVisible() const = 0;
    virtual void hideWindow() = 0;
};

}  // namespace quorvane
