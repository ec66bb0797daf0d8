// Every command path of the dispatcher, one table row each: the command, its data as the page
// sends it, the account before (built with the engine's own operations, see CommandHarness.hpp),
// and what must happen: the exact sentence thrown, or ignored (no change, no save, no
// publication), or carried out (exactly the expected change, one save when something changed,
// and exactly one forced publication, last).

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CardPNGs.hpp"
#include "CommandHarness.hpp"
#include "quorvane/CharacterCard.hpp"
#include "quorvane/controller/ConversationExport.hpp"

namespace quorvane::testing {
namespace {

constexpr const char* kClient = "5d1e2f3a-4b5c-4d6e-8f70-8192a3b4c5d6";

struct Expect {
    enum class Kind { refused, ignored, accepted, shown };
    Kind kind = Kind::accepted;
    std::string sentence {};
    // Carried out: turns the vault before into the one expected after (`after` only supplies
    // what the command makes up itself, such as a new bot's id).
    std::function<void(Vault& expected, const Vault& after)> change {};
    std::function<void()> effects {};  // carried out: what else it did
};

Expect refused(std::string sentence) { return { Expect::Kind::refused, std::move(sentence) }; }
Expect ignored() { return { Expect::Kind::ignored }; }
Expect accepted(std::function<void(Vault&, const Vault&)> change = {}, std::function<void()> effects = {})
{
    return { Expect::Kind::accepted, {}, std::move(change), std::move(effects) };
}
// Carried out without any change to the vault.
Expect unchanged(std::function<void()> effects = {}) { return accepted({}, std::move(effects)); }
// Carried out by changing only what the page shows (a search): no change to the vault, no save,
// and one publication that carries the new state rather than repeating the old one.
Expect shown(std::function<void()> effects) { return { Expect::Kind::shown, {}, {}, std::move(effects) }; }

struct Row {
    std::string command;
    std::string data;  // JSON; "{name}" stands for an id of the standard account
    Expect expect;
    CommandTest::Queue queue = CommandTest::Queue::quiet;
    std::function<void(Vault&)> adjust = {};  // applied to the standard account first
};

// The expected change of a command that adds the bot `edit` describes (and selects it). The new
// bot's id is made up by the command, so it is taken from what the command made.
auto added(BotEdit edit)
{
    return [edit](Vault& v, const Vault& after) {
        v.account().saveBot(edit);
        const Text made = after.account().bots.back().id;
        v.account().bots.back().id = made;
        v.account().selectedBot = made;
    };
}

class CommandTableTest : public CommandTest {
protected:
    void check(const std::vector<Row>& rows)
    {
        for (const Row& row : rows) {
            SCOPED_TRACE(row.command + " " + row.data.substr(0, 200));
            restart(row.queue, row.adjust);
            const Vault before = controller->vault();
            const std::string beforeJSON = encoded(before);
            const CommandResult result = perform(row.command, row.data);
            const std::string afterJSON = encoded(controller->vault());

            switch (row.expect.kind) {
            case Expect::Kind::refused:
                EXPECT_EQ(result.error, row.expect.sentence);
                break;
            case Expect::Kind::ignored:
            case Expect::Kind::accepted:
            case Expect::Kind::shown:
                EXPECT_EQ(result.error, std::nullopt);
                break;
            }
            if (row.expect.kind == Expect::Kind::shown) {
                EXPECT_EQ(afterJSON, beforeJSON);
                EXPECT_EQ(result.saves, 0);
                EXPECT_EQ(result.publications, 1);
                EXPECT_FALSE(result.lastForced);
                row.expect.effects();
                continue;
            }
            if (row.expect.kind != Expect::Kind::accepted) {
                EXPECT_EQ(afterJSON, beforeJSON);
                EXPECT_EQ(result.saves, 0);
                EXPECT_EQ(result.publications, 0);
                continue;
            }
            Vault expected = before;
            if (row.expect.change)
                row.expect.change(expected, controller->vault());
            EXPECT_EQ(afterJSON, encoded(expected));
            const bool changed = encoded(expected) != beforeJSON;
            EXPECT_EQ(result.saves, changed ? 1 : 0);
            if (changed) {
                ASSERT_TRUE(store->saved);
                EXPECT_EQ(encoded(*store->saved), afterJSON);
            }
            EXPECT_EQ(result.forced, 1);
            EXPECT_TRUE(result.lastForced);
            if (row.expect.effects)
                row.expect.effects();
        }
    }
};

Bot& bot(Vault& vault, std::string_view id)
{
    for (Bot& bot : vault.account().bots)
        if (bot.id == id)
            return bot;
    throw std::logic_error("no such bot");
}

// ---- Settings and the composer ------------------------------------------------------------------

TEST_F(CommandTableTest, ThemeIconSelectionAndDrafts)
{
    auto setTheme = [](Theme theme) { return [theme](Vault& v, const Vault&) { v.theme = theme; }; };
    auto darkFirst = [](Vault& v) { v.theme = Theme::dark; };
    auto setIcon = [](AppIconStyle style) { return [style](Vault& v, const Vault&) { v.appIconStyle = style; }; };
    auto select = [this](const char* name) {
        return [this, name](Vault& v, const Vault&) { v.account().selectedBot = id(name); };
    };
    auto draft = [this](const char* name, std::string text) {
        return [this, name, text](Vault& v, const Vault&) { v.account().drafts[id(name)] = text; };
    };
    auto adaDraft = [this](Vault& v) { v.account().drafts[id("ada")] = "Earlier text"; };
    const std::string longest(22000, 'a');
    std::string combining;  // 22000 characters of two code points (e + combining acute accent) each
    for (int i = 0; i < 22000; ++i)
        combining += "e\u0301";

    check({
        { "theme", R"({"theme":"dark"})", accepted(setTheme(Theme::dark)) },
        { "theme", R"({"theme":"system"})", accepted(setTheme(Theme::system)) },
        { "theme", R"({})", accepted(setTheme(Theme::light)), Queue::quiet, darkFirst },
        // A value of another type counts as absent, so it takes the default too.
        { "theme", R"({"theme":5})", accepted(setTheme(Theme::light)), Queue::quiet, darkFirst },
        { "theme", R"({"theme":"light"})", unchanged() },
        { "theme", R"({"theme":"Dark"})", ignored() },
        { "theme", R"({"theme":""})", ignored() },

        { "appIcon", R"({"style":"dot"})", accepted(setIcon(AppIconStyle::dot)) },
        { "appIcon", R"({"style":"quorvane"})", accepted(setIcon(AppIconStyle::quorvane)) },
        { "appIcon", R"({})", ignored() },
        { "appIcon", R"({"style":"Dot"})", ignored() },
        { "appIcon", R"({"style":["dot"]})", ignored() },

        { "select", R"({"id":"{ada}"})", accepted(select("ada")) },
        { "select", R"({"id":"{bob}"})", refused("Choose an active Dot.") },
        { "select", R"({"id":"nobody"})", refused("Choose an active Dot.") },
        { "select", R"({})", refused("Choose an active Dot.") },

        { "draft", R"({"id":"{ada}","text":"Half a thought"})", accepted(draft("ada", "Half a thought")) },
        // Emptied, the draft stays as an empty entry.
        { "draft", R"({"id":"{ada}","text":""})", accepted(draft("ada", "")), Queue::quiet, adaDraft },
        { "draft", R"({"id":"{ada}"})", accepted(draft("ada", "")), Queue::quiet, adaDraft },
        { "draft", R"({"id":"{bob}","text":"For later"})", accepted(draft("bob", "For later")) },
        { "draft", R"({"id":"{ada}","text":")" + longest + R"("})", accepted(draft("ada", longest)) },
        { "draft", R"({"id":"{ada}","text":")" + longest + R"(b"})", refused("Please shorten this draft.") },
        { "draft", R"({"id":"{ada}","text":")" + combining + R"("})", accepted(draft("ada", combining)) },
        { "draft", R"({"id":"nobody","text":"Lost words"})", unchanged() },
        { "draft", R"({"text":"Lost words"})", unchanged() },
    });
}

// ---- Replies from the page -----------------------------------------------------------------------

TEST_F(CommandTableTest, AssigningDismissingShowingQuotingAndReadingReplies)
{
    auto assign = [this](Vault& v, const Vault&) { v.account().assignRemoteReply("p-stray", id("ada")); };
    auto dismiss = [](Vault& v, const Vault&) {
        v.account().ignoredRemoteReplyIDs = std::vector<Text> { "p-stray" };
        v.account().unassignedReplies = std::vector<UnassignedReply> {};
    };
    auto shown = [this](const char* pageID) {
        return [this, pageID] {
            EXPECT_EQ(page().calls.back(), std::string("showMessage ") + pageID);
            EXPECT_EQ(page().count(std::string("showMessage ") + pageID), 1u);
            EXPECT_EQ(page().shownAt, std::vector<std::string> { kConversation });
        };
    };
    auto quoted = [this](std::string messageID, std::optional<Text> partID, const char* author, const char* text) {
        return [=, this](Vault& v, const Vault&) {
            v.account().draftReplies = std::map<std::string, QuotedReply> {
                { id("ada"), QuotedReply { messageID, partID, author, text } },
            };
        };
    };
    const std::string firstReply = kAnswered + std::string("-reply");
    auto quoteFirst = [this](Vault& v) {
        v.account().draftReplies = std::map<std::string, QuotedReply> {
            { id("ada"), v.account().quotedMessage(kAnswered + std::string("-reply"), std::nullopt, id("ada")) },
        };
    };
    auto noQuotes = [](Vault& v, const Vault&) { v.account().draftReplies = std::map<std::string, QuotedReply> {}; };
    auto markRead = [this](Vault& v, const Vault&) {
        v.account().readReplyIDs = std::map<std::string, std::vector<Text>> {
            { id("ada"), { "part-1", "part-2", Text(kSecond + std::string("-reply")) } },
        };
        v.account().unreadBots = std::vector<Text> {};
    };
    // What the page has seen of Ada's replies: the first with its two parts, the second without.
    const std::string receipts = R"([["{answered}-reply","Four.\n\nReally.","<p>Four.</p>","part-1","Four.","",)"
                                 R"("part-2","Really.",""],["{second}-reply","Five.",""]])";
    const std::string grown = R"([["{answered}-reply","Four.","<p>Four.</p>","part-1","Four.",""],)"
                              R"(["{second}-reply","Five.",""]])";
    const std::string notAllStrings = R"([["{answered}-reply",4],["{second}-reply","Five.",""]])";

    check({
        { "assignReply", R"({"accountID":"{account}","id":"p-stray","botID":"{ada}"})", accepted(assign) },
        { "assignReply", R"({"accountID":"{account}","id":"p-stray","botID":"{bob}"})",
            refused("That reply is no longer available.") },
        { "assignReply", R"({"accountID":"{account}","id":"p-gone","botID":"{ada}"})",
            refused("That reply is no longer available.") },
        { "assignReply", R"({"accountID":"another","id":"p-stray","botID":"{ada}"})", ignored() },
        { "assignReply", R"({"id":"p-stray","botID":"{ada}"})", ignored() },
        { "assignReply", R"({"accountID":["{account}"],"id":"p-stray","botID":"{ada}"})", ignored() },
        { "assignReply", R"({"accountID":"{account}","botID":"{ada}"})", ignored() },
        { "assignReply", R"({"accountID":"{account}","id":"p-stray"})", ignored() },
        { "assignReply", R"({"accountID":"{account}","id":"p-stray","botID":null})", ignored() },

        { "dismissReply", R"({"accountID":"{account}","id":"p-stray"})", accepted(dismiss) },
        { "dismissReply", R"({"accountID":"{account}","id":"p-gone"})", unchanged() },
        { "dismissReply", R"({"accountID":"another","id":"p-stray"})", ignored() },
        { "dismissReply", R"({"accountID":"{account}"})", ignored() },

        { "openSourceMessage", R"({"id":"part-2"})", unchanged(shown("part-2")) },
        { "openSourceMessage", R"({"id":"p-stray"})", unchanged(shown("p-stray")) },
        // A local message id is not a page message.
        { "openSourceMessage", R"({"id":"{answered}-reply"})", ignored() },
        { "openSourceMessage", R"({"id":7})", ignored() },
        { "openSourceMessage", R"({})", ignored() },

        { "reply", R"({"accountID":"{account}","botID":"{ada}","messageID":"{answered}-reply","partID":"part-2"})",
            accepted(quoted(firstReply, Text("part-2"), "Ada", "Really.")) },
        { "reply", R"({"accountID":"{account}","botID":"{ada}","messageID":"{answered}-reply"})",
            accepted(quoted(firstReply, std::nullopt, "Ada", "Four.\n\nReally.")) },
        { "reply", R"({"accountID":"{account}","botID":"{ada}","messageID":"{answered}"})",
            accepted(quoted(kAnswered, std::nullopt, "You", "What is 2+2?")) },
        { "reply", R"({"accountID":"{account}","botID":"{ada}"})", accepted(noQuotes), Queue::quiet, quoteFirst },
        // Without any quote, the map is still created.
        { "reply", R"({"accountID":"{account}","botID":"{ada}"})", accepted(noQuotes) },
        { "reply", R"({"accountID":"{account}","botID":"{ada}","messageID":"{answered}-reply","partID":"part-9"})",
            refused("That reply is no longer available.") },
        { "reply", R"({"accountID":"{account}","botID":"{ada}","messageID":"p-gone"})",
            refused("That message is no longer available to reply to.") },
        { "reply", R"({"accountID":"{account}","botID":"dot","messageID":"{answered}-reply"})",
            refused("That message is no longer available to reply to.") },
        { "reply", R"({"accountID":"{account}","messageID":"{answered}-reply"})", ignored() },
        { "reply", R"({"accountID":"another","botID":"{ada}","messageID":"{answered}-reply"})", ignored() },

        { "read", R"({"accountID":"{account}","id":"{ada}","replies":)" + receipts + "}", accepted(markRead) },
        // The first reply grew after the page showed it: Ada stays unread.
        { "read", R"({"accountID":"{account}","id":"{ada}","replies":)" + grown + "}", ignored() },
        { "read", R"({"accountID":"{account}","id":"{ada}","replies":[["{second}-reply","Five.",""]]})", ignored() },
        { "read", R"({"accountID":"{account}","id":"{ada}","replies":)" + notAllStrings + "}", ignored() },
        { "read", R"({"accountID":"{account}","id":"{ada}","replies":"all"})", ignored() },
        { "read", R"({"accountID":"{account}","id":"{ada}"})", ignored() },
        { "read", R"({"accountID":"{account}","id":"dot","replies":[]})", ignored() },
        { "read", R"({"accountID":"another","id":"{ada}","replies":)" + receipts + "}", ignored() },
    });
}

// ---- Sending ---------------------------------------------------------------------------------------

TEST_F(CommandTableTest, SendingAMessage)
{
    auto enqueued = [this](const char* text, const char* bot, std::optional<Text> replyTo = std::nullopt,
                        std::optional<Text> replyPart = std::nullopt) {
        return [=, this](Vault& v, const Vault&) {
            v.account().enqueue(text, kClient, false, Text(id(bot)), replyTo, replyPart, now());
        };
    };
    // Without a client id the message gets a fresh one.
    auto enqueuedFresh = [this](Vault& v, const Vault& after) {
        const Text made = after.account().messages.back().id;
        EXPECT_TRUE(canonicalUUID(made));
        v.account().enqueue("No id", made, false, std::nullopt, std::nullopt, std::nullopt, now());
    };
    auto neverConnected = [](Vault& v) { v.account().connectedOnce = false; };

    const std::string hello = R"("text":"Hello there","clientID":"5d1e2f3a-4b5c-4d6e-8f70-8192a3b4c5d6")";
    check({
        { "send", R"({"accountID":"{account}",)" + hello + R"(,"botID":"{ada}"})",
            accepted(enqueued("Hello there", "ada")) },
        { "send", "{" + hello + R"(,"botID":"{ada}"})", accepted(enqueued("Hello there", "ada")) },
        { "send",
            R"({"accountID":"{account}",)" + hello
                + R"(,"botID":"{ada}","replyTo":"{answered}-reply","replyPart":"part-1"})",
            accepted(enqueued("Hello there", "ada", Text(kAnswered + std::string("-reply")), Text("part-1"))) },
        { "send", R"({"text":"No id","clientID":42})", accepted(enqueuedFresh) },
        { "send", R"({"text":"No id"})", accepted(enqueuedFresh) },
        // The page sent it before; the second one is the same message.
        { "send", R"({"text":"Again","clientID":"{answered}"})", ignored() },
        { "send", R"({"text":"Again","clientID":"{queued}"})", ignored(), Queue::busy },
        { "send", "{" + hello + "}", refused("Connect your Dot first."), Queue::quiet, neverConnected },
        { "send", R"({"accountID":"another",)" + hello + "}",
            refused("Your connection changed. Send this message again in the intended chat.") },
        { "send", R"({"text":"Hello","clientID":"not-a-uuid"})",
            refused("This message couldn\u2019t be saved. Try again.") },
        { "send", R"({"text":"Hello","clientID":"{5d1e2f3a-4b5c-4d6e-8f70-8192a3b4c5d6}"})",
            refused("This message couldn\u2019t be saved. Try again.") },
        { "send", R"({"text":"  \n ","clientID":"5d1e2f3a-4b5c-4d6e-8f70-8192a3b4c5d6"})",
            refused("Write a message first.") },
        { "send", "{" + hello + R"(,"botID":"{bob}"})", refused("Choose an active Dot.") },
        { "send", "{" + hello + R"(,"botID":"{ada}","replyTo":"p-gone"})",
            refused("That message is no longer available to reply to.") },
        { "send", "{" + hello + "}", refused("Let a few queued messages finish first."), Queue::busy,
            [](Vault& v) {
                for (int i = 0; i < 12; ++i)
                    v.account().enqueue("More", newUUID(), false, std::nullopt, std::nullopt, std::nullopt, 0);
            } },

        { "advanced", R"({"text":"With a file"})",
            refused(
                "Attachments aren\u2019t supported in this composer yet. Open Dot from Settings to use them there.") },
    });
}

// ---- The crew --------------------------------------------------------------------------------------

TEST_F(CommandTableTest, SavingArchivingAndRestoringBots)
{
    auto edited = [this](Vault& v, const Vault&) {
        Bot& ada = bot(v, id("ada"));
        ada.name = "Ada L.";
        ada.personality = "Exact.";
        ada.kind = "scientist";
        ada.role.reset();
        ada.image.reset();
    };
    auto archived = [this](const char* name, bool value) {
        return [this, name, value](Vault& v, const Vault&) { bot(v, id(name)).archived = value; };
    };
    auto crewOf100 = [](Vault& v) {
        while (v.account().bots.size() < 100)
            v.account().saveBot(BotEdit { .name = "Extra", .personality = "One more." });
    };
    const std::string role49(49, 'r');

    check({
        { "saveBot", R"({"name":"  Cy  ","personality":"Curious.","kind":"robot","role":"Scout"})",
            accepted(added(BotEdit { .name = "Cy", .personality = "Curious.", .role = "Scout", .kind = "robot" })) },
        { "saveBot", R"({"id":"unknown","name":"Cy","personality":"Curious."})",
            accepted(added(BotEdit { .name = "Cy", .personality = "Curious." })) },
        { "saveBot", R"({"id":"{ada}","name":"Ada L.","personality":"Exact.","kind":"scientist","role":""})",
            accepted(edited) },
        { "saveBot", R"({"id":"dot","name":"Dot","personality":"Mine now."})",
            refused("Create a new Dot to use a custom personality.") },
        { "saveBot", R"({"personality":"Curious."})", refused("Add a name and a short personality description.") },
        { "saveBot", R"({"name":7,"personality":"Curious."})",
            refused("Add a name and a short personality description.") },
        { "saveBot", R"({"name":"Cy","personality":"Curious.","role":")" + role49 + R"("})",
            refused("Keep the short role to 48 characters or fewer.") },
        { "saveBot", R"({"name":"Cy","personality":"Curious.","kind":"unicorn"})", refused("Choose an avatar.") },
        { "saveBot", R"({"name":"Cy","personality":"Curious.","image":""})", refused("Choose a smaller PNG avatar.") },
        { "saveBot", R"({"name":"Cy","personality":"Curious."})", refused("Your crew is full for now."), Queue::quiet,
            crewOf100 },

        { "archive", R"({"id":"{ada}"})", accepted(archived("ada", true)) },
        { "archive", R"({"id":"dot"})", refused("Your primary Dot stays in the sidebar.") },
        { "archive", R"({"id":"{ada}"})", refused("Wait for this Dot\u2019s pending messages before archiving it."),
            Queue::quiet,
            [this](Vault& v) {
                v.account().enqueue("Still going", newUUID(), false, Text(id("ada")), std::nullopt, std::nullopt, 0);
            } },
        { "archive", R"({})", unchanged() },

        { "restore", R"({"id":"{bob}"})", accepted(archived("bob", false)) },
        { "restore", R"({"id":"nobody"})", unchanged() },
        { "restore", R"({"id":false})", unchanged() },
    });
}

// ---- Character cards ---------------------------------------------------------------------------

TEST_F(CommandTableTest, ImportingAndExportingCharacterCards)
{
    namespace cards = testing::cards;
    auto cardData = [](const std::string& png, const char* account = "{account}") {
        return std::string(R"({"accountID":")") + account + R"(","png":")" + cards::base64(png) + R"("})";
    };
    const std::string cy = cards::png({ cards::ccv3(cards::v3(
        R"({"name":"Cy","personality":"Curious.","description":"Reads maps.","extensions":{"quorvane":{"role":"Scout","kind":"explorer"}}})")) });
    const std::string builtIn = cards::png({ cards::chara(cards::v2(
        R"({"name":"Di","personality":"Calm.","extensions":{"quorvane":{"kind":"yogi","avatar":"kind"}}})")) });
    // Sound chunks, but a header no decoder takes: a bit depth of 7.
    const std::string unreadable = std::string(cards::kSignature)
        + cards::chunk("IHDR", cards::bigEndian(2) + cards::bigEndian(2) + std::string("\x07\x06\x00\x00\x00", 5))
        + cards::ccv3(cards::v3(R"({"name":"Ed","personality":"Odd."})")) + cards::idat() + cards::iend();
    const std::string picture = "data:image/png;base64," + cards::base64(cards::png());

    auto crewOf100 = [](Vault& v) {
        while (v.account().bots.size() < 100)
            v.account().saveBot(BotEdit { .name = "Extra", .personality = "One more." });
    };
    auto offered = [this](const char* fileName, const char* name) {
        return [this, fileName, name] {
            ASSERT_EQ(files.offers.size(), 1u);
            const FileOffer& offer = files.offers[0];
            EXPECT_EQ(offer.title, "Export Character Card");
            EXPECT_EQ(offer.suggestedName, fileName);
            EXPECT_EQ(offer.mimeType, "image/png");
            EXPECT_EQ(readCharacterCard(offer.bytes).name, name);
        };
    };
    auto slashName = [this](Vault& v) { bot(v, id("ada")).name = "Ada/Lovelace"; };
    const std::string hugeText(kCardFileByteLimit / 3 * 4 + 8, 'A');

    check({
        { "importCard", cardData(cy),
            accepted(added(BotEdit { .name = "Cy",
                .personality = "Curious.\n\nReads maps.",
                .role = "Scout",
                .kind = "explorer",
                .image = Text(picture) })) },
        { "importCard", cardData(builtIn),
            accepted(added(BotEdit { .name = "Di", .personality = "Calm.", .kind = "yogi" })) },
        // The same name as a bot of the crew: the roster allows it.
        { "importCard", cardData(cards::png({ cards::ccv3(cards::v3(R"({"name":"Ada","personality":"Twin."})")) })),
            accepted(added(BotEdit { .name = "Ada", .personality = "Twin.", .image = Text(picture) })) },
        { "importCard", cardData(cy, "elsewhere"), ignored() },
        { "importCard", R"({"png":")" + cards::base64(cy) + R"("})", ignored() },
        { "importCard", R"({"accountID":"{account}"})", refused("This file isn\u2019t a PNG image.") },
        { "importCard", R"({"accountID":"{account}","png":"not base64!"})",
            refused("This file isn\u2019t a PNG image.") },
        { "importCard", R"({"accountID":"{account}","png":")" + hugeText + R"("})",
            refused("Choose a character card of 8 MB or less.") },
        { "importCard", cardData(cards::png()), refused("This picture isn\u2019t a character card.") },
        { "importCard", cardData(cy.substr(0, cy.size() - 20)), refused("This character card is damaged.") },
        { "importCard", cardData(unreadable), refused("This character card\u2019s picture couldn\u2019t be read.") },
        { "importCard", cardData(cy), refused("Your crew is full for now."), Queue::quiet, crewOf100 },

        { "exportCard", R"({"accountID":"{account}","id":"{ada}"})", unchanged(offered("Ada.png", "Ada")) },
        // Archived bots can be exported too.
        { "exportCard", R"({"accountID":"{account}","id":"{bob}"})", unchanged(offered("Bob.png", "Bob")) },
        { "exportCard", R"({"accountID":"{account}","id":"{ada}"})",
            unchanged(offered("Ada-Lovelace.png", "Ada/Lovelace")), Queue::quiet, slashName },
        { "exportCard", R"({"accountID":"{account}","id":"dot"})",
            refused("Only teammates can be exported as character cards.") },
        { "exportCard", R"({"accountID":"{account}","id":"nobody"})", ignored() },
        { "exportCard", R"({"accountID":"{account}"})", ignored() },
        { "exportCard", R"({"accountID":"elsewhere","id":"{ada}"})", ignored() },
        { "exportCard", R"({"id":"{ada}"})", ignored() },
    });
}

// ---- The queue ----------------------------------------------------------------------------------

TEST_F(CommandTableTest, ClearingCancellingStoppingAndRetrying)
{
    const std::string finished = "This reply has already finished.";
    const std::string mightBeInDot = "This message might already be in Dot. Check the Dot window before continuing.";
    auto cleared = [](Vault& v, const Vault&) { v.account().clearHistory(); };
    auto cancelled
        = [](const char* request) { return [request](Vault& v, const Vault&) { v.account().cancelQueued(request); }; };
    auto stopped
        = [](const char* request) { return [request](Vault& v, const Vault&) { v.account().stopWaiting(request); }; };
    auto resent = [](Vault& v, const Vault&) { v.account().retryUnconfirmed(kUnconfirmed); };
    auto checking = [](Vault& v, const Vault&) {
        PendingRequest& uncertain = job(v, kUncertain);
        uncertain.deliveryChecks = 0;
        uncertain.lastDeliveryCheck.reset();
        uncertain.note = "Checking delivery automatically\u2026";
    };
    auto requeued = [](Vault& v, const Vault&) {
        PendingRequest& failed = job(v, kFailed);
        failed.phase = JobPhase::queued;
        failed.attempts = 0;
        failed.nextAttempt.reset();
        failed.note = "";
        v.account().setStatus(kFailed, MessageStatus::queued);
    };

    check({
        { "clear", R"({})", accepted(cleared) },
        { "clear", R"({})", refused("Wait for pending messages before clearing history."), Queue::busy },

        { "cancel", R"({"id":"{queued}"})", accepted(cancelled(kQueued)), Queue::busy },
        { "cancel", R"({"id":"{failed}"})", accepted(cancelled(kFailed)), Queue::busy },
        { "cancel", R"({"id":"{waiting}"})",
            refused("This message may already be in Dot. It can\u2019t be cancelled here."), Queue::busy },
        { "cancel", R"({})", refused("This message may already be in Dot. It can\u2019t be cancelled here."),
            Queue::busy },

        { "stopWaiting", R"({"id":"{waiting}"})", accepted(stopped(kWaiting)), Queue::busy },
        { "stopWaiting", R"({"id":"{delayed}"})", accepted(stopped(kDelayed)), Queue::busy },
        { "stopWaiting", R"({"id":"{uncertain}"})", accepted(stopped(kUncertain)), Queue::busy },
        { "stopWaiting", R"({"id":"{composing}"})", accepted(stopped(kComposing)), Queue::busy },
        { "stopWaiting", R"({"id":"{queued}"})", refused(finished), Queue::busy },
        { "stopWaiting", R"({"id":"{preparing}"})", refused(finished), Queue::busy },
        { "stopWaiting", R"({"id":"{submitting}"})", refused(finished), Queue::busy },
        { "stopWaiting", R"({"id":"{failed}"})", refused(finished), Queue::busy },
        { "stopWaiting", R"({"id":"{answered}"})", refused(finished), Queue::busy },
        { "stopWaiting", R"({})", refused(finished), Queue::busy },

        { "resend", R"({"id":"{unconfirmed}"})", accepted(resent), Queue::busy },
        { "resend", R"({"id":"{answered}"})",
            refused("This message\u2019s status changed. Check the latest reply before trying again."), Queue::busy },

        { "checkDelivery", R"({"id":"{uncertain}"})", accepted(checking), Queue::busy },
        { "checkDelivery", R"({"id":"{waiting}"})", unchanged(), Queue::busy },
        { "checkDelivery", R"({"id":"nothing"})", unchanged(), Queue::busy },

        { "retry", R"({"id":"{failed}"})", accepted(requeued), Queue::busy },
        { "retry", R"({"id":"{uncertain}"})", refused(mightBeInDot), Queue::busy },
        { "retry", R"({"id":"{queued}"})", refused(mightBeInDot), Queue::busy },
        { "retry", R"({"id":"nothing"})", refused(mightBeInDot), Queue::busy },
    });
}

// ---- Exports ------------------------------------------------------------------------------------

TEST_F(CommandTableTest, ExportsOfferTheFileAndChangeNothing)
{
    // What the one offer made by the command was: its title, name, type and a line its bytes hold.
    auto offered = [this](std::string title, std::string stem, std::string type, std::string holds) {
        return [=, this] {
            ASSERT_EQ(files.offers.size(), 1u);
            const FileOffer& offer = files.offers.back();
            EXPECT_EQ(offer.title, title);
            const std::string day = localDateText(now()).substr(0, 10);
            EXPECT_EQ(offer.suggestedName, stem + " " + day + (type == "application/json" ? ".json" : ".md"));
            EXPECT_EQ(offer.mimeType, type);
            EXPECT_EQ(offer.notice, "The exported file is not encrypted.");
            EXPECT_NE(offer.bytes.find(holds), std::string::npos) << offer.bytes.substr(0, 400);
        };
    };
    const std::string one = "Export Conversation", all = "Export All Conversations";
    const std::string markdown = "text/markdown", json = "application/json";

    check({
        { "export", R"({"accountID":"{account}","botID":"{ada}","format":"markdown"})",
            unchanged(offered(one, "Ada", markdown, "## Ada\n\n**You** \u00b7")) },
        { "export", R"({"accountID":"{account}","format":"markdown"})",
            unchanged(offered(all, "Your Dot", markdown, "## Bob (archived)")) },
        { "export", R"({"accountID":"{account}","botID":"{bob}","format":"json"})",
            unchanged(offered(one, "Bob", json, "\"name\": \"Bob\"")) },
        { "export", R"({"accountID":"{account}","format":"json"})",
            unchanged(offered(all, "Your Dot", json, "\"text\": \"Four.\\n\\nReally.\"")) },
        // Works while requests are in flight: it only reads.
        { "export", R"({"accountID":"{account}","format":"json"})",
            unchanged(offered(all, "Your Dot", json, "\"status\": \"failed\"")), Queue::busy },
        // A bot id of another type counts as absent: the whole account.
        { "export", R"({"accountID":"{account}","botID":7,"format":"markdown"})",
            unchanged(offered(all, "Your Dot", markdown, "## Ada")) },

        { "export", R"({"accountID":"another","format":"markdown"})", ignored() },
        { "export", R"({"format":"markdown"})", ignored() },
        { "export", R"({"accountID":"{account}"})", ignored() },
        { "export", R"({"accountID":"{account}","format":"Markdown"})", ignored() },
        { "export", R"({"accountID":"{account}","format":"pdf"})", ignored() },
        { "export", R"({"accountID":"{account}","format":["json"]})", ignored() },
        { "export", R"({"accountID":"{account}","botID":"nobody","format":"json"})", ignored() },

        { "dismissFileIssue", R"({})", ignored() },
    });
}

// ---- The page, the pasteboard, accounts and names --------------------------------------------

TEST_F(CommandTableTest, PageClipboardAccountsAndUnknownNames)
{
    // The account had connected before, so the page was opened once at start already.
    auto connected = [this] {
        EXPECT_EQ(page().opened, (std::vector<std::string> { kConversation, kConversation }));
        EXPECT_TRUE(page().visible);
        EXPECT_TRUE(controller->observing);
        EXPECT_EQ(controller->connection, ConnectionStatus::connecting);
    };
    auto shownDot = [this] {
        EXPECT_EQ(page().count("show"), 1u);
        EXPECT_TRUE(page().visible);
    };
    auto copied
        = [this](std::optional<std::string> text) { return [this, text] { EXPECT_EQ(pasteboard.contents, text); }; };
    const std::string unavailable = "That action isn\u2019t available.";
    // What the search left to show: the ids of the messages found, newest first, or no results.
    auto found = [this](std::optional<std::vector<std::string>> ids) {
        return [this, ids] {
            if (!ids) {
                EXPECT_EQ(controller->search, std::nullopt);
                return;
            }
            ASSERT_TRUE(controller->search);
            std::vector<std::string> hits;
            for (const SearchHit& hit : controller->search->hits)
                hits.push_back(hit.messageID.str());
            EXPECT_EQ(hits, *ids);
            EXPECT_EQ(published.back().search, controller->search);
        };
    };
    const std::string answered = kAnswered, second = kSecond;

    check({
        { "connect", R"({})", unchanged(connected) },
        { "openDot", R"({"id":"ignored"})", unchanged(shownDot) },

        { "copy", R"({"text":"Copy me"})", unchanged(copied("Copy me")) },
        { "copy", R"({"text":""})", unchanged(copied("")) },
        { "copy", R"({})", unchanged(copied(std::nullopt)) },
        { "copy", R"({"text":42})", unchanged(copied(std::nullopt)) },

        { "search", R"({"accountID":"{account}","query":"FOUR"})", shown(found(std::vector { answered + "-reply" })) },
        { "search", R"({"accountID":"{account}","query":"and 2+3"})", shown(found(std::vector { second })) },
        { "search", R"({"accountID":"{account}","query":"really","botID":"{ada}"})",
            shown(found(std::vector { answered + "-reply" })) },
        { "search", R"({"accountID":"{account}","query":"five","botID":"dot"})",
            shown(found(std::vector<std::string> {})) },
        { "search", R"({"accountID":"{account}","query":"five","botID":7})",
            shown(found(std::vector { second + "-reply" })) },
        { "search", R"({"accountID":"{account}","query":"five","botID":"no-such-bot"})", ignored() },
        { "search", R"({"accountID":"another","query":"five"})", ignored() },
        { "search", R"({"query":"five"})", ignored() },
        { "search", R"({"accountID":"{account}","query":42})", ignored() },
        { "search", R"({"accountID":"{account}","query":" \t "})", ignored() },
        { "search", R"({"accountID":"{account}","query":")" + std::string(501, 'a') + R"("})", ignored() },
        { "clearSearch", R"({})", ignored() },

        { "switch", R"({"id":"no-such-account"})", refused("That saved connection is unavailable.") },
        { "switch", R"({})", refused("Wait for pending replies before switching accounts."), Queue::busy },
        { "switch", R"({"id":"{account}"})", refused("Wait for pending replies before switching accounts."),
            Queue::busy },

        { "Connect", R"({})", refused(unavailable) },
        { "connect ", R"({})", refused(unavailable) },
        { "", R"({})", refused(unavailable) },
        { "ready", R"({})", refused(unavailable) },
        { "automaticUpdates", R"({"enabled":true})", refused(unavailable) },
    });
}

}  // namespace
}  // namespace quorvane::testing
