#pragma once

// A Dot page that tests script, standing in for DotTransport: the page state a snapshot reads
// (address, ready/busy/loading/error, composer, messages with ids, a dialog, sign-in, profile
// name and avatar), page actions whose outcome each test chooses (success, a refusal, an unknown
// outcome, or a call that hangs until its deadline), the Dot window's visibility, and a log of
// every call.
//
// It models what the real transport promises the controller: a hung page action ends with an
// unknown outcome after its deadline, and shutdown() ends pending calls from the scheduler (never
// synchronously inside shutdown), with the "window stopped" error.

#include <algorithm>
#include <coroutine>
#include <deque>
#include <functional>
#include <list>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "quorvane/AppFailure.hpp"
#include "quorvane/TextRules.hpp"
#include "quorvane/async/Scheduler.hpp"
#include "quorvane/async/Sleep.hpp"
#include "quorvane/async/Task.hpp"
#include "quorvane/transport/DotTransport.hpp"

namespace quorvane::testing {

class FakePage final : public DotTransport {
public:
    enum class Outcome {
        succeed,
        refuse,  // NotSubmitted: nothing reached the conversation
        unknown,  // another error, and nothing happened
        sentUnknown,  // the action happened, but the answer was lost (an unknown outcome)
        lost,  // answers success, but the page dropped it: a sent text leaves the composer, no turn appears
        hang,  // never answers; the deadline ends it with an unknown outcome
    };

    static constexpr const char* kUnknownOutcome = "We\u2019re checking whether your message was sent.";
    static constexpr const char* kStopped = "The Dot window stopped. Reconnect to continue.";

    FakePage(Scheduler& scheduler, std::string profile)
        : profile(std::move(profile))
        , scheduler_(scheduler)
    {
        state.ready = true;
    }

    // ---- The page as the test scripts it ----
    std::string profile;
    DotSnapshot state;  // what inspect() returns
    bool isLoading = false;
    std::string errorText;
    bool visible = false;
    std::optional<std::string> inspectFailure;  // inspect() throws this (an unknown failure)
    double inspectDelay = 0;  // inspect() answers this long after it was asked
    std::optional<std::string> fault;  // loading() throws std::logic_error with this (a bug)
    std::deque<Outcome> prepareOutcomes, sendOutcomes, clearOutcomes;  // next outcome first; empty: succeed
    std::string refusal = "Something went wrong while sending your message. Please try again.";
    double deadline = 10;  // when a hung action gives up
    std::function<void(const std::string& text)> onSent;  // runs after a send reached the page
    std::function<void(const std::string& url)> onOpen;  // runs after open()
    // Runs in shutdown(): the controller may destroy the page right after, so a test that wants
    // to know must hear it here rather than read the page later.
    std::function<void()> onShutdown;

    // ---- What happened ----
    std::vector<std::string> calls;
    std::vector<double> callTimes;  // the scheduler's time of each call
    int inspections = 0;
    bool isShutDown = false;
    std::vector<std::string> opened;  // every address given to open()
    std::vector<std::string> shownAt;  // the conversation address given with each showMessage()

    // Appends a page message; its id is "m<n>", unique on this page.
    const DotMessage& add(std::string role, std::string text, std::optional<std::string> html = std::nullopt)
    {
        DotMessage message;
        message.id = "m" + std::to_string(++nextID_);
        message.role = role;
        message.text = text;
        if (html)
            message.html = *html;
        state.messages.push_back(message);
        return state.messages.back();
    }
    void signalChange()
    {
        if (onChange_)
            onChange_();
    }
    std::size_t count(std::string_view call) const
    {
        return std::count_if(calls.begin(), calls.end(), [&](const std::string& c) { return c == call; });
    }
    // The scheduler's times of every call of this name.
    std::vector<double> timesOf(std::string_view call) const
    {
        std::vector<double> times;
        for (std::size_t i = 0; i < calls.size(); ++i)
            if (calls[i] == call)
                times.push_back(callTimes[i]);
        return times;
    }

    // ---- DotTransport ----
    bool loading() const override
    {
        if (fault)
            throw std::logic_error(*fault);
        return isLoading;
    }
    const std::string& error() const override { return errorText; }
    void setOnChange(std::function<void()> onChange) override { onChange_ = std::move(onChange); }

    void open(std::string_view url) override
    {
        log("open");
        opened.emplace_back(url);
        if (onOpen)
            onOpen(std::string(url));
    }
    void show() override
    {
        log("show");
        visible = true;
    }
    void showMessage(std::string id, std::string url) override
    {
        log("showMessage " + id);
        shownAt.push_back(std::move(url));
        visible = true;
    }
    void shutdown() override
    {
        log("shutdown");
        isShutDown = true;
        onChange_ = nullptr;
        if (onShutdown)
            onShutdown();
        // Pending calls end from the scheduler, not inside shutdown().
        for (auto& weak : pending_)
            if (auto pending = weak.lock())
                pending->finish(scheduler_, 0, kStopped);
    }
    bool windowVisible() const override { return visible; }
    void hideWindow() override
    {
        log("hide");
        visible = false;
    }

    Task<DotSnapshot> inspect() override
    {
        log("inspect");
        ++inspections;
        if (inspectDelay > 0)
            co_await sleepFor(scheduler_, inspectDelay);
        if (isShutDown)
            throw std::runtime_error(kStopped);
        if (inspectFailure)
            throw std::runtime_error(*inspectFailure);
        co_return state;
    }

    Task<void> prepare(std::string text, std::string url) override
    {
        return act("prepare", prepareOutcomes, std::move(text), std::move(url));
    }
    Task<void> send(std::string text, std::string url) override
    {
        return act("send", sendOutcomes, std::move(text), std::move(url));
    }
    Task<void> clearDraft(std::string text, std::string url) override
    {
        return act("clearDraft", clearOutcomes, std::move(text), std::move(url));
    }

    std::vector<std::string> urlsOf(std::string_view action) const
    {
        std::vector<std::string> urls;
        for (const auto& [name, url] : actionURLs_)
            if (name == action)
                urls.push_back(url);
        return urls;
    }
    std::size_t pendingCalls() const
    {
        return std::count_if(pending_.begin(), pending_.end(), [](const auto& p) { return !p.expired(); });
    }

private:
    void log(std::string call)
    {
        calls.push_back(std::move(call));
        callTimes.push_back(scheduler_.now());
    }

    // One page call that waits: it resumes with an error when its timer fires (the deadline, or
    // a shutdown), or with TaskCancelled when its task is cancelled.
    struct Pending {
        std::coroutine_handle<> handle;
        std::string error;
        bool cancelled = false;
        Scheduler::Timer timer;
        CancelState::Registration registration;
        void finish(Scheduler& scheduler, double after, std::string why)
        {
            timer = scheduler.schedule(after, [this, why] {
                error = why;
                registration.reset();
                handle.resume();
            });
        }
    };
    struct Wait {
        FakePage& page;
        std::shared_ptr<Pending> pending = std::make_shared<Pending>();
        bool await_ready() const noexcept { return false; }
        template <class P>
        void await_suspend(std::coroutine_handle<P> handle)
        {
            pending->handle = handle;
            pending->finish(page.scheduler_, page.deadline, kUnknownOutcome);
            if (auto cancel = handle.promise().cancel) {
                auto* raw = pending.get();
                pending->registration = cancel->onCancel([raw] {
                    raw->timer.reset();
                    raw->cancelled = true;
                    raw->handle.resume();
                });
            }
            page.pending_.push_back(pending);
        }
        void await_resume()
        {
            page.pending_.remove_if([&](const std::weak_ptr<Pending>& p) { return p.lock() == pending; });
            if (pending->cancelled)
                throw TaskCancelled();
            throw std::runtime_error(pending->error);
        }
    };

    Task<void> act(std::string action, std::deque<Outcome>& outcomes, std::string text, std::string url)
    {
        log(action);
        actionURLs_.emplace_back(action, url);
        if (isShutDown)
            throw std::runtime_error(kStopped);
        Outcome outcome = Outcome::succeed;
        if (!outcomes.empty()) {
            outcome = outcomes.front();
            outcomes.pop_front();
        }
        switch (outcome) {
        case Outcome::refuse:
            throw NotSubmitted(refusal);
        case Outcome::unknown:
            throw std::runtime_error(kUnknownOutcome);
        case Outcome::hang: {
            // A named awaiter: GCC 12 destroys a braced aggregate temporary twice when its
            // await_resume throws, as this one always does.
            Wait wait { *this };
            co_await wait;
            co_return;
        }
        case Outcome::lost:
            if (action == "send")
                state.draft = "";
            co_return;
        case Outcome::succeed:
        case Outcome::sentUnknown:
            break;
        }
        perform(action, text);
        if (outcome == Outcome::sentUnknown)
            throw std::runtime_error(kUnknownOutcome);
    }

    void perform(const std::string& action, const std::string& text)
    {
        if (action == "prepare") {
            state.draft = text;
        } else if (action == "send") {
            std::string sent(trimmed(state.draft.empty() ? std::string_view(text) : state.draft.view()));
            state.draft = "";
            add("user", sent);
            if (onSent)
                onSent(sent);
        } else if (action == "clearDraft") {
            if (trimmed(state.draft) == trimmed(text))
                state.draft = "";
        }
    }

    Scheduler& scheduler_;
    std::function<void()> onChange_;
    std::list<std::weak_ptr<Pending>> pending_;  // a destroyed task's call is gone from here too
    std::vector<std::pair<std::string, std::string>> actionURLs_;
    int nextID_ = 0;
};

}  // namespace quorvane::testing
