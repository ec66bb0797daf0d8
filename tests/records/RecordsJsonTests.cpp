#include <bit>
#include <cmath>
#include <cstdint>
#include <random>

#include <gtest/gtest.h>

#include <boost/json/serialize.hpp>

#include "quorvane/Vault.hpp"

namespace quorvane {
namespace {

boost::json::object parseObject(const std::string& text) { return boost::json::parse(text).as_object(); }

// A vault as an early version wrote it: only the keys that were required then.
constexpr const char* kOldVault = R"({
  "version": 1, "theme": "dark", "activeAccount": "A1",
  "accounts": [{
    "id": "A1", "browserProfile": "P1", "label": "Your Dot", "dotURL": "", "connectedOnce": true,
    "bots": [{"id": "dot", "name": "Dot", "kind": "dot", "personality": "", "archived": false}],
    "messages": [{"id": "M1", "botID": "dot", "role": "user", "text": "Hi", "date": 786000000.5, "status": "sent"}],
    "drafts": {"dot": "half a thought"},
    "jobs": [{"id": "J1", "botID": "dot", "payload": "[Quorvane request J1]\nHi", "phase": "waiting",
              "baseline": ["p1", "p2"], "note": ""}],
    "selectedBot": "dot"
  }]
})";

TEST(RecordsJson, OldVaultWithOnlyRequiredKeysDecodes)
{
    Vault vault = decodeJSON<Vault>(kOldVault);
    ASSERT_EQ(vault.accounts.size(), 1u);
    const Account& account = vault.account();
    EXPECT_EQ(vault.theme, Theme::dark);
    EXPECT_FALSE(vault.appIconStyle);
    EXPECT_FALSE(account.handoffs);
    EXPECT_FALSE(account.replyWatches);
    EXPECT_FALSE(account.unreadBots);
    EXPECT_FALSE(account.installedCrewRevision);
    EXPECT_EQ(account.drafts.at("dot"), "half a thought");
    EXPECT_DOUBLE_EQ(account.messages.at(0).date, 786000000.5);

    const PendingRequest& job = account.jobs.at(0);
    EXPECT_EQ(job.phase, JobPhase::waiting);
    EXPECT_EQ(job.baseline, (std::vector<Text> { "p1", "p2" }));
    EXPECT_FALSE(job.isReport.value_or(false));
    EXPECT_FALSE(job.manual.value_or(false));
    EXPECT_EQ(job.delegationDepth.value_or(0), 0);
    EXPECT_EQ(job.attempts.value_or(0), 0);
    EXPECT_FALSE(job.crewSetupRevision || job.crewSetupBody || job.crewSetupURL);
}

Vault fullVault()
{
    Vault vault = Vault::fresh();
    vault.appIconStyle = AppIconStyle::dot;
    Account& account = vault.account();
    account.dotURL = "https://dot.example/dots/home";
    Bot teammate { "B1", "Ada \xE2\x80\x94 \xF0\x9F\x98\x80", "coder", "Careful \"quoted\" \\ slash/\n\ttab", "Lead",
        "Reviewer", "abc", "abc", "data:image/png;base64,AAAA", true };
    account.bots.push_back(teammate);
    MessageAttachment attachment { "at1", "file", "notes.txt", "https://x/y" };
    ReplyPart part { "p1", "part text", "<p>part</p>", 12.25, std::vector<MessageAttachment> { attachment } };
    ChatMessage message { "R1-reply", "B1", MessageRole::assistant, "text", 100.5, MessageStatus::sent, "<b>x</b>",
        std::vector<ReplyPart> { part }, "dot", "R0", "H1", true, QuotedReply { "M0", "p0", "You", "quoted" } };
    account.messages.push_back(message);
    PendingRequest job = PendingRequest::make("J1", teammate, "do it");
    job.phase = JobPhase::composing;
    job.userMessageID = "u1";
    job.submitted = 5;
    job.rootRequestID = "J0";
    job.parentRequestID = "J0";
    job.returnBotID = "dot";
    job.delegationDepth = 2;
    job.isReport = true;
    job.manual = false;
    job.resultRequestID = "J2";
    job.attempts = 3;
    job.nextAttempt = 7.5;
    job.roleTargets = std::vector<RoleTarget> { { "B1", "src" } };
    job.deliveryChecks = 1;
    job.lastDeliveryCheck = 8;
    job.replyToken = "0123456789ab";
    job.crewSetupRevision = "rev";
    job.crewSetupBody = "body";
    job.crewSetupURL = "https://dot.example/dots/home";
    account.jobs.push_back(job);
    account.handoffs
        = std::vector<Handoff> { { "H1", "J0", "dot", "B1", "task", HandoffStatus::working, "J0", false } };
    account.unreadBots = std::vector<Text> { "B1" };
    account.readReplyIDs = std::map<std::string, std::vector<Text>> { { "B1", { "R1-reply" } } };
    account.replyWatches = std::vector<ReplyWatch> { { job, { "a1", "a2" }, true } };
    account.pendingDraftCleanup = std::vector<Text> { "old payload" };
    account.installedCrewRevision = "rev";
    account.installedCrewURL = "https://dot.example/dots/home";
    account.draftReplies = std::map<std::string, QuotedReply> { { "B1", { "M0", std::nullopt, "Dot", "q" } } };
    DotMessage page { "pm1", "assistant", "hello", "<p>hello</p>", std::vector<MessageAttachment> {} };
    account.unassignedReplies = std::vector<UnassignedReply> { { "pm1", page, 9.75 } };
    account.assignedRemoteReplies = std::map<std::string, Text> { { "pm0", "B1" } };
    account.ignoredRemoteReplyIDs = std::vector<Text> { "pm9" };
    account.drafts["B1"] = "draft";
    return vault;
}

TEST(RecordsJson, EveryFieldRoundTrips)
{
    Vault vault = fullVault();
    std::string encoded = encodeJSON(vault);
    EXPECT_EQ(decodeJSON<Vault>(encoded), vault);
    // The DOM form is the same document.
    EXPECT_EQ(boost::json::value_from(vault), boost::json::parse(encoded));
    EXPECT_EQ(boost::json::value_to<Vault>(boost::json::value_from(vault)), vault);
}

TEST(RecordsJson, AbsentOptionalsStayAbsent)
{
    Vault vault = Vault::fresh();
    Account& account = vault.account();
    account.bots.push_back(
        Bot { "B1", "Ada", "coder", "p", std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt, false });
    account.jobs.push_back(PendingRequest::make("J1", account.bots.back(), "x"));
    account.messages.push_back(ChatMessage { "J1", "B1", MessageRole::user, "x", 1, MessageStatus::queued });

    std::string encoded = encodeJSON(vault);
    EXPECT_EQ(encoded.find("null"), std::string::npos) << encoded;
    auto root = parseObject(encoded);
    EXPECT_FALSE(root.contains("appIconStyle"));
    const auto& accountObject = root.at("accounts").as_array().at(0).as_object();
    for (const char* key : { "handoffs", "unreadBots", "readReplyIDs", "replyWatches", "pendingDraftCleanup",
             "installedCrewRevision", "installedCrewURL", "draftReplies", "unassignedReplies", "assignedRemoteReplies",
             "ignoredRemoteReplyIDs" }) {
        SCOPED_TRACE(key);
        EXPECT_FALSE(accountObject.contains(key));
    }
    const auto& botObject = accountObject.at("bots").as_array().at(1).as_object();
    EXPECT_FALSE(botObject.contains("role"));
    EXPECT_FALSE(botObject.contains("image"));
    const auto& jobObject = accountObject.at("jobs").as_array().at(0).as_object();
    EXPECT_FALSE(jobObject.contains("replyToken"));
    EXPECT_FALSE(jobObject.contains("attempts"));
    EXPECT_TRUE(jobObject.contains("inputText"));
    EXPECT_EQ(decodeJSON<Vault>(encoded), vault);

    // An optional that holds an empty value is present, and differs from an absent one.
    DotMessage withEmpty { "m", "assistant", "t", std::nullopt, std::vector<MessageAttachment> {} };
    DotMessage without { "m", "assistant", "t", std::nullopt, std::nullopt };
    EXPECT_NE(withEmpty, without);
    EXPECT_EQ(encodeJSON(withEmpty), R"({"id":"m","role":"assistant","text":"t","attachments":[]})");
    EXPECT_EQ(decodeJSON<DotMessage>(encodeJSON(withEmpty)), withEmpty);
}

TEST(RecordsJson, NullReadsAsAbsentForOptionalKeys)
{
    auto part = decodeJSON<ReplyPart>(R"({"id":"p","text":"t","html":null,"date":null})");
    EXPECT_FALSE(part.html);
    EXPECT_FALSE(part.date);
}

TEST(RecordsJson, DecodeFailsAsAWholeWithThePathOfTheFault)
{
    struct Case {
        const char* name;
        std::string json;
        std::string error;
    } cases[] = {
        { "missing required key in a bot", R"({"id":"dot","name":"Dot","kind":"dot","archived":false})",
            R"(missing key "personality")" },
        { "wrong type", R"({"id":"dot","name":"Dot","kind":"dot","personality":"","archived":"no"})",
            "archived: expected a boolean, found a string" },
        { "null for a required key", R"({"id":"dot","name":null,"kind":"dot","personality":"","archived":false})",
            "name: expected a string, found null" },
        { "wrong type in an optional key",
            R"({"id":"dot","name":"Dot","kind":"dot","personality":"","archived":false,"role":3})",
            "role: expected a string, found a number" },
        { "not an object", R"([1,2])", "expected an object, found an array" },
        { "not JSON", R"({"id":)", "The data is not valid JSON" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            decodeJSON<Bot>(c.json);
            ADD_FAILURE() << "decoded";
        } catch (const JsonDecodeError& error) {
            EXPECT_NE(std::string(error.what()).find(c.error), std::string::npos) << error.what();
        }
    }
}

TEST(RecordsJson, NestedFailuresFailTheWholeVault)
{
    struct Case {
        const char* name;
        std::string from;
        std::string to;
        std::string path;
    } cases[] = {
        { "unknown job phase", R"("phase": "waiting")", R"("phase": "sending")", "accounts.0.jobs.0.phase" },
        { "message without status", R"("status": "sent")", R"("statos": "sent")", "accounts.0.messages.0" },
        { "fractional integer", R"("version": 1)", R"("version": 1.5)", "version" },
        { "draft that is not text", R"("dot": "half a thought")", R"("dot": 4)", "accounts.0.drafts.dot" },
        { "baseline element", R"(["p1", "p2"])", R"(["p1", false])", "accounts.0.jobs.0.baseline.1" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string json = kOldVault;
        auto at = json.find(c.from);
        ASSERT_NE(at, std::string::npos);
        json.replace(at, c.from.size(), c.to);
        try {
            decodeJSON<Vault>(json);
            ADD_FAILURE() << "decoded";
        } catch (const JsonDecodeError& error) {
            EXPECT_EQ(error.path, c.path) << error.what();
        }
    }
}

TEST(RecordsJson, PhasesRoundTripByName)
{
    for (auto phase : { JobPhase::queued, JobPhase::preparing, JobPhase::composing, JobPhase::submitting,
             JobPhase::waiting, JobPhase::delayed, JobPhase::uncertain, JobPhase::failed }) {
        SCOPED_TRACE(toString(phase));
        EXPECT_EQ(fromString<JobPhase>(toString(phase)), phase);
        EXPECT_EQ(boost::json::value_to<JobPhase>(boost::json::value_from(phase)), phase);
    }
    EXPECT_EQ(encodeJSON(JobPhase::composing), "\"composing\"");
    EXPECT_FALSE(fromString<JobPhase>("sending"));
}

template <class E>
void expectEveryNameRoundTrips()
{
    for (std::size_t i = 0; i < EnumNames<E>::names.size(); ++i) {
        const auto value = static_cast<E>(i);
        SCOPED_TRACE(toString(value));
        EXPECT_EQ(fromString<E>(toString(value)), value);
        EXPECT_EQ(encodeJSON(value), "\"" + std::string(toString(value)) + "\"");
        EXPECT_EQ(decodeJSON<E>(encodeJSON(value)), value);
        EXPECT_EQ(boost::json::value_to<E>(boost::json::value_from(value)), value);
    }
}

TEST(RecordsJson, ClosedSetsAreWrittenAndReadByName)
{
    expectEveryNameRoundTrips<JobPhase>();
    expectEveryNameRoundTrips<MessageRole>();
    expectEveryNameRoundTrips<MessageStatus>();
    expectEveryNameRoundTrips<HandoffStatus>();
    expectEveryNameRoundTrips<Theme>();
    expectEveryNameRoundTrips<AppIconStyle>();
    EXPECT_EQ(::testing::PrintToString(MessageStatus::deliveryMissing), "deliveryMissing");
}

TEST(RecordsJson, AnUnknownNameFailsTheWholeVaultWithItsPath)
{
    const std::string full = encodeJSON(fullVault());
    struct Case {
        const char* name;
        std::string from;
        std::string to;
        std::string error;
    } cases[] = {
        { "message role", R"("role":"assistant")", R"("role":"system")",
            R"(accounts.0.messages.0.role: unknown message role "system")" },
        { "message status", R"("status":"sent")", R"("status":"read")",
            R"(accounts.0.messages.0.status: unknown message status "read")" },
        { "names are exact", R"("status":"sent")", R"("status":"Sent")",
            R"(accounts.0.messages.0.status: unknown message status "Sent")" },
        { "status that is not a string", R"("status":"sent")", R"("status":3)",
            "accounts.0.messages.0.status: expected a string, found a number" },
        { "handoff status", R"("status":"working")", R"("status":"paused")",
            R"(accounts.0.handoffs.0.status: unknown handoff status "paused")" },
        { "theme", R"("theme":"light")", R"("theme":"sepia")", R"(theme: unknown theme "sepia")" },
        { "app icon style", R"("appIconStyle":"dot")", R"("appIconStyle":"retro")",
            R"(appIconStyle: unknown app icon style "retro")" },
        { "job phase", R"("phase":"composing")", R"("phase":"sending")",
            R"(accounts.0.jobs.0.phase: unknown job phase "sending")" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string json = full;
        auto at = json.find(c.from);
        ASSERT_NE(at, std::string::npos);
        json.replace(at, c.from.size(), c.to);
        try {
            decodeJSON<Vault>(json);
            ADD_FAILURE() << "decoded";
        } catch (const JsonDecodeError& error) {
            EXPECT_STREQ(error.what(), c.error.c_str());
        }
    }
}

TEST(RecordsJson, ExtraKeysAreIgnoredAndIntegersMayBeWrittenAsWholeNumbers)
{
    auto job = decodeJSON<PendingRequest>(
        R"({"id":"J","botID":"dot","payload":"p","phase":"queued","baseline":[],"note":"","attempts":2.0,"future":{"x":1}})");
    EXPECT_EQ(job.attempts, 2);
}

TEST(RecordsJson, TextIsEscapedAsJSONAndDatesAreNumbers)
{
    ChatMessage message { "id", "dot", MessageRole::user,
        "quote \" backslash \\ nl \n tab \t bell \x07 slash / \xC3\xA9", 123.456, MessageStatus::sent };
    std::string encoded = encodeJSON(message);
    EXPECT_NE(encoded.find(R"("text":"quote \" backslash \\ nl \n tab \t bell \u0007 slash / )"
                           "\xC3\xA9\""),
        std::string::npos)
        << encoded;
    EXPECT_NE(encoded.find(R"("date":123.456)"), std::string::npos) << encoded;
    EXPECT_EQ(decodeJSON<ChatMessage>(encoded), message);
}

TEST(RecordsJson, DatesReadBackExactlyAsWritten)
{
    // Each is written in its shortest exact form; a reader that rounds the decimal wrongly reads
    // these one unit in the last place off, and the date then changes on every save and load.
    const double dates[] = { -2.5e-300, 123456789012.34567, 786000001.5, 0.1, 1e300, 5e-324, 0.0 };
    for (double date : dates) {
        SCOPED_TRACE(date);
        ChatMessage message { "id", "dot", MessageRole::user, "text", date, MessageStatus::sent };
        std::string encoded = encodeJSON(message);
        ChatMessage decoded = decodeJSON<ChatMessage>(encoded);
        EXPECT_EQ(std::bit_cast<std::uint64_t>(decoded.date), std::bit_cast<std::uint64_t>(date)) << encoded;
        EXPECT_EQ(encodeJSON(decoded), encoded);
    }
    // Negative zero is written as zero, so its text does not change on the next save.
    ChatMessage negativeZero { "id", "dot", MessageRole::user, "text", -0.0, MessageStatus::sent };
    EXPECT_NE(encodeJSON(negativeZero).find(R"("date":0,)"), std::string::npos) << encodeJSON(negativeZero);
}

TEST(RecordsJson, EveryFiniteDoubleReadsBackExactly)
{
    // Random bit patterns reach every exponent and the subnormals; dates shaped like real ones
    // (seconds since 2001 with a fraction) are where a reader's rounding slip showed first.
    std::mt19937_64 random(20261210);
    std::uniform_real_distribution<double> seconds(0.0, 1.2e9);
    std::size_t checked = 0;
    for (int i = 0; i < 200000; ++i) {
        const double date = i % 2 ? std::bit_cast<double>(random()) : seconds(random);
        if (!std::isfinite(date) || date == 0.0)
            continue;
        ++checked;
        ChatMessage message { "id", "dot", MessageRole::user, "text", date, MessageStatus::sent };
        const std::string encoded = encodeJSON(message);
        const double back = decodeJSON<ChatMessage>(encoded).date;
        ASSERT_EQ(std::bit_cast<std::uint64_t>(back), std::bit_cast<std::uint64_t>(date)) << encoded;
    }
    EXPECT_GT(checked, 190000u);
}

// A number too large for a double is not a date or a count: the vault that holds one fails to
// load, naming where, instead of loading as infinity and then failing every later save.
TEST(RecordsJson, NumbersOutOfRangeFailWithTheirPath)
{
    struct Case {
        const char* name;
        std::string from;
        std::string to;
        std::string error;
    } cases[] = {
        { "date overflowing", "786000000.5", "1e999",
            "accounts.0.messages.0.date: expected a finite number, found one too large for a date or number" },
        { "negative date overflowing", "786000000.5", "-1e999",
            "accounts.0.messages.0.date: expected a finite number, found one too large for a date or number" },
        { "an exponent beyond any reader's range", "786000000.5", "-1e30888880",
            "accounts.0.messages.0.date: expected a finite number, found one too large for a date or number" },
        { "optional date overflowing", R"("note": "")", R"("note": "", "submitted": 1.5e309)",
            "accounts.0.jobs.0.submitted: expected a finite number, found one too large for a date or number" },
        { "integer overflowing", R"("version": 1)", R"("version": 1e400)",
            "version: expected an integer, found a number" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string json = kOldVault;
        auto at = json.find(c.from);
        ASSERT_NE(at, std::string::npos);
        json.replace(at, c.from.size(), c.to);
        try {
            decodeJSON<Vault>(json);
            ADD_FAILURE() << "decoded";
        } catch (const JsonDecodeError& error) {
            EXPECT_EQ(std::string(error.what()), c.error);
        }
    }
    // A number that underflows is as close to zero as a double gets, and is kept.
    std::string tiny = kOldVault;
    tiny.replace(tiny.find("786000000.5"), 11, "1e-400");
    EXPECT_EQ(decodeJSON<Vault>(tiny).account().messages.elements().at(0).date, 0.0);
}

TEST(PageRecords, SnapshotDecodingRules)
{
    const std::string minimal
        = R"({"url":"https://dot.example/dots/home","ready":true,"busy":false,"reason":"","draft":"",
        "messages":[{"id":"m1","role":"assistant","text":"hi","extra":1}]})";
    DotSnapshot snapshot = decodeJSON<DotSnapshot>(minimal);
    EXPECT_FALSE(snapshot.requiresSignIn.value_or(false));
    EXPECT_FALSE(snapshot.blockedByDialog.value_or(false));
    EXPECT_FALSE(snapshot.avatarURL);
    ASSERT_EQ(snapshot.messages.size(), 1u);
    EXPECT_EQ(snapshot.messages[0].text, "hi");

    EXPECT_NO_THROW(
        decodeJSON<DotSnapshot>(R"({"url":"u","ready":true,"busy":false,"reason":"","draft":"","messages":[]})"));
    EXPECT_THROW(
        decodeJSON<DotSnapshot>(R"({"url":"u","ready":true,"busy":false,"reason":"","draft":""})"), JsonDecodeError);
    EXPECT_THROW(
        decodeJSON<DotSnapshot>(
            R"({"url":"u","ready":true,"busy":false,"reason":"","draft":"","messages":[{"id":"m","text":"t"}]})"),
        JsonDecodeError);
}

TEST(ChatMessageRecord, ReadReceiptListsWhatTheUserSaw)
{
    MessageAttachment withURL { "a1", "image", "Cat", "https://x/cat.png" };
    MessageAttachment withoutURL { "a2", "file", "Doc", std::nullopt };
    ChatMessage message { "R-reply", "dot", MessageRole::assistant, "Hi", 1, MessageStatus::sent };
    message.parts = std::vector<ReplyPart> {
        { "p1", "Hi", "<p>Hi</p>", 1, std::vector<MessageAttachment> { withURL, withoutURL } },
        { "p2", "more", std::nullopt, std::nullopt, std::nullopt },
    };
    EXPECT_EQ(message.readReceipt(),
        (std::vector<Text> { "R-reply", "Hi", "", "p1", "Hi", "<p>Hi</p>", "a1", "image", "Cat", "https://x/cat.png",
            "a2", "file", "Doc", "", "p2", "more", "" }));
}

// The writer skips runs of plain bytes a word at a time; an escapable byte must be caught at
// every position within a word and across word boundaries.
TEST(RecordsJson, EscapesAtEveryPositionOfAWord)
{
    const std::string escapable[] = { "\"", "\\", "\n", "\x01", "\x1f", "\x7f", "\xC3\xA9" };
    for (std::size_t length = 1; length <= 24; ++length)
        for (std::size_t at = 0; at < length; ++at)
            for (const auto& special : escapable) {
                std::string text(length, 'a');
                text.replace(at, 1, special);
                SCOPED_TRACE(::testing::PrintToString(text));
                ChatMessage message;
                message.text = text;
                const std::string encoded = encodeJSON(message);
                ASSERT_EQ(boost::json::parse(encoded).at("text").as_string(), text);
                // Control characters are written escaped, never raw.
                for (unsigned char c : encoded)
                    ASSERT_GE(c, 0x20);
                ASSERT_EQ(decodeJSON<ChatMessage>(encoded).text, text);
            }
}

// One writer serves both forms of "/": left as it is in the vault, written "\/" where the crew
// fingerprint needs it, at every position of a word, and read back the same either way.
TEST(RecordsJson, SlashesAreEscapedOnlyWhenAskedAtEveryPosition)
{
    for (std::size_t length = 1; length <= 24; ++length)
        for (std::size_t at = 0; at < length; ++at) {
            std::string text(length, 'a');
            text[at] = '/';
            SCOPED_TRACE(text);
            std::string plain;
            json_detail::appendEscaped(plain, text);
            std::string escaped;
            json_detail::appendEscaped(escaped, text, SlashEscape::backslash);
            ASSERT_EQ(plain, "\"" + text + "\"");
            std::string expected = text;
            expected.replace(at, 1, "\\/");
            ASSERT_EQ(escaped, "\"" + expected + "\"");
            ASSERT_EQ(boost::json::parse(escaped).as_string(), text);
        }
    std::string both;
    json_detail::appendEscaped(both, "a/\"\\\n\x01\xC3\xA9", SlashEscape::backslash);
    EXPECT_EQ(both, "\"a\\/\\\"\\\\\\n\\u0001\xC3\xA9\"");
}

}  // namespace
}  // namespace quorvane
