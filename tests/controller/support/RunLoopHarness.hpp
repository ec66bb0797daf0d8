#pragma once

// The run loop on a manual clock: a controller whose account connected before, its scripted page
// showing the account's conversation, and ways to queue requests, answer them as the Dot service
// would (tagged with the request's reply token) and read what became of them.

#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ControllerHarness.hpp"
#include "quorvane/TextRules.hpp"

namespace quorvane::testing {

class RunLoopTest : public ControllerTest {
protected:
    // A connected account with the teammate Muse, a poet, beside the primary bot.
    static Vault vaultWithMuse()
    {
        Vault vault = connectedVault();
        Bot muse;
        muse.id = "muse";
        muse.name = "Muse";
        muse.kind = "robot";
        muse.personality = "A poet who answers in verse.";
        vault.account().bots.push_back(muse);
        return vault;
    }

    // Starts the loop on a connected account at `url`; the page shows `pageURL` (the same by
    // default). The first turn runs at once.
    void startConnected(Vault vault = connectedVault(), std::optional<std::string> pageURL = std::nullopt)
    {
        const std::string shown = pageURL.value_or(vault.account().dotURL.str());
        transports.prepare = [shown](FakePage& page) { page.state.url = shown; };
        make(vault);
        controller->start();
    }

    // When the page was reloaded since the controller started, in seconds after its start (the
    // controller's own opening of the conversation at start is not a reload).
    std::vector<double> reloads() const
    {
        std::vector<double> times;
        for (double at : page().timesOf("open"))
            if (at > started)
                times.push_back(at - started);
        return times;
    }

    // Queues a message as the "send" command does.
    std::string send(std::string text, bool manual = false, std::optional<Text> botID = std::nullopt)
    {
        std::string id = newUUID();
        controller->transaction(
            [&](Vault& vault) { vault.account().enqueue(text, id, manual, botID, std::nullopt, std::nullopt, now()); });
        return id;
    }

    const PendingRequest* job(std::string_view id) const
    {
        for (const auto& job : controller->vault().account().jobs)
            if (job.id == id)
                return &job;
        return nullptr;
    }
    const ChatMessage* message(std::string_view id) const
    {
        for (const auto& message : controller->vault().account().messages)
            if (message.id == id)
                return &message;
        return nullptr;
    }
    std::string statusOf(std::string_view id) const
    {
        const ChatMessage* found = message(id);
        return found ? std::string(toString(found->status)) : "(no message)";
    }
    std::string tagOf(std::string_view id) const
    {
        const PendingRequest* found = job(id);
        EXPECT_TRUE(found && found->replyToken) << "request " << id << " has no reply token";
        return found && found->replyToken ? "[qv:" + found->replyToken->str() + "]" : "";
    }

    // An answer part to request `id` as the service writes it: the tag on its own line, a blank
    // line, the text.
    // Returns the page id of the part.
    std::string answer(std::string_view id, const std::string& text)
    {
        const std::string tag = tagOf(id);
        return page().add("assistant", tag + "\n\n" + text, "<p>" + tag + "</p><p>" + text + "</p>").id.str();
    }
    // The part grows as a streamed answer does; its tag stays.
    void grow(const std::string& partID, const std::string& text)
    {
        for (auto& shown : page().state.messages)
            if (shown.id == partID) {
                std::string tag(shown.text.substr(0, shown.text.find("\n\n")));
                shown.text = tag + "\n\n" + text;
                shown.html = "<p>" + tag + "</p><p>" + text + "</p>";
            }
    }

    // The phases a request went through, as the published states show them (repeats folded).
    std::vector<JobPhase> phasesOf(std::string_view id) const
    {
        std::vector<JobPhase> phases;
        for (const ClientState& state : published)
            for (const auto& job : state.account.jobs)
                if (job.id == id && (phases.empty() || phases.back() != job.phase))
                    phases.push_back(job.phase);
        return phases;
    }

    void advance(double seconds) { scheduler.advance(seconds); }
    // Advances in turns until `done` holds or `seconds` pass; the time it took.
    double advanceUntil(const std::function<bool()>& done, double seconds)
    {
        const double start = scheduler.now();
        while (!done() && scheduler.now() - start < seconds)
            scheduler.advance(0.05);
        return scheduler.now() - start;
    }
};

}  // namespace quorvane::testing
