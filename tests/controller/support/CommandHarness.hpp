#pragma once

// What the command tests share: a controller over an account whose history and queue were built
// with the engine's own operations, one call that runs a command the way the bridge hands it
// over (a name and a JSON object), and what that call did: the sentence it threw, the saves that
// reached the store, and the publications, told apart as the forced one (a repeat of the state
// the page already has, which an unforced publication would skip) and the changes before it.
//
// The account ("quiet": nothing in flight):
//   bots        dot, Ada ({ada}, a coder), Bob ({bob}, archived); "dot" selected
//   {answered}  the user asked Ada; her reply {answered}-reply has the parts "part-1" and
//               "part-2" (text "Four.\n\nReally.", html "<p>Four.</p>")
//   {second}    a second question to Ada; her reply {second}-reply "Five." has no parts
//               Ada is unread
//   "p-stray"   a page reply after one of our turns that no request claimed, waiting to be
//               assigned
// "busy" adds one request in every phase, each to Dot ({queued}, {preparing}, {submitting},
// {composing}, {waiting}, {delayed}, {uncertain}, {failed}; {preparing}..{uncertain} as a turn
// left them, {failed} after three refusals) and {unconfirmed} to Ada: stopped, still watched,
// its delivery found missing, so it can be sent again.

#include <map>
#include <optional>
#include <string>
#include <vector>

#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>
#include <boost/json/value_from.hpp>
#include <gtest/gtest.h>

#include "ControllerHarness.hpp"

namespace quorvane::testing {

inline constexpr const char* kAnswered = "0A5F0C39-5A34-4C7C-9B2B-1B5A3C1D0E01";
inline constexpr const char* kSecond = "0A5F0C39-5A34-4C7C-9B2B-1B5A3C1D0E02";
inline constexpr const char* kQueued = "1B6E1D40-6B45-4D8D-8C3C-2C6B4D2E1F01";
inline constexpr const char* kPreparing = "1B6E1D40-6B45-4D8D-8C3C-2C6B4D2E1F02";
inline constexpr const char* kSubmitting = "1B6E1D40-6B45-4D8D-8C3C-2C6B4D2E1F03";
inline constexpr const char* kComposing = "1B6E1D40-6B45-4D8D-8C3C-2C6B4D2E1F04";
inline constexpr const char* kWaiting = "1B6E1D40-6B45-4D8D-8C3C-2C6B4D2E1F05";
inline constexpr const char* kDelayed = "1B6E1D40-6B45-4D8D-8C3C-2C6B4D2E1F06";
inline constexpr const char* kUncertain = "1B6E1D40-6B45-4D8D-8C3C-2C6B4D2E1F07";
inline constexpr const char* kFailed = "1B6E1D40-6B45-4D8D-8C3C-2C6B4D2E1F08";
inline constexpr const char* kUnconfirmed = "2C7F2E51-7C56-4E9E-9D4D-3D7C5E3F2A01";

inline constexpr const char* kFailedNote = "Your message is saved, but couldn\u2019t be sent yet.";

// What one command did.
struct CommandResult {
    std::optional<std::string> error;  // the sentence it threw
    int saves = 0;  // saves that reached the store
    int publications = 0;
    int forced = 0;  // publications that repeated the state before them
    bool lastForced = false;  // the last publication was one of those
};

class CommandTest : public ControllerTest {
public:
    enum class Queue { quiet, busy };

protected:
    // A controller over the standard account, with storage healthy and nothing published yet.
    void start(Queue queue = Queue::quiet, const std::function<void(Vault&)>& adjust = {})
    {
        make(connectedVault());
        controller->transaction([&](Vault& vault) {
            Account& account = vault.account();
            fillQuiet(account);
            if (queue == Queue::busy)
                fillBusy(account);
            if (adjust)
                adjust(vault);
        });
        names["account"] = controller->vault().account().id.str();
        controller->publish(false);
        published.clear();
    }

    // start() again on a new controller over a new store.
    void restart(Queue queue = Queue::quiet, const std::function<void(Vault&)>& adjust = {})
    {
        controller.reset();
        transports.pages.clear();
        store = std::make_shared<StoreRecord>();
        pasteboard.contents.reset();
        files.offers.clear();
        files.pending.clear();
        start(queue, adjust);
    }

    // The command with `data` given as JSON text, "{name}" standing for the ids above.
    CommandResult perform(std::string_view command, std::string_view data)
    {
        return perform(command, boost::json::parse(fill(std::string(data))).as_object());
    }
    CommandResult perform(std::string_view command, const boost::json::object& data)
    {
        const int savesBefore = store->saves;
        const std::size_t publishedBefore = published.size();
        std::optional<ClientState> previous = controller->lastState;
        CommandResult result;
        try {
            controller->perform(command, data);
        } catch (const std::exception& error) {
            result.error = error.what();
        }
        result.saves = store->saves - savesBefore;
        for (std::size_t i = publishedBefore; i < published.size(); ++i) {
            bool repeat = previous && published[i] == *previous;
            result.forced += repeat ? 1 : 0;
            result.lastForced = repeat;
            previous = published[i];
        }
        result.publications = static_cast<int>(published.size() - publishedBefore);
        return result;
    }

    std::string fill(std::string text) const
    {
        for (const auto& [name, id] : names) {
            const std::string token = "{" + name + "}";
            for (auto at = text.find(token); at != std::string::npos; at = text.find(token, at + id.size()))
                text.replace(at, token.size(), id);
        }
        return text;
    }

    const std::string& id(const std::string& name) const { return names.at(name); }

    static std::string encoded(const Vault& vault) { return boost::json::serialize(boost::json::value_from(vault)); }

    static PendingRequest& job(Vault& vault, std::string_view id)
    {
        for (auto& job : vault.account().jobs)
            if (job.id == id)
                return job;
        throw std::logic_error("no such job");
    }

    std::map<std::string, std::string> names {
        { "answered", kAnswered },
        { "second", kSecond },
        { "queued", kQueued },
        { "preparing", kPreparing },
        { "submitting", kSubmitting },
        { "composing", kComposing },
        { "waiting", kWaiting },
        { "delayed", kDelayed },
        { "uncertain", kUncertain },
        { "failed", kFailed },
        { "unconfirmed", kUnconfirmed },
    };

private:
    void fillQuiet(Account& account)
    {
        account.saveBot(BotEdit { .name = "Ada", .personality = "Precise and calm.", .kind = "coder" });
        names["ada"] = account.selectedBot.str();
        account.saveBot(BotEdit { .name = "Bob", .personality = "Loud and cheerful.", .kind = "chef" });
        names["bob"] = account.selectedBot.str();
        account.archive(id("bob"));
        const Text ada = id("ada");

        account.enqueue("What is 2+2?", kAnswered, false, ada, std::nullopt, std::nullopt, now());
        account.complete(kAnswered,
            ReplyContent { "Four.\n\nReally.", Text("<p>Four.</p>"),
                std::vector<ReplyPart> { { .id = "part-1", .text = "Four." }, { .id = "part-2", .text = "Really." } } },
            now());
        account.enqueue("And 2+3?", kSecond, false, ada, std::nullopt, std::nullopt, now());
        account.complete(kSecond, ReplyContent { "Five." }, now());

        // The page shows our turn, then a reply that none of our requests claims.
        std::vector<DotMessage> page;
        page.push_back(DotMessage {
            .id = "p-turn", .role = "user", .text = std::string("[Quorvane request ") + kSecond + "] And 2+3?" });
        page.push_back(DotMessage { .id = "p-stray", .role = "assistant", .text = "A reply nobody asked for." });
        account.collectUnassignedReplies(page, now());
    }

    void fillBusy(Account& account)
    {
        // Sent, stopped, and then found missing from the page: it may be sent again.
        account.enqueue("Are you there?", kUnconfirmed, false, Text(id("ada")), std::nullopt, std::nullopt, now());
        account.jobs.back().phase = JobPhase::waiting;
        account.stopWaiting(kUnconfirmed);
        account.setStatus(kUnconfirmed, MessageStatus::deliveryMissing);

        const std::pair<const char*, JobPhase> phases[] = {
            { kQueued, JobPhase::queued },
            { kPreparing, JobPhase::preparing },
            { kSubmitting, JobPhase::submitting },
            { kComposing, JobPhase::composing },
            { kWaiting, JobPhase::waiting },
            { kDelayed, JobPhase::delayed },
            { kUncertain, JobPhase::uncertain },
            { kFailed, JobPhase::failed },
        };
        for (const auto& [requestID, phase] : phases) {
            account.enqueue(
                std::string("Request ") + requestID, requestID, false, Text("dot"), std::nullopt, std::nullopt, now());
            PendingRequest& job = account.jobs.back();
            job.phase = phase;
            if (phase != JobPhase::queued)
                job.attempts = 1;
        }
        PendingRequest& uncertain = account.jobs[6];
        uncertain.deliveryChecks = 2;
        uncertain.lastDeliveryCheck = now();
        PendingRequest& failed = account.jobs[7];
        failed.attempts = 3;
        failed.nextAttempt = now() + 2;
        failed.note = kFailedNote;
        account.setStatus(kFailed, MessageStatus::failed);
    }
};

}  // namespace quorvane::testing
