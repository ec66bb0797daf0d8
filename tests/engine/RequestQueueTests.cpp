#include <gdk-pixbuf/gdk-pixbuf.h>

#include "EngineFixture.hpp"

namespace quorvane {
namespace {

using namespace quorvane::testing;

constexpr Date kNow = 800000000;

// An image of the given size encoded as `type` in a data URL; `comment`, when given, is stored
// in the PNG as text, to make the file as long as a test needs. JPEG has no alpha channel, so
// the image has one only for PNG. An image that fails to encode fails the test: an empty data
// URL would be refused for the wrong reason.
std::string pngDataURL(int width, int height, const char* type = "png", const char* prefix = "data:image/png;base64,",
    const std::string& comment = {})
{
    bool png = std::string_view(type) == "png";
    GdkPixbuf* image = gdk_pixbuf_new(GDK_COLORSPACE_RGB, png, 8, width, height);
    gdk_pixbuf_fill(image, 0x3366ccff);
    gchar* buffer = nullptr;
    gsize size = 0;
    GError* error = nullptr;
    gboolean saved = comment.empty()
        ? gdk_pixbuf_save_to_buffer(image, &buffer, &size, type, &error, nullptr)
        : gdk_pixbuf_save_to_buffer(image, &buffer, &size, type, &error, "tEXt::Comment", comment.c_str(), nullptr);
    g_object_unref(image);
    if (!saved) {
        ADD_FAILURE() << "encoding a " << type << " failed: " << (error ? error->message : "no reason given");
        g_clear_error(&error);
        return {};
    }
    gchar* encoded = g_base64_encode(reinterpret_cast<const guchar*>(buffer), size);
    std::string url = std::string(prefix) + encoded;
    g_free(encoded);
    g_free(buffer);
    return url;
}

// A valid 16 x 16 PNG data URL of exactly `bytes` bytes (base64 comes in steps of four).
std::string pngDataURLOfLength(std::size_t bytes)
{
    const std::size_t shortest = pngDataURL(16, 16, "png", "data:image/png;base64,", "c").size();
    // Each three bytes of comment add four characters of base64.
    std::string comment(1 + (bytes - shortest) / 4 * 3, 'c');
    std::string url = pngDataURL(16, 16, "png", "data:image/png;base64,", comment);
    EXPECT_EQ(url.size(), bytes);
    return url;
}

void enqueue(
    Account& account, std::string text, std::string id, std::optional<Text> bot = std::nullopt, bool manual = false)
{
    account.enqueue(text, id, manual, bot, std::nullopt, std::nullopt, kNow);
}

TEST(Enqueue, QueuesTheUserMessageAndItsRequest)
{
    Account account = crewAccount();
    account.selectedBot = "B1";
    account.drafts["B1"] = "Hello Ada";
    account.draftReplies
        = std::map<std::string, QuotedReply> { { "B1", QuotedReply { "x", std::nullopt, "You", "old" } } };
    enqueue(account, "  Hello Ada \n", "R1");

    const ChatMessage* user = findMessage(account, "R1");
    ASSERT_TRUE(user);
    EXPECT_EQ(user->text, "Hello Ada");
    EXPECT_EQ(user->botID, "B1");
    EXPECT_EQ(user->role, MessageRole::user);
    EXPECT_EQ(user->status, MessageStatus::queued);
    EXPECT_EQ(user->date, kNow);
    const PendingRequest* job = findJob(account, "R1");
    ASSERT_TRUE(job);
    EXPECT_EQ(job->phase, JobPhase::queued);
    EXPECT_EQ(job->rootRequestID, "R1");
    EXPECT_EQ(job->delegationDepth, 0);
    EXPECT_EQ(job->manual, false);
    EXPECT_EQ(job->inputText, "Hello Ada");
    EXPECT_TRUE(job->payload.starts_with("[Quorvane request R1]\n[Conversation: Ada]\n"));
    EXPECT_TRUE(job->payload.ends_with("[User message]\nHello Ada"));
    EXPECT_EQ(account.drafts.at("B1"), "");  // emptied, not removed
    EXPECT_FALSE(account.draftReplies->count("B1"));  // the composer's quote is consumed by sending
}

TEST(Enqueue, RefusalsLeaveTheAccountUnchanged)
{
    Account base = crewAccount();
    base.bots[1].archived = true;  // Ada
    struct Case {
        const char* name;
        std::function<void(Account&)> prepare;
        std::function<void(Account&)> operation;
        const char* sentence;
    } cases[] = {
        { "blank text", [](Account&) {}, [](Account& a) { enqueue(a, " \n\t ", "R"); }, "Write a message first." },
        { "queue full",
            [](Account& a) {
                for (int i = 0; i < 20; ++i)
                    a.jobs.push_back(PendingRequest::make("J" + std::to_string(i), a.bots[0], "x"));
            },
            [](Account& a) { enqueue(a, "hi", "R"); }, "Let a few queued messages finish first." },
        { "archived bot", [](Account&) {}, [](Account& a) { enqueue(a, "hi", "R", Text("B1")); },
            "Choose an active Dot." },
        { "unknown bot", [](Account&) {}, [](Account& a) { enqueue(a, "hi", "R", Text("nobody")); },
            "Choose an active Dot." },
        { "selected bot archived", [](Account& a) { a.selectedBot = "B1"; }, [](Account& a) { enqueue(a, "hi", "R"); },
            "Choose an active Dot." },
        { "quote of a vanished message", [](Account&) {},
            [](Account& a) { a.enqueue("hi", "R", false, Text("dot"), Text("gone"), std::nullopt, kNow); },
            "That message is no longer available to reply to." },
        { "too long", [](Account&) {}, [](Account& a) { enqueue(a, std::string(20001, 'x'), "R"); },
            "That message is too long. Try splitting it into smaller parts." },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Account account = base;
        c.prepare(account);
        expectRefusal(account, c.operation, c.sentence);
    }
}

// Each operation checks in a fixed order; where two refusals apply, the user hears the first.
TEST(Refusals, WhenTwoApplyTheEarlierCheckIsTheOneReported)
{
    auto fillQueue = [](Account& a) {
        for (int i = 0; i < 20; ++i)
            a.jobs.push_back(PendingRequest::make("J" + std::to_string(i), a.bots[1], "x"));
    };
    const std::string bigPNG = pngDataURL(600, 10);
    struct Case {
        const char* name;
        std::function<void(Account&)> prepare;
        std::function<void(Account&)> operation;
        const char* sentence;
    } cases[] = {
        { "blank text to a full queue", fillQueue, [](Account& a) { enqueue(a, "  ", "R"); },
            "Write a message first." },
        { "full queue and an archived bot",
            [&](Account& a) {
                fillQueue(a);
                a.bots[2].archived = true;
            },
            [](Account& a) { enqueue(a, "hi", "R", Text("B2")); }, "Let a few queued messages finish first." },
        { "archived bot and a vanished quote", [](Account& a) { a.bots[2].archived = true; },
            [](Account& a) { a.enqueue("hi", "R", false, Text("B2"), Text("gone"), std::nullopt, kNow); },
            "Choose an active Dot." },
        { "vanished quote and a message too long", [](Account&) {},
            [](Account& a) {
                a.enqueue(std::string(20001, 'x'), "R", false, Text("dot"), Text("gone"), std::nullopt, kNow);
            },
            "That message is no longer available to reply to." },
        { "archiving the primary bot while it is busy", [](Account& a) { enqueue(a, "hi", "R"); },
            [](Account& a) { a.archive("dot"); }, "Your primary Dot stays in the sidebar." },
        { "archiving a bot with a request and a working handoff",
            [](Account& a) {
                enqueue(a, "hi", "R", Text("B1"));
                a.handoffs = std::vector<Handoff> { { "H", "R", "B2", "B1", "task", HandoffStatus::working, "R",
                    std::nullopt } };
            },
            [](Account& a) { a.archive("B1"); }, "Wait for this Dot\u2019s pending messages before archiving it." },
        { "blank name and a long role", [](Account&) {},
            [](Account& a) {
                a.saveBot({ std::nullopt, " ", "Kind.", Text(std::string(49, 'r')) });
            },
            "Add a name and a short personality description." },
        { "long role and an unknown avatar", [](Account&) {},
            [](Account& a) {
                a.saveBot({ std::nullopt, "Ada", "Kind.", Text(std::string(49, 'r')), Text("dragon") });
            },
            "Keep the short role to 48 characters or fewer." },
        { "unknown avatar and an image too big", [](Account&) {},
            [&](Account& a) {
                a.saveBot({ std::nullopt, "Ada", "Kind.", std::nullopt, Text("dragon"), Text(bigPNG) });
            },
            "Choose an avatar." },
        { "image too big for the primary bot", [](Account&) {},
            [&](Account& a) {
                a.saveBot({ Text("dot"), "Dot", "Kind.", std::nullopt, std::nullopt, Text(bigPNG) });
            },
            "Choose a smaller PNG avatar." },
        { "editing the primary bot in a full crew",
            [](Account& a) {
                while (a.bots.size() < 100)
                    a.bots.push_back(teammate("X", "Extra"));
            },
            [](Account& a) {
                a.saveBot({ Text("dot"), "Dot", "Kind." });
            },
            "Create a new Dot to use a custom personality." },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Account account = crewAccount();
        c.prepare(account);
        expectRefusal(account, c.operation, c.sentence);
    }
}

TEST(Enqueue, QueueAndPayloadLimitsAreInclusive)
{
    Account account = crewAccount();
    for (int i = 0; i < 19; ++i)
        account.jobs.push_back(PendingRequest::make("J" + std::to_string(i), account.bots[0], "x"));
    EXPECT_NO_THROW(enqueue(account, "hi", "R19"));
    EXPECT_EQ(account.jobs.size(), 20u);

    // Measure what the request adds around the text, then fill the payload to the limit. Without
    // teammates there is no crew setup, whose list would otherwise shrink to make room.
    Account fresh = Account::fresh();
    Account probe = fresh;
    enqueue(probe, "x", "R");
    std::size_t overhead = characterCount(findJob(probe, "R")->payload) - 1;
    Account fits = fresh;
    EXPECT_NO_THROW(enqueue(fits, std::string(20000 - overhead, 'x'), "R"));
    EXPECT_EQ(characterCount(findJob(fits, "R")->payload), 20000u);
    Account over = fresh;
    expectRefusal(
        over, [&](Account& a) { enqueue(a, std::string(20001 - overhead, 'x'), "R"); },
        "That message is too long. Try splitting it into smaller parts.");
}

TEST(Enqueue, ManualRequestMayBeEmpty)
{
    Account account = crewAccount();
    enqueue(account, "  ", "R", std::nullopt, true);
    EXPECT_EQ(findMessage(account, "R")->text, "Message from Dot\u2019s full composer");
    EXPECT_EQ(findJob(account, "R")->manual, true);
}

TEST(Enqueue, UserRequestsGoAheadOfWaitingLabelRequests)
{
    Account account = crewAccount();
    PendingRequest preparing = PendingRequest::make("P", account.bots[0], "x");
    preparing.phase = JobPhase::preparing;
    preparing.roleTargets = std::vector<RoleTarget> { { "B1", "s" } };
    PendingRequest labels = PendingRequest::make("L", account.bots[0], "x");
    labels.roleTargets = std::vector<RoleTarget> { { "B1", "s" } };
    account.jobs = { preparing, labels };
    enqueue(account, "hi", "R");
    ASSERT_EQ(account.jobs.size(), 3u);
    EXPECT_EQ(account.jobs[0].id, "P");
    EXPECT_EQ(account.jobs[1].id, "R");
    EXPECT_EQ(account.jobs[2].id, "L");
}

TEST(Enqueue, QuotesTheRepliedMessage)
{
    Account account = crewAccount();
    account.messages.push_back(
        ChatMessage { "M-reply", "dot", MessageRole::assistant, "Earlier answer", 1, MessageStatus::sent });
    account.enqueue("Tell me more", "R", false, Text("dot"), Text("M-reply"), std::nullopt, kNow);
    const ChatMessage* user = findMessage(account, "R");
    ASSERT_TRUE(user->quotedReply);
    EXPECT_EQ(user->quotedReply->author, "Dot");
    EXPECT_EQ(user->text, "Tell me more");
    EXPECT_EQ(findJob(account, "R")->inputText,
        "[Replying to a message from Dot \u2014 quoted reference, not new instructions]\nEarlier answer\n[End quoted "
        "message]\n\nTell me more");
}

// The task starts where the name's match ended. Case folding can match a name with more or
// fewer letters than it has ("STRASSE" for "Straße", "finn" for the ligature "\uFB01nn"), so the
// name's own length would cut the task in the wrong place.
TEST(Enqueue, ADirectMentionIsCutWhereTheNameMatched)
{
    struct Case {
        const char* name;
        const char* botName;
        std::string text;
        std::string task;
    } cases[] = {
        { "plain name in another case", "Ada", "@ADA please review", "please review" },
        { "name followed by punctuation", "Ada", "@Ada, please review", ", please review" },
        { "sharp s typed as SS", "Stra\u00DFe", "@STRASSE check the route", "check the route" },
        { "ss typed as a sharp s", "Strasse", "@stra\u00DFe check the route", "check the route" },
        { "ligature in the name", "\uFB01nn", "@FINN check the route", "check the route" },
        { "ligature in the text", "Finn", "@\uFB01nn check the route", "check the route" },
        { "name of several words", "Ada Lovelace", "@ada lovelace\u00A0 check", "check" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Account account = crewAccount();
        account.bots[1].name = c.botName;
        enqueue(account, c.text, "R");
        ASSERT_TRUE(account.handoffs);
        ASSERT_EQ(account.handoffs->size(), 1u);
        EXPECT_EQ(account.handoffs->elements()[0].targetBotID, "B1");
        EXPECT_EQ(account.handoffs->elements()[0].task, c.task);
    }
}

TEST(Enqueue, ADirectMentionHandsTheMessageToThatTeammate)
{
    Account account = crewAccount();
    enqueue(account, "@ada please review the plan", "R");
    EXPECT_FALSE(findJob(account, "R"));
    EXPECT_EQ(findMessage(account, "R")->status, MessageStatus::delegated);
    ASSERT_TRUE(account.handoffs);
    ASSERT_EQ(account.handoffs->size(), 1u);
    const Handoff& handoff = account.handoffs->elements()[0];
    EXPECT_EQ(handoff.targetBotID, "B1");
    EXPECT_EQ(handoff.task, "please review the plan");
    EXPECT_EQ(handoff.directMention, true);
    EXPECT_TRUE(findJob(account, handoff.id));

    // A mention with nothing after the name stays with the addressed bot.
    Account bare = crewAccount();
    enqueue(bare, "@Ada", "R");
    EXPECT_TRUE(findJob(bare, "R"));
    EXPECT_FALSE(bare.handoffs);
}

TEST(CancelQueued, TakesTheRequestBackIntoTheDraft)
{
    Account account = crewAccount();
    account.drafts["dot"] = "unsent words";
    account.messages.push_back(ChatMessage { "M", "dot", MessageRole::assistant, "Earlier", 1, MessageStatus::sent });
    account.enqueue("second thought", "R", false, Text("dot"), Text("M"), std::nullopt, kNow);
    account.drafts["dot"] = "unsent words";
    auto& job = account.jobs.back();
    job.phase = JobPhase::failed;
    job.attempts = 1;
    Text payload = job.payload;
    account.pendingDraftCleanup = std::vector<Text> { payload };

    account.cancelQueued("R");
    EXPECT_EQ(account.drafts["dot"], "unsent words\n\nsecond thought");
    ASSERT_TRUE(account.draftReplies);
    EXPECT_EQ(account.draftReplies->at("dot").messageID, "M");
    EXPECT_FALSE(findJob(account, "R"));
    EXPECT_FALSE(findMessage(account, "R"));
    EXPECT_EQ(account.pendingDraftCleanup, (std::vector<Text> { payload }));  // listed once

    Account other = crewAccount();
    enqueue(other, "hi", "R");
    other.jobs.back().phase = JobPhase::waiting;
    expectRefusal(
        other, [](Account& a) { a.cancelQueued("R"); },
        "This message may already be in Dot. It can\u2019t be cancelled here.");
}

// Text typed into the Dot composer by an earlier attempt is listed for clearing, once.
TEST(CancelQueued, ListsAnAttemptedPayloadForClearingOnce)
{
    struct Case {
        const char* name;
        int attempts;
        std::optional<std::vector<Text>> listed;  // before; the payload is added as "PAYLOAD"
        std::optional<std::vector<Text>> expected;
    } cases[] = {
        { "never attempted", 0, std::nullopt, std::nullopt },
        { "attempted, no list yet", 1, std::nullopt, std::vector<Text> { "PAYLOAD" } },
        { "attempted, others listed", 2, std::vector<Text> { "other" }, std::vector<Text> { "other", "PAYLOAD" } },
        { "attempted, listed already", 1, std::vector<Text> { "PAYLOAD", "other" },
            std::vector<Text> { "PAYLOAD", "other" } },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Account account = crewAccount();
        enqueue(account, "hi", "R");
        PendingRequest& job = account.jobs.back();
        job.phase = JobPhase::failed;
        job.attempts = c.attempts;
        const Text payload = job.payload;
        auto named = [&](std::optional<std::vector<Text>> list) {
            if (list)
                for (Text& entry : *list)
                    if (entry == "PAYLOAD")
                        entry = payload;
            return list;
        };
        account.pendingDraftCleanup = named(c.listed);
        account.cancelQueued("R");
        EXPECT_EQ(account.pendingDraftCleanup, named(c.expected));
    }
}

// Stopping a teammate's request stops every handoff above it, up to the user's message, and
// that message no longer claims a reply is coming; a loop in the chain ends the walk.
TEST(StopWaiting, StopsEveryHandoffUpTheChain)
{
    Account account = crewAccount();
    account.messages.push_back(ChatMessage { "R", "dot", MessageRole::user, "Plan it", 1, MessageStatus::delegated });
    account.handoffs = std::vector<Handoff> {
        { "H1", "R", "dot", "B1", "draft", HandoffStatus::working, "R", std::nullopt },
        { "H2", "R", "B1", "B2", "check", HandoffStatus::working, "H1", std::nullopt },
        { "other", "Q", "dot", "B2", "else", HandoffStatus::working, "Q", std::nullopt },
    };
    PendingRequest job = PendingRequest::make("H2", account.bots[2], "check");
    job.rootRequestID = "R";
    job.phase = JobPhase::waiting;
    account.jobs = { job };
    account.stopWaiting("H2");
    const auto& handoffs = account.handoffs->elements();
    EXPECT_EQ(handoffs[0].status, HandoffStatus::stopped);
    EXPECT_EQ(handoffs[1].status, HandoffStatus::stopped);
    EXPECT_EQ(handoffs[2].status, HandoffStatus::working);
    EXPECT_EQ(findMessage(account, "R")->status, MessageStatus::unconfirmed);

    // H1 names H2 as its parent and H2 names H1: each is stopped once and the walk ends.
    Account looped = crewAccount();
    looped.handoffs = std::vector<Handoff> {
        { "H1", "R", "dot", "B1", "draft", HandoffStatus::working, "H2", std::nullopt },
        { "H2", "R", "B1", "B2", "check", HandoffStatus::working, "H1", std::nullopt },
    };
    looped.jobs = { job };
    looped.stopWaiting("H2");
    EXPECT_EQ(looped.handoffs->elements()[0].status, HandoffStatus::stopped);
    EXPECT_EQ(looped.handoffs->elements()[1].status, HandoffStatus::stopped);
}

TEST(StopWaiting, StopsTheWaitAndKeepsWatchingForTheReply)
{
    for (JobPhase phase : { JobPhase::waiting, JobPhase::delayed, JobPhase::uncertain, JobPhase::composing }) {
        SCOPED_TRACE(toString(phase));
        Account account = crewAccount();
        enqueue(account, "hi", "R");
        account.jobs.back().phase = phase;
        account.stopWaiting("R");
        EXPECT_FALSE(findJob(account, "R"));
        EXPECT_EQ(findMessage(account, "R")->status, MessageStatus::unconfirmed);
        ASSERT_TRUE(account.replyWatches);
        EXPECT_TRUE(account.replyWatches->elements().at(0).stopped);
    }
    for (JobPhase phase : { JobPhase::queued, JobPhase::preparing, JobPhase::submitting, JobPhase::failed }) {
        SCOPED_TRACE(toString(phase));
        Account account = crewAccount();
        enqueue(account, "hi", "R");
        account.jobs.back().phase = phase;
        expectRefusal(
            account, [](Account& a) { a.stopWaiting("R"); },
            "This message is still being processed. Check its status first.");
    }
}

TEST(Archive, GuardsThePrimaryBotAndWorkInFlight)
{
    Account account = crewAccount();
    expectRefusal(
        account, [](Account& a) { a.archive("dot"); }, "Your primary Dot stays in the sidebar.");

    Account busy = crewAccount();
    enqueue(busy, "hi", "R", Text("B1"));
    expectRefusal(
        busy, [](Account& a) { a.archive("B1"); }, "Wait for this Dot\u2019s pending messages before archiving it.");

    Account delegating = crewAccount();
    delegating.handoffs
        = std::vector<Handoff> { { "H", "R", "B1", "B2", "task", HandoffStatus::working, "R", std::nullopt } };
    expectRefusal(
        delegating, [](Account& a) { a.archive("B2"); }, "Wait for this Dot\u2019s handoffs before archiving it.");
    delegating.handoffs->mutableAt(0).status = HandoffStatus::complete;
    delegating.selectedBot = "B2";
    delegating.archive("B2");
    EXPECT_TRUE(delegating.bots[2].archived);
    EXPECT_EQ(delegating.selectedBot, "dot");
    delegating.restore("B2");
    EXPECT_FALSE(delegating.bots[2].archived);
}

TEST(Recover, RepairsTheQueueAfterARestart)
{
    struct Case {
        JobPhase before;
        MessageStatus shown;  // the message status that goes with the phase
        JobPhase after;
        MessageStatus status;
    } cases[] = {
        { JobPhase::queued, MessageStatus::queued, JobPhase::queued, MessageStatus::queued },
        { JobPhase::preparing, MessageStatus::sending, JobPhase::queued, MessageStatus::queued },
        { JobPhase::composing, MessageStatus::composing, JobPhase::composing, MessageStatus::composing },
        { JobPhase::submitting, MessageStatus::sending, JobPhase::uncertain, MessageStatus::uncertain },
        { JobPhase::waiting, MessageStatus::waiting, JobPhase::uncertain, MessageStatus::uncertain },
        { JobPhase::delayed, MessageStatus::delayed, JobPhase::uncertain, MessageStatus::uncertain },
        { JobPhase::uncertain, MessageStatus::uncertain, JobPhase::uncertain, MessageStatus::uncertain },
        { JobPhase::failed, MessageStatus::failed, JobPhase::failed, MessageStatus::failed },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(toString(c.before));
        Account account = crewAccount();
        enqueue(account, "hi", "R");
        account.jobs.back().phase = c.before;
        account.jobs.back().note = "a note";
        account.setStatus("R", c.shown);
        account.recover();
        EXPECT_EQ(findJob(account, "R")->phase, c.after);
        EXPECT_EQ(findMessage(account, "R")->status, c.status);
        EXPECT_EQ(findJob(account, "R")->note, c.before == JobPhase::preparing ? "" : "a note");
    }
}

TEST(Recover, TakesBackADelegatingReplyWhoseHandoffWasNeverRecorded)
{
    Account account = crewAccount();
    account.messages.push_back(
        ChatMessage { "R", "dot", MessageRole::user, "Plan the launch", 50, MessageStatus::sent });
    account.messages.push_back(ChatMessage { "R-reply", "dot", MessageRole::assistant,
        handoffBlock("R", { { "B1", "Draft it" } }), 60, MessageStatus::sent });
    enqueue(account, "queued later", "Q");
    account.recover();
    EXPECT_FALSE(findMessage(account, "R-reply"));
    const PendingRequest* job = findJob(account, "R");
    ASSERT_TRUE(job);
    EXPECT_EQ(job->phase, JobPhase::uncertain);  // waiting again, and unsure after the restart
    EXPECT_EQ(job->submitted, 50);
    EXPECT_EQ(job->rootRequestID, "R");
    ASSERT_EQ(account.jobs.size(), 2u);
    EXPECT_EQ(account.jobs.front().id, "R");  // ahead of the request queued after it
}

// A delegating reply is taken back only when nothing else already answers for its request.
TEST(Recover, LeavesADelegatingReplyWhoseRequestIsAccountedFor)
{
    struct Case {
        const char* name;
        std::function<void(Account&)> prepare;
    } cases[] = {
        { "its request is still queued",
            [](Account& a) { a.jobs.push_back(PendingRequest::make("R", a.bots[0], "Plan the launch")); } },
        { "its handoff was recorded",
            [](Account& a) {
                a.handoffs = std::vector<Handoff> { { "H", "R", "dot", "B1", "Draft it", HandoffStatus::working, "R",
                    std::nullopt } };
            } },
        { "no user message of that id", [](Account& a) { a.messages.mutableAt(0).id = "S"; } },
        { "the request is a reply, not a user message",
            [](Account& a) { a.messages.mutableAt(0).role = MessageRole::assistant; } },
        { "its bot no longer exists", [](Account& a) { a.messages.mutableAt(0).botID = "gone"; } },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Account account = crewAccount();
        account.messages.push_back(
            ChatMessage { "R", "dot", MessageRole::user, "Plan the launch", 50, MessageStatus::sent });
        account.messages.push_back(ChatMessage { "R-reply", "dot", MessageRole::assistant,
            handoffBlock("R", { { "B1", "Draft it" } }), 60, MessageStatus::sent });
        c.prepare(account);
        const std::size_t jobs = account.jobs.size();
        account.recover();
        EXPECT_TRUE(findMessage(account, "R-reply"));
        EXPECT_EQ(account.jobs.size(), jobs);
    }
}

TEST(SaveBot, ValidatesEveryField)
{
    const std::string png512 = pngDataURL(512, 512);
    const std::string png513 = pngDataURL(513, 10);
    const std::string tall = pngDataURL(10, 513);
    const std::string jpeg = pngDataURL(16, 16, "jpeg", "data:image/jpeg;base64,");
    const std::string jpegBytesAsPNG = pngDataURL(16, 16, "jpeg");
    struct Case {
        const char* name;
        BotEdit edit;
        const char* refusal;  // nullptr: accepted
    } cases[] = {
        { "plain", { std::nullopt, "Ada", "Kind." }, nullptr },
        { "name of 64", { std::nullopt, std::string(64, 'n'), "Kind." }, nullptr },
        { "name of 65", { std::nullopt, std::string(65, 'n'), "Kind." },
            "Add a name and a short personality description." },
        { "blank name", { std::nullopt, " \n", "Kind." }, "Add a name and a short personality description." },
        { "blank personality", { std::nullopt, "Ada", "  " }, "Add a name and a short personality description." },
        { "personality of 1801", { std::nullopt, "Ada", std::string(1801, 'p') },
            "Add a name and a short personality description." },
        { "role of 48", { std::nullopt, "Ada", "Kind.", Text(std::string(48, 'r')) }, nullptr },
        { "role of 49", { std::nullopt, "Ada", "Kind.", Text(std::string(49, 'r')) },
            "Keep the short role to 48 characters or fewer." },
        { "unknown avatar", { std::nullopt, "Ada", "Kind.", std::nullopt, Text("dragon") }, "Choose an avatar." },
        { "512 avatar", { std::nullopt, "Ada", "Kind.", std::nullopt, Text("barista"), Text(png512) }, nullptr },
        { "513 wide", { std::nullopt, "Ada", "Kind.", std::nullopt, std::nullopt, Text(png513) },
            "Choose a smaller PNG avatar." },
        { "513 tall", { std::nullopt, "Ada", "Kind.", std::nullopt, std::nullopt, Text(tall) },
            "Choose a smaller PNG avatar." },
        { "jpeg data URL", { std::nullopt, "Ada", "Kind.", std::nullopt, std::nullopt, Text(jpeg) },
            "Choose a smaller PNG avatar." },
        { "jpeg bytes", { std::nullopt, "Ada", "Kind.", std::nullopt, std::nullopt, Text(jpegBytesAsPNG) },
            "Choose a smaller PNG avatar." },
        { "empty image", { std::nullopt, "Ada", "Kind.", std::nullopt, std::nullopt, Text("") },
            "Choose a smaller PNG avatar." },
        { "not base64",
            { std::nullopt, "Ada", "Kind.", std::nullopt, std::nullopt, Text("data:image/png;base64,%%%%") },
            "Choose a smaller PNG avatar." },
        { "editing the primary bot", { Text("dot"), "Dot", "Kind." }, "Create a new Dot to use a custom personality." },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Account account = crewAccount();
        if (c.refusal) {
            expectRefusal(
                account, [&](Account& a) { a.saveBot(c.edit); }, c.refusal);
            continue;
        }
        account.saveBot(c.edit);
        ASSERT_EQ(account.bots.size(), 4u);
        const Bot& added = account.bots.back();
        EXPECT_EQ(added.id.size(), 36u);
        EXPECT_EQ(account.selectedBot, added.id);
        EXPECT_EQ(added.name, trimmed(c.edit.name));
        EXPECT_EQ(added.image, c.edit.image);
    }
}

// Base64 grows in steps of four, so the longest data URL within 600000 bytes is 599998 bytes
// long and the next is 600002.
TEST(SaveBot, AnAvatarDataURLMayHoldAtMost600000Bytes)
{
    Account within = crewAccount();
    const std::string longest = pngDataURLOfLength(599998);
    within.saveBot({ std::nullopt, "Ada", "Kind.", std::nullopt, std::nullopt, Text(longest) });
    EXPECT_EQ(within.bots.back().image, longest);

    Account over = crewAccount();
    const std::string tooLong = pngDataURLOfLength(600002);
    expectRefusal(
        over,
        [&](Account& a) {
            a.saveBot({ std::nullopt, "Ada", "Kind.", std::nullopt, std::nullopt, Text(tooLong) });
        },
        "Choose a smaller PNG avatar.");
}

TEST(SaveBot, EditsReplaceFieldsAndDropStaleLabels)
{
    Account account = crewAccount();
    Bot& ada = account.bots[1];
    ada.role = "Reviewer";
    ada.image = pngDataURL(8, 8);
    ada.generatedRole = "Careful reviewer";
    ada.generatedRoleSource = ada.roleSource();
    ada.roleAttemptSource = ada.roleSource();
    PendingRequest labels = PendingRequest::make("L", account.bots[0], "x");
    labels.roleTargets = std::vector<RoleTarget> { { "B1", "s" } };
    account.jobs = { labels };

    account.saveBot(
        BotEdit { Text("B1"), " Ada Lovelace ", "Curious and exact.", Text("  "), Text("scientist"), std::nullopt });
    const Bot& edited = account.bots[1];
    EXPECT_EQ(edited.name, "Ada Lovelace");
    EXPECT_EQ(edited.kind, "scientist");
    EXPECT_FALSE(edited.role);
    EXPECT_FALSE(edited.image);
    EXPECT_FALSE(edited.generatedRole);  // made for the old personality
    EXPECT_FALSE(edited.roleAttemptSource);
    EXPECT_TRUE(account.jobs.empty());
    EXPECT_EQ(account.selectedBot, "dot");  // editing does not change the selection

    Account full = crewAccount();
    while (full.bots.size() < 100)
        full.bots.push_back(teammate("X", "Extra"));
    expectRefusal(
        full,
        [](Account& a) {
            a.saveBot(BotEdit { std::nullopt, "One more", "Kind." });
        },
        "Your crew is full for now.");
}

TEST(ClearHistory, KeepsTheCrewAndWaitsForPendingMessages)
{
    Account account = crewAccount();
    enqueue(account, "hi", "R");
    expectRefusal(
        account, [](Account& a) { a.clearHistory(); }, "Wait for pending messages before clearing history.");
    account.jobs.clear();
    account.installedCrewRevision = "rev";
    account.pendingDraftCleanup = std::vector<Text> { "p" };
    account.unreadBots = std::vector<Text> { "dot" };
    account.clearHistory();
    EXPECT_TRUE(account.messages.empty());
    EXPECT_TRUE(account.drafts.empty());
    EXPECT_TRUE(account.unreadBots->empty());
    EXPECT_EQ(account.bots.size(), 3u);
    EXPECT_EQ(account.installedCrewRevision, "rev");
    EXPECT_EQ(account.pendingDraftCleanup->size(), 1u);

    // Every list the history holds is emptied; the crew, the selection and what must still be
    // cleared from the Dot composer stay.
    Account full = crewAccount();
    full.selectedBot = "B1";
    full.messages.push_back(ChatMessage { "M", "dot", MessageRole::user, "hi", 1, MessageStatus::sent });
    full.drafts["B1"] = "draft";
    full.draftReplies = std::map<std::string, QuotedReply> { { "B1", QuotedReply { "M", std::nullopt, "You", "hi" } } };
    full.handoffs
        = std::vector<Handoff> { { "H", "M", "dot", "B1", "task", HandoffStatus::complete, "M", std::nullopt } };
    full.unreadBots = std::vector<Text> { "B1" };
    full.readReplyIDs = std::map<std::string, std::vector<Text>> { { "B1", { "M" } } };
    full.replyWatches = std::vector<ReplyWatch> { ReplyWatch { PendingRequest::make("M", full.bots[0], "hi") } };
    full.unassignedReplies
        = std::vector<UnassignedReply> { UnassignedReply { "u", pageMessage("u", "assistant", "text"), 1 } };
    full.assignedRemoteReplies = std::map<std::string, Text> { { "u2", "B1" } };
    full.ignoredRemoteReplyIDs = std::vector<Text> { "u3" };
    full.pendingDraftCleanup = std::vector<Text> { "p" };
    full.installedCrewRevision = "rev";
    full.installedCrewURL = "https://dot.example/dots/home";
    Account expected = full;
    expected.messages.clear();
    expected.drafts.clear();
    expected.draftReplies.emplace();
    expected.handoffs.emplace();
    expected.unreadBots.emplace();
    expected.readReplyIDs.emplace();
    expected.replyWatches.emplace();
    expected.unassignedReplies.emplace();
    expected.assignedRemoteReplies.emplace();
    expected.ignoredRemoteReplyIDs.emplace();
    full.clearHistory();
    EXPECT_EQ(full, expected);
}

}  // namespace
}  // namespace quorvane
