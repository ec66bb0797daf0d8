// Crashes mid-conversation: the real program is killed with SIGKILL at random moments while a
// conversation with the crew runs (messages to the primary bot and a teammate, some asking for a
// handoff, answers that stream for a while), and started again each time. After every start the
// vault opens, every message the program took is in its bot's conversation exactly once, nothing
// reached the Dot page twice, and no reply is filed twice. At the end, once the queue has drained,
// every message the program took is answered or in a status that tells the user what to do.
//
// QUORVANE_CRASH_KILLS sets the number of kills (a handful by default, for CI; scripts/crash-test
// runs the long version) and QUORVANE_CRASH_SEED the seed of the random moments and messages. The
// seed is printed, so that a failing run can be replayed.

#include <glib.h>

#include <cstdlib>
#include <iostream>
#include <map>
#include <random>
#include <set>

#include <boost/json/serialize.hpp>

#include "Conversation.hpp"
#include "EndToEndTest.hpp"

namespace quorvane::testing {

namespace {

double now() { return double(g_get_monotonic_time()) / G_USEC_PER_SEC; }

std::uint64_t environmentNumber(const char* name, std::uint64_t fallback)
{
    const char* value = std::getenv(name);
    return value && *value ? std::strtoull(value, nullptr, 10) : fallback;
}

// What the harness asked for: a send and whether the program answered it before it was killed.
// A send that was answered is the program's to keep; one that was not may or may not have
// been taken, but never twice.
struct Sent {
    std::string botID;
    bool taken = false;
};

// Statuses of a request that is still on its way; the run loop moves every one of them on by
// itself. The rest (sent, failed, the delivery check outcomes, unconfirmed) need nothing more
// from the program.
const std::set<std::string> kInFlight = { "queued", "sending", "composing", "waiting", "delayed", "uncertain",
    "replyPending", "deliveryObserved", "streaming", "delegated" };
// Where a request may rest without the user's word: answered, or stopped with a sentence that
// tells the user what to do.
const std::set<std::string> kAtRest = { "sent", "failed", "deliveryMissing", "deliveryUnknown" };

class CrashTest : public EndToEndTest {
protected:
    // Checks what every start must show: the page holds the vault's account, every message the
    // program took once and in its own bot's conversation, no message or reply part twice, and no
    // request typed into the Dot page twice.
    void expectNothingLostOrDoubled(const std::string& when)
    {
        SCOPED_TRACE(when);
        const boost::json::value s = state();
        ASSERT_TRUE(s.is_object() && s.at("account").is_object()) << "The page got no account.";
        EXPECT_TRUE(s.at("storageHealthy").as_bool());

        std::map<std::string, int> copies;
        // A teammate's answer is filed in its own conversation and copied, marked with its
        // source, to the bot that handed over: each of the two holds a part once.
        std::set<std::string> parts, copiedParts;
        for (const auto& message : messagesOf(s)) {
            const auto id = stringAt(message, "id");
            ++copies[id];
            if (auto found = sent.find(id); found != sent.end()) {
                EXPECT_EQ(stringAt(message, "botID"), found->second.botID) << id;
                EXPECT_NE(stringAt(message, "status"), "unconfirmed") << id << " was stopped without the user's word.";
            }
            const auto* messageParts = message.as_object().if_contains("parts");
            if (!messageParts || !messageParts->is_array())
                continue;
            auto& filed = stringAt(message, "sourceBotID").empty() ? parts : copiedParts;
            for (const auto& part : messageParts->as_array())
                EXPECT_TRUE(filed.insert(stringAt(part, "id")).second) << "The reply part " << part << " is filed twice.";
        }
        for (const auto& [id, count] : copies)
            EXPECT_EQ(count, 1) << "The message " << id << " is in the conversation " << count << " times.";
        for (const auto& [id, what] : sent) {
            if (what.taken) {
                EXPECT_EQ(copies[id], 1) << "The message " << id << ", taken before a kill, is gone.";
            }
        }

        std::map<std::string, int> typed;
        for (const auto& id : requestsTypedIntoDot(*sim))
            ++typed[id];
        for (const auto& [id, count] : typed)
            EXPECT_EQ(count, 1) << "The request " << id << " reached the Dot page " << count << " times.";
    }

    // Posts one message as the page's composer does, and waits for the program to take it until
    // `deadline` at the latest.
    void sendOne(std::mt19937_64& random, int number, double deadline)
    {
        const bool toTeammate = random() % 3 == 0;
        const bool handoff = !toTeammate && random() % 4 == 0;
        const std::string botID = toTeammate ? muse : "dot";
        const std::string text = handoff
            ? "Message " + std::to_string(number) + ": please ask Muse to write a haiku about the tide."
            : "Message " + std::to_string(number) + ": what do you make of a quiet harbour at dawn?";
        char* clientID = g_uuid_string_random();
        const std::string id = clientID;
        g_free(clientID);
        sent[id] = Sent { botID };
        const auto posted = post("send",
            { { "accountID", accountID }, { "clientID", id }, { "botID", botID }, { "text", text } });
        try {
            const auto error = answer(posted, std::max(0.05, deadline - now()));
            ASSERT_TRUE(error.is_null()) << "The send " << id << " was refused: " << error;
            sent[id].taken = true;
        } catch (const std::runtime_error&) {
            // Not answered before the kill: the program may or may not have taken it.
        }
    }

    std::size_t pendingJobs() { return accountList(state(), "jobs").size(); }

    std::map<std::string, Sent> sent;
    std::string accountID;
    std::string muse;
};

TEST_F(CrashTest, KilledAtRandomMomentsNothingIsLostSentTwiceOrFiledTwice)
{
    const auto kills = environmentNumber("QUORVANE_CRASH_KILLS", 5);
    const auto seed = environmentNumber("QUORVANE_CRASH_SEED", std::random_device()());
    std::cout << "crash test: " << kills << " kills, seed " << seed << " (QUORVANE_CRASH_SEED=" << seed
              << " replays it)" << std::endl;
    RecordProperty("seed", std::to_string(seed));
    std::mt19937_64 random(seed);
    std::uniform_real_distribution<double> moment(0.2, 9.0);

    launch();
    Conversation chat(*app);
    chat.connect();
    muse = chat.addTeammate("Muse", "A poet who answers in short verse.");
    chat.select("dot");
    accountID = stringAt(state().at("account"), "id");
    // Answers that stream for a while, so that kills land while a reply grows as well.
    sim->control("next-answer", R"({"persist": true, "firstDelayMs": 200, "durationMs": 2000})");

    int number = 0;
    const double started = now();
    for (std::uint64_t kill = 1; kill <= kills; ++kill) {
        // Most kills come once the connection is back, so that the conversation moves on between
        // them; the others come while it is still being made again.
        if (random() % 5 != 0) {
            ASSERT_TRUE(waitFor("the connection \"connected\"",
                [](const boost::json::value& s) { return stringAt(s, "connection") == "connected"; }));
        }
        const double killAt = now() + moment(random);
        while (now() < killAt) {
            // The queue stays short, so that the run exercises every stage and not only waiting.
            if (pendingJobs() < 4)
                sendOne(random, ++number, killAt);
            if (HasFatalFailure())
                return;
            g_usleep(gulong(std::uniform_int_distribution<int>(50, 800)(random)) * 1000);
        }
        const boost::json::value before = state();
        std::cout << "kill " << kill << " at " << int(now() - started) << " s: " << sent.size() << " sends posted, "
                  << accountList(before, "jobs").size() << " jobs, connection " << stringAt(before, "connection")
                  << std::endl;
        app->kill();
        app->start();
        expectNothingLostOrDoubled("after kill " + std::to_string(kill) + " of " + std::to_string(kills));
        if (HasFailure()) {
            std::cout << "crash test: failed after kill " << kill << "; seed " << seed << std::endl;
            return;
        }
    }

    // The queue drains by itself: nothing stays on its way.
    ASSERT_TRUE(waitFor(
        "every request at rest and the queue empty",
        [&](const boost::json::value& s) {
            if (!accountList(s, "jobs").empty())
                return false;
            for (const auto& message : messagesOf(s)) {
                if (sent.contains(stringAt(message, "id")) && kInFlight.contains(stringAt(message, "status")))
                    return false;
            }
            return true;
        },
        300));
    expectNothingLostOrDoubled("after the queue drained");

    const boost::json::value s = state();
    std::map<std::string, int> statuses;
    // A request's answer is filed as "<request id>-reply"; what a handoff brought back names the
    // request it answers.
    std::set<std::string> answered;
    for (const auto& message : messagesOf(s)) {
        const auto id = stringAt(message, "id");
        if (id.ends_with("-reply"))
            answered.insert(id.substr(0, id.size() - 6));
        if (!stringAt(message, "replyToID").empty())
            answered.insert(stringAt(message, "replyToID"));
    }
    std::map<std::string, int> typed;
    for (const auto& id : requestsTypedIntoDot(*sim))
        ++typed[id];
    int taken = 0;
    for (const auto& message : messagesOf(s)) {
        const auto id = stringAt(message, "id");
        if (!sent.contains(id))
            continue;
        ++taken;
        const auto status = stringAt(message, "status");
        ++statuses[status];
        EXPECT_TRUE(kAtRest.contains(status)) << id << " rests as " << status;
        if (status == "sent") {
            EXPECT_TRUE(answered.contains(id)) << id << " is marked sent without a reply.";
            EXPECT_EQ(typed[id], 1) << id << " is answered but reached the Dot page " << typed[id] << " times.";
        }
    }
    std::cout << "crash test: " << kills << " kills survived in " << int(now() - started) << " s; " << sent.size()
              << " sends posted, " << taken << " taken;";
    for (const auto& [status, count] : statuses)
        std::cout << ' ' << status << ' ' << count;
    std::cout << "; " << typed.size() << " requests typed into Dot" << std::endl;
}

}  // namespace

}  // namespace quorvane::testing
