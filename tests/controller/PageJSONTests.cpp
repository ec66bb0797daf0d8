// The fast page encoder writes exactly the text the page has always received: the reference
// encoder (support/ReferencePageJSON.hpp) is the plain walk over the records with every date
// through iso8601(). Compared byte for byte over states made to reach every branch (escapes,
// control characters, non-ASCII text, empty and absent optionals, every message role and status,
// with and without a live reply, dates far from today) and over many seeded random states; and
// for the parts the shell sends on their own (a message, the live reply, one field), appended
// after text already in the buffer.

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <type_traits>
#include <vector>

#include <boost/describe/members.hpp>
#include <boost/mp11/algorithm.hpp>
#include <gtest/gtest.h>

#include "ReferencePageJSON.hpp"
#include "quorvane/Vault.hpp"
#include "quorvane/controller/ClientState.hpp"
#include "quorvane/controller/PageJSON.hpp"

namespace quorvane {
namespace {

constexpr double kUnixEpoch = -kReferenceDateUnixSeconds;  // 1970-01-01T00:00:00Z as a Date

// Dates where a formatter can go wrong: rounding to the millisecond (up into the next second,
// minute, day and year), leap days, the turn of centuries, before 1970 and before the reference
// date, the first and last four-digit years and just outside them.
const std::vector<std::pair<const char*, Date>>& edgeDates()
{
    static const std::vector<std::pair<const char*, Date>> dates = {
        { "the reference date", 0.0 },
        { "negative zero", -0.0 },
        { "a millisecond", 0.001 },
        { "below half a millisecond", 0.0004 },
        { "half a millisecond", 0.0005 },
        { "a smidgen", 1e-300 },
        { "a page date", 818548637.25 },
        { "rounds up into the next second", 818548637.9996 },
        { "rounds up into the next day", 818553599.9999 },
        { "rounds up into the next year", 820454399.9995 },
        { "2004-02-29 12:00:00.500", 99748800.5 },
        { "2000-02-29 00:00:00.125", -26524799.875 },
        { "2000-03-01", -26438400.0 },
        { "2100-02-28 23:59:59.999", 3129235199.999 },
        { "2100-03-01", 3129235200.0 },
        { "the Unix epoch", kUnixEpoch },
        { "just before the Unix epoch", kUnixEpoch - 0.25 },
        { "1969-12-31T23:59:59.9996", kUnixEpoch - 0.0004 },
        { "1900-03-01", kUnixEpoch - 2203891200.0 },
        { "1600-02-29 00:00:03.500", -12649305596.5 },
        { "0001-01-01T00:00:00.000", kUnixEpoch - 62135596800.0 },
        { "a moment before year 1", kUnixEpoch - 62135596800.5 },
        { "9999-12-31T23:59:59.998", kUnixEpoch + 253402300799.998 },
        { "rounds up into year 10000", kUnixEpoch + 253402300799.9996 },
        { "year 10000", kUnixEpoch + 253402300800.0 },
        { "far after", kUnixEpoch + 9e11 },
        { "beyond the fast range", kUnixEpoch + 2e12 },
        { "far before", kUnixEpoch - 2e12 },
    };
    return dates;
}

std::string quotedISO(Date date) { return "\"" + iso8601(date) + "\""; }

TEST(PageJSONDates, WriteWhatISO8601Writes)
{
    for (const auto& [name, date] : edgeDates()) {
        SCOPED_TRACE(name);
        std::string out = "x";
        page_json_detail::appendDate(out, date);
        EXPECT_EQ(out, "x" + quotedISO(date));
    }
}

TEST(PageJSONDates, AgreeWithISO8601AcrossTheCenturies)
{
    std::mt19937_64 random(20261209);
    // Whole milliseconds, fractions near a millisecond's half, and any double, from 1600 to 2400.
    std::uniform_real_distribution<double> anyDate(-12.6e9, 12.6e9);
    std::uniform_int_distribution<std::int64_t> anyMillisecond(-12'600'000'000'000, 12'600'000'000'000);
    for (int i = 0; i < 200'000; ++i) {
        Date date;
        switch (i % 3) {
        case 0:
            date = anyDate(random);
            break;
        case 1:
            date = static_cast<double>(anyMillisecond(random)) / 1000.0;
            break;
        default:
            date = (static_cast<double>(anyMillisecond(random)) + 0.5) / 1000.0;
        }
        std::string out;
        page_json_detail::appendDate(out, date);
        ASSERT_EQ(out, quotedISO(date)) << "date " << std::hexfloat << date;
    }
}

// ---- States -------------------------------------------------------------------------------------

// Text that needs every kind of escape, and text that needs none, in a few shapes.
const std::vector<std::string>& awkwardTexts()
{
    static const std::vector<std::string> texts = [] {
        std::vector<std::string> all = {
            "", "plain", "quote \" backslash \\ slash / </script>", "line\nbreak\ttab\rreturn\bback\fform",
            std::string("nul \0 inside", 12), "\x01\x02\x1f\x7f",
            "caf\xC3\xA9 \xE2\x80\x94 \xE6\x9D\xB1\xE4\xBA\xAC \xF0\x9F\x98\x80 \xE2\x80\xA8\xE2\x80\xA9",
            "\xFF\xFE not UTF-8",
            "12345678\"",  // a special character just past a whole word
            "1234567\\8",  // and at the last place of one
        };
        std::string every;
        for (int c = 0; c < 0x20; ++c)
            every.push_back(static_cast<char>(c));
        all.push_back(every);
        return all;
    }();
    return texts;
}

// A state that uses every optional field of every record, each text awkward in its own way.
ClientState everyFieldState()
{
    const auto& texts = awkwardTexts();
    std::size_t next = 0;
    auto text = [&] { return Text(texts[next++ % texts.size()]); };

    ClientState state;
    Account& account = state.account;
    account.id = "A\"1";
    account.browserProfile = text();
    account.label = "Your Dot";
    account.dotURL = "https://dot.example/dots/home";
    account.connectedOnce = true;
    Bot bot { "b1", text(), text(), text(), text(), text(), text(), text(), "data:image/png;base64,AAAA", true };
    account.bots = { Bot::starters().front(), bot };

    ReplyPart part { "p1", text(), text(), 818548637.25,
        std::vector<MessageAttachment> { MessageAttachment { "a1", "image", text(), text() },
            MessageAttachment { "a2", "file", text(), std::nullopt } } };
    ChatMessage full { "m1", "b1", MessageRole::assistant, text(), 818548637.9996, MessageStatus::sent, text(),
        CowVector<ReplyPart> { part, ReplyPart { "p2", "" } }, Text("dot"), Text("m0"), Text("h1"), false,
        QuotedReply { "m0", Text("p0"), text(), text() } };
    ChatMessage routing { "m2", "dot", MessageRole::event, text(), -1.5, MessageStatus::delegated };
    routing.isRouting = true;
    routing.parts = CowVector<ReplyPart> {};  // present but empty
    account.messages = CowVector<ChatMessage> { full, routing };
    account.drafts = { { "dot", text() }, { "b\"1\n", text() }, { "", "" } };

    PendingRequest job;
    job.id = "R1";
    job.botID = "b1";
    job.payload = text();
    job.phase = JobPhase::waiting;
    job.baseline = CowVector<Text> { "x", text() };
    job.userMessageID = Text("turn-1");
    job.submitted = 818548600.0;
    job.note = text();
    job.rootRequestID = Text("R0");
    job.parentRequestID = Text("R0");
    job.returnBotID = Text("dot");
    job.delegationDepth = std::numeric_limits<std::int64_t>::min();
    job.isReport = false;
    job.manual = true;
    job.resultRequestID = Text("R2");
    job.attempts = std::numeric_limits<std::int64_t>::max();
    job.nextAttempt = 818548602.5;
    job.roleTargets = std::vector<RoleTarget> { RoleTarget { "b1", text() } };
    job.deliveryChecks = 0;
    job.lastDeliveryCheck = 818548601.0;
    job.inputText = text();
    job.turnName = text();
    job.turnIdentity = text();
    job.replyToken = Text("feedfacecafe");
    job.crewSetupRevision = text();
    job.crewSetupBody = text();
    job.crewSetupURL = text();
    account.jobs = { job, PendingRequest {} };
    account.selectedBot = "b1";
    account.handoffs
        = CowVector<Handoff> { Handoff { "h1", "R0", "dot", "b1", text(), HandoffStatus::stopped, Text("R0"), true } };
    account.unreadBots = std::vector<Text> { "b1", text() };
    account.readReplyIDs = std::map<std::string, std::vector<Text>> { { "dot", { "m1" } }, { "b\\1", {} } };
    account.replyWatches = CowVector<ReplyWatch> { ReplyWatch { job, { "reply-1", "reply-2" }, true } };
    account.pendingDraftCleanup = std::vector<Text> {};
    account.installedCrewRevision = Text("");
    account.installedCrewURL = text();
    account.draftReplies
        = std::map<std::string, QuotedReply> { { "dot", QuotedReply { "m1", std::nullopt, "Dot", text() } } };
    account.unassignedReplies = std::vector<UnassignedReply> { UnassignedReply {
        "page-9", DotMessage { "page-9", "assistant", text(), text(), std::vector<MessageAttachment> {} }, 1e-300 } };
    account.assignedRemoteReplies = std::map<std::string, Text> { { "page-8", "b1" } };
    account.ignoredRemoteReplyIDs = std::vector<Text> { "page-7" };

    state.theme = Theme::dark;
    state.appIconStyle = AppIconStyle::dot;
    state.connection = ConnectionStatus::expired;
    state.issue = text();
    state.storageHealthy = false;
    state.accounts = { SavedAccount { account.id, text(), true }, SavedAccount { "A2", "", false } };
    state.systemDark = true;
    state.liveReply = full;
    state.liveReplies = { full, routing };
    return state;
}

// One message for every role and status, in a state of every connection status in turn.
ClientState everyStatusState()
{
    ClientState state;
    state.account = Vault::fresh().account();
    std::vector<ChatMessage> messages;
    for (std::size_t role = 0; role < EnumNames<MessageRole>::names.size(); ++role)
        for (std::size_t status = 0; status < EnumNames<MessageStatus>::names.size(); ++status)
            messages.push_back(
                ChatMessage { "m" + std::to_string(messages.size()), "dot", static_cast<MessageRole>(role), "text",
                    818548637.25 + static_cast<double>(messages.size()), static_cast<MessageStatus>(status) });
    state.account.messages = CowVector<ChatMessage>(std::move(messages));
    state.accounts = { SavedAccount { state.account.id, "Dot connection 1", true } };
    return state;
}

// A state drawn at random: lists of random length, each optional present, present but empty,
// or absent, texts built from the awkward ones, dates from anywhere.
class RandomStates {
public:
    explicit RandomStates(std::uint64_t seed)
        : random_(seed)
    {
    }

    ClientState next()
    {
        ClientState state;
        Account& account = state.account;
        account.id = text();
        account.browserProfile = text();
        account.label = text();
        account.dotURL = text();
        account.connectedOnce = coin();
        account.bots = list([&] {
            return Bot { text(), text(), text(), text(), maybe([&] { return text(); }), maybe([&] { return text(); }),
                maybe([&] { return text(); }), maybe([&] { return text(); }), maybe([&] { return text(); }), coin() };
        });
        account.messages = CowVector<ChatMessage>(list([&] { return message(); }));
        account.drafts = map([&] { return text(); });
        account.jobs = list([&] { return job(); });
        account.selectedBot = text();
        account.handoffs = maybe([&] {
            return CowVector<Handoff>(list([&] {
                return Handoff { text(), text(), text(), text(), text(), pick<HandoffStatus>(),
                    maybe([&] { return text(); }), maybe([&] { return coin(); }) };
            }));
        });
        account.unreadBots = maybe([&] { return texts(); });
        account.readReplyIDs = maybe([&] { return map([&] { return texts(); }); });
        account.replyWatches = maybe([&] {
            return CowVector<ReplyWatch>(list([&] { return ReplyWatch { job(), texts(), coin() }; }));
        });
        account.pendingDraftCleanup = maybe([&] { return texts(); });
        account.installedCrewRevision = maybe([&] { return text(); });
        account.installedCrewURL = maybe([&] { return text(); });
        account.draftReplies = maybe([&] { return map([&] { return quote(); }); });
        account.unassignedReplies = maybe([&] {
            return list([&] {
                return UnassignedReply { text(),
                    DotMessage {
                        text(), text(), text(), maybe([&] { return text(); }), maybe([&] { return attachments(); }) },
                    date() };
            });
        });
        account.assignedRemoteReplies = maybe([&] { return map([&] { return text(); }); });
        account.ignoredRemoteReplyIDs = maybe([&] { return texts(); });
        state.theme = pick<Theme>();
        state.appIconStyle = pick<AppIconStyle>();
        state.connection = pick<ConnectionStatus>();
        state.issue = text();
        state.storageHealthy = coin();
        state.accounts = list([&] { return SavedAccount { text(), text(), coin() }; });
        state.systemDark = coin();
        state.liveReply = maybe([&] { return message(); });
        state.liveReplies = list([&] { return message(); });
        return state;
    }

private:
    bool coin() { return random_() % 2 == 0; }
    std::size_t below(std::size_t n) { return static_cast<std::size_t>(random_() % n); }

    template <class E>
    E pick()
    {
        return static_cast<E>(below(EnumNames<E>::names.size()));
    }

    // Absent a third of the time; otherwise made (which may be empty).
    template <class Make>
    auto maybe(Make make) -> std::optional<decltype(make())>
    {
        if (below(3) == 0)
            return std::nullopt;
        return make();
    }

    template <class Make>
    auto list(Make make) -> std::vector<decltype(make())>
    {
        std::vector<decltype(make())> out;
        for (std::size_t n = below(4); n > 0; --n)
            out.push_back(make());
        return out;
    }

    template <class Make>
    auto map(Make make) -> std::map<std::string, decltype(make())>
    {
        std::map<std::string, decltype(make())> out;
        for (std::size_t n = below(3); n > 0; --n)
            out[text().str()] = make();
        return out;
    }

    Text text()
    {
        const auto& pieces = awkwardTexts();
        std::string out;
        for (std::size_t n = below(4); n > 0; --n)
            out += pieces[below(pieces.size())];
        return out;
    }

    std::vector<Text> texts()
    {
        return list([&] { return text(); });
    }

    Date date()
    {
        if (coin())
            return edgeDates()[below(edgeDates().size())].second;
        return std::uniform_real_distribution<double>(-3e9, 3e9)(random_);
    }

    std::vector<MessageAttachment> attachments()
    {
        return list([&] { return MessageAttachment { text(), text(), text(), maybe([&] { return text(); }) }; });
    }

    QuotedReply quote()
    {
        return QuotedReply { text(), maybe([&] { return text(); }), text(), text() };
    }

    ChatMessage message()
    {
        return ChatMessage { text(), text(), pick<MessageRole>(), text(), date(), pick<MessageStatus>(),
            maybe([&] { return text(); }), maybe([&] {
                return CowVector<ReplyPart>(list([&] {
                    return ReplyPart { text(), text(), maybe([&] { return text(); }), maybe([&] { return date(); }),
                        maybe([&] { return attachments(); }) };
                }));
            }),
            maybe([&] { return text(); }), maybe([&] { return text(); }), maybe([&] { return text(); }),
            maybe([&] { return coin(); }), maybe([&] { return quote(); }) };
    }

    PendingRequest job()
    {
        auto number = [&] { return static_cast<std::int64_t>(random_()); };
        PendingRequest job;
        job.id = text();
        job.botID = text();
        job.payload = text();
        job.phase = pick<JobPhase>();
        job.baseline = CowVector<Text>(texts());
        job.userMessageID = maybe([&] { return text(); });
        job.submitted = maybe([&] { return date(); });
        job.note = text();
        job.rootRequestID = maybe([&] { return text(); });
        job.parentRequestID = maybe([&] { return text(); });
        job.returnBotID = maybe([&] { return text(); });
        job.delegationDepth = maybe(number);
        job.isReport = maybe([&] { return coin(); });
        job.manual = maybe([&] { return coin(); });
        job.resultRequestID = maybe([&] { return text(); });
        job.attempts = maybe(number);
        job.nextAttempt = maybe([&] { return date(); });
        job.roleTargets = maybe([&] { return list([&] { return RoleTarget { text(), text() }; }); });
        job.deliveryChecks = maybe(number);
        job.lastDeliveryCheck = maybe([&] { return date(); });
        job.inputText = maybe([&] { return text(); });
        job.turnName = maybe([&] { return text(); });
        job.turnIdentity = maybe([&] { return text(); });
        job.replyToken = maybe([&] { return text(); });
        job.crewSetupRevision = maybe([&] { return text(); });
        job.crewSetupBody = maybe([&] { return text(); });
        job.crewSetupURL = maybe([&] { return text(); });
        return job;
    }

    std::mt19937_64 random_;
};

// Equal texts, or where they part: a state's text is long, and the first difference is what
// tells the fault.
::testing::AssertionResult sameText(const std::string& actual, const std::string& expected)
{
    if (actual == expected)
        return ::testing::AssertionSuccess();
    std::size_t at = 0;
    while (at < actual.size() && at < expected.size() && actual[at] == expected[at])
        ++at;
    const std::size_t from = at < 60 ? 0 : at - 60;
    return ::testing::AssertionFailure() << "the texts part at byte " << at << "\n  written:  …"
                                         << actual.substr(from, 120) << "\n  expected: …" << expected.substr(from, 120);
}

void expectSameAsReference(const ClientState& state)
{
    const std::string expected = reference::referencePageJSON(state);
    ASSERT_TRUE(sameText(encodePageJSON(state), expected));
    // The shell appends the state after its own envelope.
    std::string out = "{\"seq\":1,\"base\":0,\"state\":";
    appendPageJSON(out, state);
    EXPECT_TRUE(sameText(out, "{\"seq\":1,\"base\":0,\"state\":" + expected));
}

// A history long enough for the encoder to ask for large pages (see PageJSON.hpp).
ClientState longHistoryState()
{
    ClientState state = everyStatusState();
    std::string text;
    while (text.size() < 6000)
        for (const auto& piece : awkwardTexts())
            text += piece;
    std::vector<ChatMessage> messages = state.account.messages.elements();
    for (int n = 0; n < 700; ++n)
        messages.push_back(ChatMessage { "long-" + std::to_string(n), "dot", MessageRole::assistant, text,
            818548637.25 + n * 61.125, MessageStatus::sent, Text("<p>" + text + "</p>") });
    state.account.messages = CowVector<ChatMessage>(std::move(messages));
    return state;
}

TEST(PageJSONStates, MatchTheReferenceByteForByte)
{
    ClientState withoutLiveReply = everyFieldState();
    withoutLiveReply.liveReply.reset();
    withoutLiveReply.liveReplies.clear();
    const std::vector<std::pair<const char*, ClientState>> states = {
        { "a default state", ClientState {} },
        { "a fresh vault's account", ClientState { Vault::fresh().account() } },
        { "every field, a live reply", everyFieldState() },
        { "every field, no live reply", withoutLiveReply },
        { "every role and status", everyStatusState() },
        { "a long history", longHistoryState() },
    };
    for (const auto& [name, state] : states) {
        SCOPED_TRACE(name);
        expectSameAsReference(state);
    }
}

TEST(PageJSONStates, RandomStatesMatchTheReference)
{
    RandomStates states(17);
    for (int i = 0; i < 300; ++i) {
        SCOPED_TRACE("random state " + std::to_string(i));
        expectSameAsReference(states.next());
    }
}

// What the shell sends on its own while a reply streams: one field of the state or of the account,
// a message, the live reply; each appended after what the buffer already holds.
template <class Record>
void expectFieldsSameAsReference(const Record& record)
{
    boost::mp11::mp_for_each<boost::describe::describe_members<Record, boost::describe::mod_public>>([&](auto member) {
        SCOPED_TRACE(member.name);
        const auto& field = record.*member.pointer;
        std::string out = "{\"set\":{";
        std::string expected = out;
        if constexpr (reference::IsOptional<std::remove_cvref_t<decltype(field)>>::value) {
            if (!field)
                return;
            appendPageJSON(out, *field);
            reference::appendReferencePageJSON(expected, *field);
        } else {
            appendPageJSON(out, field);
            reference::appendReferencePageJSON(expected, field);
        }
        EXPECT_TRUE(sameText(out, expected));
    });
}

TEST(PageJSONParts, FieldsAndMessagesMatchTheReference)
{
    RandomStates random(18);
    std::vector<ClientState> states = { everyFieldState(), everyStatusState() };
    for (int i = 0; i < 50; ++i)
        states.push_back(random.next());
    for (std::size_t i = 0; i < states.size(); ++i) {
        SCOPED_TRACE("state " + std::to_string(i));
        const ClientState& state = states[i];
        expectFieldsSameAsReference(state);
        expectFieldsSameAsReference(state.account);
        std::string out;
        std::string expected;
        for (const ChatMessage& message : state.account.messages) {
            out.push_back(',');
            expected.push_back(',');
            appendPageJSON(out, message);
            reference::appendReferencePageJSON(expected, message);
        }
        if (state.liveReply) {
            appendPageJSON(out, *state.liveReply);
            reference::appendReferencePageJSON(expected, *state.liveReply);
        }
        EXPECT_TRUE(sameText(out, expected));
    }
}

}  // namespace
}  // namespace quorvane
