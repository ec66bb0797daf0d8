// The state record as the interface page receives it: keys and their order, dates as ISO 8601
// text at every depth, the live reply left out when absent, and equality field by field.

#include <functional>
#include <string>
#include <vector>

#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>
#include <gtest/gtest.h>

#include "quorvane/Vault.hpp"
#include "quorvane/controller/ClientState.hpp"

namespace quorvane {
namespace {

// 2026-12-09T22:37:17.250Z as seconds since 2001-01-01.
constexpr Date kDate = 818548637.25;
constexpr const char* kISODate = "2026-12-09T22:37:17.250Z";

ClientState sampleState()
{
    Vault vault = Vault::fresh();
    Account& account = vault.account();
    ChatMessage user { "R1", "dot", MessageRole::user, "Hi", kDate, MessageStatus::waiting };
    ChatMessage reply { "R0-reply", "dot", MessageRole::assistant, "Earlier", kDate, MessageStatus::sent };
    reply.parts = CowVector<ReplyPart> { ReplyPart { "p1", "Earlier", std::nullopt, kDate, std::nullopt } };
    account.messages = CowVector<ChatMessage> { reply, user };
    PendingRequest job;
    job.id = "R1";
    job.botID = "dot";
    job.payload = "[Quorvane request R1]\nHi";
    job.phase = JobPhase::waiting;
    job.submitted = kDate;
    account.jobs = { job };
    account.unassignedReplies = std::vector<UnassignedReply> { UnassignedReply {
        "page-9", DotMessage { "page-9", "assistant", "Stray", std::nullopt, std::nullopt }, kDate } };

    ClientState state;
    state.account = account;
    state.theme = Theme::system;
    state.appIconStyle = AppIconStyle::quorvane;
    state.connection = ConnectionStatus::signIn;
    state.issue = "";
    state.storageHealthy = true;
    state.accounts = { SavedAccount { account.id, "Dot connection 1", true } };
    state.systemDark = true;
    return state;
}

boost::json::object pageObject(const ClientState& state)
{
    return boost::json::parse(encodePageJSON(state)).as_object();
}

std::vector<std::string> keysOf(const boost::json::object& object)
{
    std::vector<std::string> keys;
    for (const auto& entry : object)
        keys.emplace_back(entry.key());
    return keys;
}

TEST(ClientStateJson, KeysInTableOrderAndWithoutLiveReplyWhenAbsent)
{
    boost::json::object json = pageObject(sampleState());
    EXPECT_EQ(keysOf(json),
        (std::vector<std::string> { "account", "theme", "appIconStyle", "connection", "issue", "fileIssue",
            "storageHealthy", "accounts", "systemDark", "liveReplies" }));
    EXPECT_TRUE(json.at("liveReplies").as_array().empty());
    EXPECT_EQ(json.at("connection"), "signIn");
    EXPECT_EQ(json.at("theme"), "system");
    EXPECT_EQ(json.at("systemDark"), true);
    EXPECT_EQ(json.at("accounts").at(0),
        (boost::json::value {
            { "id", json.at("account").at("id") }, { "name", "Dot connection 1" }, { "active", true } }));
}

TEST(ClientStateJson, LiveReplyTakesItsPlaceBeforeLiveReplies)
{
    ClientState state = sampleState();
    ChatMessage live { "R1-reply", "dot", MessageRole::assistant, "Growing", kDate, MessageStatus::streaming };
    live.isRouting = false;
    state.liveReply = live;
    state.liveReplies = { live };
    boost::json::object json = pageObject(state);
    std::vector<std::string> keys = keysOf(json);
    ASSERT_EQ(keys.size(), 11u);
    EXPECT_EQ(keys[9], "liveReply");
    EXPECT_EQ(keys[10], "liveReplies");
    EXPECT_EQ(json.at("liveReply").at("status"), "streaming");
    EXPECT_EQ(json.at("liveReply").at("date"), kISODate);
    EXPECT_EQ(json.at("liveReplies").as_array().size(), 1u);
}

// Dates are text wherever they sit; everything that is not a date keeps the vault's form.
TEST(ClientStateJson, DatesAreISOTextAtEveryDepth)
{
    boost::json::object json = pageObject(sampleState());
    const auto& account = json.at("account");
    const auto& messages = account.at("messages").as_array();
    EXPECT_EQ(messages.at(0).at("date"), kISODate);
    EXPECT_EQ(messages.at(0).at("parts").at(0).at("date"), kISODate);
    EXPECT_EQ(messages.at(1).at("date"), kISODate);
    EXPECT_EQ(account.at("jobs").at(0).at("submitted"), kISODate);
    EXPECT_EQ(account.at("jobs").at(0).at("phase"), "waiting");
    EXPECT_EQ(account.at("unassignedReplies").at(0).at("date"), kISODate);
    // Absent optionals stay absent, as in the vault.
    EXPECT_FALSE(account.as_object().contains("handoffs"));
    EXPECT_FALSE(messages.at(1).as_object().contains("parts"));
    EXPECT_FALSE(account.at("jobs").at(0).as_object().contains("nextAttempt"));
}

TEST(ClientStateJson, ValueFromGivesThePageForm)
{
    ClientState state = sampleState();
    EXPECT_EQ(boost::json::value_from(state), boost::json::parse(encodePageJSON(state)));
}

TEST(ClientStateJson, TextIsEscaped)
{
    ClientState state = sampleState();
    state.issue = "Line \"one\"\nand \\ two \xE2\x80\x94 done";
    EXPECT_EQ(pageObject(state).at("issue"), "Line \"one\"\nand \\ two \xE2\x80\x94 done");
}

// Publication is decided by equality, so every field must take part in it.
TEST(ClientStateEquality, EveryFieldCounts)
{
    const std::vector<std::pair<const char*, std::function<void(ClientState&)>>> changes = {
        { "account", [](ClientState& s) { s.account.messages.mutableElements().back().status = MessageStatus::sent; } },
        { "theme", [](ClientState& s) { s.theme = Theme::dark; } },
        { "appIconStyle", [](ClientState& s) { s.appIconStyle = AppIconStyle::dot; } },
        { "connection", [](ClientState& s) { s.connection = ConnectionStatus::connected; } },
        { "issue", [](ClientState& s) { s.issue = "Something"; } },
        { "fileIssue", [](ClientState& s) { s.fileIssue = "Not saved"; } },
        { "storageHealthy", [](ClientState& s) { s.storageHealthy = false; } },
        { "accounts", [](ClientState& s) { s.accounts.front().active = false; } },
        { "systemDark", [](ClientState& s) { s.systemDark = false; } },
        { "liveReply",
            [](ClientState& s) {
                s.liveReply = ChatMessage { "R1-reply", "dot", MessageRole::assistant };
            } },
        { "liveReplies", [](ClientState& s) { s.liveReplies.push_back(ChatMessage { "x" }); } },
    };
    const ClientState base = sampleState();
    for (const auto& [field, change] : changes) {
        SCOPED_TRACE(field);
        ClientState changed = base;
        EXPECT_EQ(changed, base);
        change(changed);
        EXPECT_NE(changed, base);
    }
}

}  // namespace
}  // namespace quorvane
