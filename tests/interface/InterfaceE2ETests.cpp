// The interface page in the production engine (WebKitGTK under Xvfb), hosted as the shell hosts
// it, fed states built with the engine: what the user can do is checked by the commands the page
// posts and the text it shows.

#include <algorithm>
#include <fstream>
#include <sstream>

#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>
#include <boost/json/value_from.hpp>
#include <gtest/gtest.h>

#include "PageHost.hpp"
#include "Scenes.hpp"
#include "quorvane/controller/MessageSearch.hpp"

namespace quorvane::testing {
namespace {

boost::json::value parse(const std::string& json) { return boost::json::parse(json); }
std::string jsonString(const std::string& text) { return boost::json::serialize(boost::json::value(text)); }

// Every key of `expected` is in `actual` with the same value.
::testing::AssertionResult hasData(const boost::json::object& actual, const boost::json::object& expected)
{
    for (const auto& [key, value] : expected) {
        const auto* found = actual.if_contains(key);
        if (!found)
            return ::testing::AssertionFailure()
                << "no \"" << std::string(key) << "\" in " << boost::json::serialize(actual);
        if (*found != value)
            return ::testing::AssertionFailure()
                << "\"" << std::string(key) << "\" is " << boost::json::serialize(*found) << ", expected "
                << boost::json::serialize(value);
    }
    return ::testing::AssertionSuccess();
}

class InterfaceTest : public ::testing::Test {
protected:
    void SetUp() override { host.load(); }

    void show(const SceneState& state)
    {
        host.receiveState(encodeState(state));
        host.settle();
    }

    // Runs `body` in the test world; the page's DOM is shared, its script globals are not.
    std::string act(const std::string& body)
    {
        std::string result = host.run(body);
        host.settle();
        return result;
    }

    std::string text(const std::string& selector)
    {
        auto value
            = parse(host.run("const e = document.querySelector(JSON.parse(json)); return e ? e.textContent : null;",
                jsonString(selector)));
        return value.is_string() ? std::string(value.as_string()) : "<no element " + selector + ">";
    }

    PageHost host;
};

// Shared helpers of the test world, defined before each action.
const std::string kHelpers = R"js(
const $ = (s) => { const e = document.querySelector(s); if (!e) throw new Error('no element ' + s); return e; };
// Chooses a file in a file input, as the file chooser would.
const chooseFile = (s, bytes, name, type) => {
  const t = new DataTransfer();
  t.items.add(new File([new Uint8Array(bytes)], name, { type }));
  const e = $(s);
  e.files = t.files;
  e.dispatchEvent(new Event('change', { bubbles: true }));
};
const click = (s) => $(s).click();
const type = (s, value) => {
  const e = $(s);
  const setter = Object.getOwnPropertyDescriptor(Object.getPrototypeOf(e), 'value').set;
  setter.call(e, value);
  e.dispatchEvent(new Event('input', { bubbles: true }));
};
const key = (s, k, extra = {}) => $(s).dispatchEvent(new KeyboardEvent('keydown', { key: k, bubbles: true, cancelable: true, ...extra }));
const button = (scope, label) => {
  const b = [...$(scope).querySelectorAll('button')].find((b) => b.textContent.trim() === label || b.getAttribute('aria-label') === label);
  if (!b) throw new Error('no button ' + label + ' in ' + scope);
  return b;
};
const msg = (id) => `[data-message-id="${id}"]`;
)js";

TEST(InterfacePage, SaysReadyFirstAndNothingBefore)
{
    PageHost host;
    host.load();
    runFor(0.3);
    ASSERT_FALSE(host.commands.empty());
    EXPECT_EQ(host.commands.front().command, "ready");
    EXPECT_EQ(host.since(0, "ready").size(), 1u);
    EXPECT_EQ(host.commands.size(), 1u) << "the page spoke before it had a state";
}

// Before its first state the page has only the window's colour scheme to go by (the shell
// starts the window in the theme of the last run); the state's own theme takes over.
TEST(InterfacePage, FollowsTheWindowsColourSchemeUntilTheStateSaysOtherwise)
{
    for (bool dark : { true, false }) {
        SCOPED_TRACE(dark ? "dark window" : "light window");
        PageHost host;
        g_object_set(gtk_settings_get_default(), "gtk-application-prefer-dark-theme", gboolean(dark), nullptr);
        host.load();
        auto shows = [&](const char* theme) {
            return runUntil([&] {
                return host.run("return document.documentElement.dataset.theme ?? null;") == "\"" + std::string(theme) + "\"";
            });
        };
        EXPECT_TRUE(shows(dark ? "dark" : "light"));
        SceneState scene = emptyCrew();
        scene.vault.theme = dark ? Theme::light : Theme::dark;
        host.receiveState(encodeState(scene));
        EXPECT_TRUE(shows(dark ? "light" : "dark"));
    }
}

struct Action {
    const char* name;
    std::function<SceneState()> scene;
    std::string script;  // run in the test world with the helpers
    const char* command;
    std::string data;  // JSON object: keys that must be in the command's data
};

TEST_F(InterfaceTest, UserActionsPostTheirCommands)
{
    SceneState busy = busyConversation();
    const std::string account(busy.vault.account().id.view());
    std::string ada, muse, archived;
    for (const auto& bot : busy.vault.account().bots) {
        if (bot.name == "Ada")
            ada = bot.id;
        if (bot.name == "Muse")
            muse = bot.id;
        if (bot.archived)
            archived = bot.id;
    }
    auto idle = [] {
        SceneState s = busyConversation();
        s.vault.account().jobs.clear();
        return s;
    };
    auto busyScene = [] { return busyConversation(); };
    const std::string unconfirmed = requestID(7), failed = requestID(8), uncertain = requestID(9),
                      waiting = requestID(10), queued = requestID(11), outline = requestID(2) + "-reply";
    const std::string settings = "click('.sidebar-header button[aria-label=\"Settings\"]');";
    const std::vector<Action> actions {
        { "select a teammate", busyScene, "click('[data-bot-id=\"" + ada + "\"]');", "select",
            "{\"id\":\"" + ada + "\"}" },
        { "cancel a queued message", busyScene, "button(msg('" + queued + "'), 'Cancel').click();", "cancel",
            "{\"id\":\"" + queued + "\"}" },
        { "stop waiting", busyScene, "button(msg('" + waiting + "'), 'Stop waiting').click();", "stopWaiting",
            "{\"id\":\"" + waiting + "\"}" },
        { "check delivery", busyScene, "button(msg('" + uncertain + "'), 'Check delivery').click();", "checkDelivery",
            "{\"id\":\"" + uncertain + "\"}" },
        { "retry a failed message", busyScene, "button(msg('" + failed + "'), 'Try again').click();", "retry",
            "{\"id\":\"" + failed + "\"}" },
        { "resend an unconfirmed message", busyScene, "button(msg('" + unconfirmed + "'), 'Send again').click();",
            "resend", "{\"id\":\"" + unconfirmed + "\"}" },
        { "reply to a part", busyScene, "button('[data-part-id=\"page-msg-102\"]', 'Reply to this part').click();",
            "reply",
            "{\"accountID\":\"" + account + "\",\"botID\":\"dot\",\"messageID\":\"" + outline
                + "\",\"partID\":\"page-msg-102\"}" },
        { "copy a part", busyScene, "button('[data-part-id=\"page-msg-101\"]', 'Copy').click();", "copy",
            "{\"text\":\"Here is the outline.\"}" },
        { "show a part in Dot", busyScene, "button('[data-part-id=\"page-msg-101\"]', 'Show in Dot').click();",
            "openSourceMessage", "{\"id\":\"page-msg-101\"}" },
        { "drop the quote", busyScene, "button('.composer-quote', 'Remove quote').click();", "reply",
            "{\"accountID\":\"" + account + "\",\"botID\":\"dot\"}" },
        { "send with Enter, quoting", busyScene,
            "type('.composer textarea', 'Ship it'); key('.composer textarea', 'Enter');", "send",
            "{\"accountID\":\"" + account + "\",\"text\":\"Ship it\",\"botID\":\"dot\",\"replyTo\":\"" + outline
                + "\",\"replyPart\":\"page-msg-101\"}" },
        { "save the draft while typing", busyScene, "type('.composer textarea', 'half a thought');", "draft",
            "{\"id\":\"dot\",\"text\":\"half a thought\"}" },
        { "attachments", busyScene, "click('.composer button[aria-label=\"Add attachment\"]');", "advanced", "{}" },
        { "file an unassigned reply", busyScene,
            "const s = $('[data-unassigned-id=\"page-msg-900\"] select'); s.value = " + jsonString(muse)
                + "; s.dispatchEvent(new Event('change', {bubbles: true})); await new Promise(r => setTimeout(r, 50)); "
                  "button('[data-unassigned-id=\"page-msg-900\"]', 'File').click();",
            "assignReply", "{\"accountID\":\"" + account + "\",\"id\":\"page-msg-900\",\"botID\":\"" + muse + "\"}" },
        { "dismiss an unassigned reply", busyScene,
            "button('[data-unassigned-id=\"page-msg-900\"]', 'Dismiss').click();", "dismissReply",
            "{\"accountID\":\"" + account + "\",\"id\":\"page-msg-900\"}" },
        { "restore an archived bot", busyScene,
            "$('.archived').open = true; await new Promise(r => setTimeout(r, 30)); button('.archived', 'Restore Old "
            "Planner').click();",
            "restore", "{\"id\":\"" + archived + "\"}" },
        { "add a teammate", busyScene,
            "click('.new-teammate'); await new Promise(r => setTimeout(r, 30)); const inputs = "
            "document.querySelectorAll('.editor input[type=text]');"
            "type('.editor .field:nth-of-type(1) input', 'Nova'); type('.editor .field:nth-of-type(2) input', "
            "'Researcher');"
            "type('.editor textarea', 'Curious and precise.'); click('.avatar-choice[aria-label=\"Astronaut\"]'); "
            "await new Promise(r => setTimeout(r, 30));"
            "click('.editor button[type=submit]');",
            "saveBot",
            "{\"name\":\"Nova\",\"role\":\"Researcher\",\"personality\":\"Curious and "
            "precise.\",\"kind\":\"astronaut\"}" },
        { "archive a teammate",
            [&] {
                SceneState s = busyConversation();
                s.vault.account().selectedBot = Text(ada);
                return s;
            },
            "click('.main-header button[aria-label=\"Edit Ada\"]'); await new Promise(r => setTimeout(r, 30)); "
            "button('.editor', 'Archive').click();",
            "archive", "{\"id\":\"" + ada + "\"}" },
        // The file's bytes travel as they are, Base64 for the bridge: 89 50 4E 47 0D 0A is "iVBORw0K".
        { "import a character card", busyScene,
            "chooseFile('#import-card-file', [0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A], 'Cy.png', 'image/png');",
            "importCard", "{\"accountID\":\"" + account + "\",\"png\":\"iVBORw0K\"}" },
        { "export a teammate as a character card",
            [&] {
                SceneState s = busyConversation();
                s.vault.account().selectedBot = Text(ada);
                return s;
            },
            "click('.main-header button[aria-label=\"Edit Ada\"]'); await new Promise(r => setTimeout(r, 30)); "
            "button('.editor', 'Export as Character Card\u2026').click();",
            "exportCard", "{\"accountID\":\"" + account + "\",\"id\":\"" + ada + "\"}" },
        { "theme", busyScene,
            settings + "await new Promise(r => setTimeout(r, 30)); click('input[name=theme][value=dark]');", "theme",
            "{\"theme\":\"dark\"}" },
        { "app icon", busyScene,
            settings + "await new Promise(r => setTimeout(r, 30)); click('input[name=appIcon][value=dot]');", "appIcon",
            "{\"style\":\"dot\"}" },
        { "open the Dot window", busyScene,
            settings + "await new Promise(r => setTimeout(r, 30)); button('.settings', 'Open Dot window').click();",
            "openDot", "{}" },
        { "clear history", idle,
            settings
                + "await new Promise(r => setTimeout(r, 30)); button('.settings', 'Clear history…').click(); await new "
                  "Promise(r => setTimeout(r, 30)); button('.confirm', 'Clear history').click();",
            "clear", "{}" },
        { "new connection", busyScene,
            "click('.account-button'); await new Promise(r => setTimeout(r, 30)); button('.account-list', 'New "
            "connection').click();",
            "switch", "{}" },
        { "connect", [] { return emptyCrew(); }, "button('.empty', 'Connect your Dot').click();", "connect", "{}" },
        { "export the conversation on screen as JSON", busyScene,
            "click('.main-header button[title=\"Export conversation\u2026\"]'); await new Promise(r => setTimeout(r, "
            "30)); click('input[name=export-format][value=json]'); await new Promise(r => setTimeout(r, 30)); "
            "button('.export', 'Export\u2026').click();",
            "export", "{\"accountID\":\"" + account + "\",\"botID\":\"dot\",\"format\":\"json\"}" },
        { "export every conversation from Settings", busyScene,
            settings
                + "await new Promise(r => setTimeout(r, 30)); button('.settings', 'Export\u2026').click(); await new "
                  "Promise(r => setTimeout(r, 30)); button('.export', 'Export\u2026').click();",
            "export", "{\"accountID\":\"" + account + "\",\"format\":\"markdown\"}" },
        { "export every conversation from the connections menu", busyScene,
            "if (!document.querySelector('.account-list')) click('.account-button'); await new Promise(r => "
            "setTimeout(r, 30)); button('.account-list', 'Export all "
            "conversations\u2026').click(); await new Promise(r => setTimeout(r, 30)); button('.export', "
            "'Export\u2026').click();",
            "export", "{\"accountID\":\"" + account + "\",\"format\":\"markdown\"}" },
        { "dismiss a file that was not saved",
            [] {
                SceneState s = busyConversation();
                s.fileIssue = "Quorvane couldn\u2019t save \u201cDot.md\u201d: No space left on device.";
                return s;
            },
            "button('.banner', 'Dismiss').click();", "dismissFileIssue", "{}" },
        { "sign in again", [] { return signInNeeded(); }, "button('.banner', 'Open Dot to sign in').click();",
            "openDot", "{}" },
        { "retry storage", [] { return storageUnavailable(); }, "button('.banner', 'Try again').click();",
            "retryStorage", "{}" },

        // The keyboard.
        { "Alt+2 goes to the second bot", busyScene, "key('body', '2', { altKey: true, code: 'Digit2' });", "select",
            "{\"id\":\"" + ada + "\"}" },
        { "Ctrl+K finds a bot by part of its name", busyScene,
            "key('body', 'k', { ctrlKey: true }); await new Promise(r => setTimeout(r, 30)); "
            "type('.modal input', 'MUS'); await new Promise(r => setTimeout(r, 30)); key('.modal input', 'Enter');",
            "select", "{\"id\":\"" + muse + "\"}" },
        { "Escape stops waiting for the newest waiting request", busyScene, "key('body', 'Escape');", "stopWaiting",
            "{\"id\":\"" + waiting + "\"}" },
    };
    for (const auto& action : actions) {
        SCOPED_TRACE(action.name);
        show(action.scene());
        runFor(0.05);
        std::size_t mark = host.commands.size();
        ASSERT_NO_THROW(act(kHelpers + action.script)) << action.name;
        PageCommand posted;
        ASSERT_NO_THROW(posted = host.waitFor(action.command, mark)) << action.name;
        EXPECT_TRUE(hasData(posted.data, parse(action.data).as_object()));
        // Close whatever the action opened, so the next one starts from the conversation.
        act("document.dispatchEvent(new KeyboardEvent('keydown', {key: 'Escape'})); const m = "
            "document.querySelector('.modal'); if (m) m.dispatchEvent(new KeyboardEvent('keydown', {key: 'Escape', "
            "bubbles: true})); return true;");
    }
}

TEST_F(InterfaceTest, SendUsesANewClientIDOncePerMessage)
{
    show(busyConversation());
    std::size_t mark = host.commands.size();
    host.held.insert("send");
    act(kHelpers
        + "type('.composer textarea', 'Once'); key('.composer textarea', 'Enter'); key('.composer textarea', 'Enter'); "
          "click('.send-button');");
    runFor(0.2);
    auto sends = host.since(mark, "send");
    ASSERT_EQ(sends.size(), 1u) << "a repeated send went out twice";
    std::string first(sends[0].data.at("clientID").as_string());
    EXPECT_EQ(first.size(), 36u);
    host.answer(sends[0].id, std::nullopt);
    host.settle();
    act(kHelpers + "type('.composer textarea', 'Twice'); key('.composer textarea', 'Enter');");
    runFor(0.1);
    sends = host.since(mark, "send");
    ASSERT_EQ(sends.size(), 2u);
    EXPECT_NE(std::string(sends[1].data.at("clientID").as_string()), first);
}

TEST_F(InterfaceTest, ReadListMatchesTheStoredReplies)
{
    SceneState busy = busyConversation();
    std::size_t mark = host.commands.size();
    show(busy);
    PageCommand read = host.waitFor("read", mark);
    boost::json::array expected;
    for (const auto& message : busy.vault.account().messages.elements())
        if (message.botID == "dot" && message.role == MessageRole::assistant)
            expected.push_back(boost::json::value_from(message.readReceipt()));
    EXPECT_EQ(read.data.at("id"), "dot");
    EXPECT_EQ(read.data.at("replies"), boost::json::value(expected));
    EXPECT_EQ(std::string(read.data.at("accountID").as_string()), std::string(busy.vault.account().id.view()));
}

struct Failure {
    const char* name;
    std::string script;
    const char* command;
    const char* sentence;
    const char* where;  // the element that must show the sentence
};

TEST_F(InterfaceTest, FailureSentencesAppearWhereTheActionWasTaken)
{
    const std::string queued = requestID(11);
    const std::vector<Failure> failures {
        { "cancel", "button(msg('" + queued + "'), 'Cancel').click();", "cancel",
            "This message may already be in Dot. It can\u2019t be cancelled here.",
            "[data-message-id=\"00000000-0000-4000-8000-000000000011\"]" },
        { "send", "type('.composer textarea', 'Hello'); key('.composer textarea', 'Enter');", "send",
            "Connect your Dot first.", ".composer" },
        { "attachments", "click('.composer button[aria-label=\"Add attachment\"]');", "advanced",
            "Attachments aren\u2019t supported in this composer yet. Open Dot from Settings to use them there.",
            ".composer" },
        { "copy", "button('[data-part-id=\"page-msg-101\"]', 'Copy').click();", "copy",
            "That action isn\u2019t available.", "[data-part-id=\"page-msg-101\"]" },
        { "role too long",
            "click('.new-teammate'); await new Promise(r => setTimeout(r, 30)); type('.editor .field:nth-of-type(1) "
            "input', 'Nova'); type('.editor textarea', 'Curious.'); click('.editor button[type=submit]');",
            "saveBot", "Keep the short role to 48 characters or fewer.", "#editor-error-role" },
        { "crew full",
            "click('.new-teammate'); await new Promise(r => setTimeout(r, 30)); type('.editor .field:nth-of-type(1) "
            "input', 'Nova'); type('.editor textarea', 'Curious.'); click('.editor button[type=submit]');",
            "saveBot", "Your crew is full for now.", "#editor-error-form" },
        { "switch",
            "click('.account-button'); await new Promise(r => setTimeout(r, 30)); button('.account-list', 'New "
            "connection').click();",
            "switch", "Wait for pending replies before switching accounts.", ".accounts" },
        { "select", "click('.bot-row:not(.selected)');", "select", "Choose an active Dot.", ".bot-list" },
        { "import a character card", "chooseFile('#import-card-file', [0x89, 0x50], 'plain.png', 'image/png');",
            "importCard", "This picture isn\u2019t a character card.", "#import-card-error" },
        { "file a reply", "button('[data-unassigned-id=\"page-msg-900\"]', 'File').click();", "assignReply",
            "That reply is no longer available.", "[data-unassigned-id=\"page-msg-900\"]" },
    };
    for (const auto& failure : failures) {
        SCOPED_TRACE(failure.name);
        show(busyConversation());
        host.failures = { { failure.command, failure.sentence } };
        std::size_t mark = host.commands.size();
        ASSERT_NO_THROW(act(kHelpers + failure.script));
        ASSERT_NO_THROW(host.waitFor(failure.command, mark));
        host.settle();
        std::string shown = text(failure.where);
        EXPECT_NE(shown.find(failure.sentence), std::string::npos) << "shown: " << shown;
        host.failures.clear();
        act("const m = document.querySelector('.modal'); if (m) m.dispatchEvent(new KeyboardEvent('keydown', {key: "
            "'Escape', bubbles: true})); return true;");
    }
}

TEST_F(InterfaceTest, FlushDraftResolvesOnlyAfterTheDraftIsSaved)
{
    show(busyConversation());
    host.held.insert("draft");
    std::size_t mark = host.commands.size();
    act(kHelpers + "type('.composer textarea', 'before quitting');");
    host.startFlushDraft();
    PageCommand draft = host.waitFor("draft", mark);
    EXPECT_TRUE(hasData(draft.data, parse("{\"id\":\"dot\",\"text\":\"before quitting\"}").as_object()));
    runFor(0.2);
    EXPECT_FALSE(host.flushOutcome()) << "flushDraft finished before the draft was acknowledged";
    for (const auto& d : host.since(mark, "draft"))
        host.answer(d.id, std::nullopt);
    ASSERT_TRUE(runUntil([&] { return host.flushOutcome().has_value(); }));
    EXPECT_EQ(*host.flushOutcome(), "resolved");

    // A refused draft makes flushDraft fail, with the sentence.
    mark = host.commands.size();
    act(kHelpers + "type('.composer textarea', 'too long, say');");
    host.startFlushDraft();
    host.waitFor("draft", mark);
    runFor(0.1);
    for (const auto& d : host.since(mark, "draft"))
        host.answer(d.id, std::string("Please shorten this draft."));
    ASSERT_TRUE(runUntil([&] { return host.flushOutcome().has_value(); }));
    EXPECT_NE(host.flushOutcome()->find("Please shorten this draft."), std::string::npos) << *host.flushOutcome();
}

TEST_F(InterfaceTest, ShowSettingsOpensTheSettings)
{
    show(busyConversation());
    std::size_t mark = host.commands.size();
    host.showSettings();
    host.settle();
    EXPECT_NE(text(".modal").find("Appearance"), std::string::npos);
    PageCommand modal = host.waitFor("windowModal", mark);
    EXPECT_EQ(modal.data.at("open"), true);
    mark = host.commands.size();
    act("document.querySelector('.modal').dispatchEvent(new KeyboardEvent('keydown', {key: 'Escape', bubbles: "
        "true}));");
    modal = host.waitFor("windowModal", mark);
    EXPECT_EQ(modal.data.at("open"), false);
}

// Search from the keyboard: Ctrl+F asks about the conversation on screen, Ctrl+Shift+F about
// every bot; the results the application sends are listed; Enter on one in another conversation
// switches to it and brings the message into view, marked; Escape takes the results away.
TEST_F(InterfaceTest, HandoffTimelineShowsTheChainWhyItStoppedAndLinksToEachAnswer)
{
    const SceneState scene = runawayCrew();
    const Account& account = scene.vault.account();
    ASSERT_TRUE(account.handoffs && !account.handoffs->empty()) << "the scene made no handoffs";
    ASSERT_TRUE(account.jobs.empty()) << "the scene's chain did not end";
    // The first task whose teammate filed an answer (a task handed on again has none).
    const Handoff* answered = nullptr;
    for (const Handoff& handoff : *account.handoffs) {
        const Text replyID = handoff.id + "-reply";
        if (!answered && std::any_of(account.messages.begin(), account.messages.end(), [&](const ChatMessage& m) {
                return m.id == replyID;
            }))
            answered = &handoff;
    }
    ASSERT_TRUE(answered) << "no teammate of the scene filed an answer";
    show(scene);

    const std::string count = std::to_string(account.handoffs->size()) + " handoffs";
    act(kHelpers + "button('.message.user', " + jsonString(count) + ").click();");
    // One row per handoff, the first at the top level, and the limit that ended the chain said.
    EXPECT_EQ(parse(host.run("return document.querySelectorAll('.timeline-step').length;")),
        boost::json::value(account.handoffs->size()));
    EXPECT_NE(text(".timeline-step").find("Depth 1"), std::string::npos) << text(".timeline");
    const std::string stops = parse(host.run("return [...document.querySelectorAll('.timeline-stop')]"
                                             ".map((e) => e.textContent).join(' | ');"))
                                  .as_string()
                                  .c_str();
    EXPECT_NE(stops.find("can\u2019t be handed on again"), std::string::npos) << stops;
    EXPECT_NE(text(".timeline-summary").find("The chain stopped"), std::string::npos) << text(".timeline-summary");

    // That answer is in its teammate's conversation: the page goes there.
    const std::size_t mark = host.commands.size();
    act(kHelpers + "button(`[data-handoff-id=\"" + std::string(answered->id.view())
        + "\"]`, 'Show the answer').click();");
    PageCommand selecting = host.waitFor("select", mark);
    EXPECT_EQ(selecting.data.at("id"), answered->targetBotID.c_str());
    EXPECT_EQ(parse(host.run("return document.querySelector('.timeline') === null;")), boost::json::value(true))
        << "the timeline stays open over the conversation it went to";
}

TEST_F(InterfaceTest, SearchAsksListsAndJumpsToTheMessage)
{
    SceneState scene = busyConversation();
    const Account& account = scene.vault.account();
    const std::string accountID(account.id.view());
    const std::string selected(account.selectedBot.view());
    // A word only an early reply of another bot has: its message is far outside the window.
    const ChatMessage* target = nullptr;
    std::string word;
    MessageSearch search;
    for (const ChatMessage& message : account.messages.elements()) {
        if (message.botID == selected || message.role != MessageRole::assistant)
            continue;
        std::istringstream words(message.text.str());
        for (std::string w; words >> w;) {
            if (w.size() < 6 || w.find_first_not_of("abcdefghijklmnopqrstuvwxyz") != std::string::npos)
                continue;
            auto found = search.find(account, w, std::nullopt);
            if (found.hits.size() == 1 && found.hits[0].messageID == message.id) {
                target = &message;
                word = w;
                break;
            }
        }
        if (target)
            break;
    }
    ASSERT_TRUE(target) << "the scene has no reply with a word of its own";
    const std::string targetID(target->id.view()), targetBot(target->botID.view());

    show(scene);
    std::size_t mark = host.commands.size();
    act(kHelpers + "key('body', 'f', { ctrlKey: true });");
    act(kHelpers + "type('.search-field input', " + jsonString(word) + ");");
    PageCommand asked = host.waitFor("search", mark);
    EXPECT_TRUE(hasData(
        asked.data, { { "accountID", accountID.c_str() }, { "botID", selected.c_str() }, { "query", word.c_str() } }));

    mark = host.commands.size();
    act(kHelpers + "key('.search-field input', 'F', { ctrlKey: true, shiftKey: true });");
    asked = host.waitFor("search", mark);
    EXPECT_EQ(asked.data.at("query"), word.c_str());
    EXPECT_FALSE(asked.data.contains("botID")) << "Ctrl+Shift+F searches every bot";

    ClientState state = clientState(scene);
    state.search = search.find(account, word, std::nullopt);
    host.receiveState(encodePageJSON(state));
    host.settle();
    EXPECT_NE(text(".search-hit").find(word), std::string::npos) << text(".search-results");

    mark = host.commands.size();
    act(kHelpers + "key('.search-field input', 'Enter');");
    PageCommand selecting = host.waitFor("select", mark);
    EXPECT_EQ(selecting.data.at("id"), targetBot.c_str());
    // The application switches the conversation; the page then shows and marks the message.
    scene.vault.account().selectedBot = targetBot;
    state = clientState(scene);
    state.search = search.find(account, word, std::nullopt);
    host.receiveState(encodePageJSON(state));
    ASSERT_TRUE(runUntil([&] {
        host.settle();
        return parse(host.run("const e = document.querySelector(JSON.parse(json)); "
                              "if (!e || !e.classList.contains('found')) return false; "
                              "const box = document.querySelector('.message-list').getBoundingClientRect(); "
                              "const r = e.getBoundingClientRect(); return r.top >= box.top && r.top < box.bottom;",
                   jsonString("[data-message-id=\"" + targetID + "\"]")))
            == boost::json::value(true);
    })) << "the found message is not in view";

    mark = host.commands.size();
    act(kHelpers + "key('.search-field input', 'Escape');");
    host.waitFor("clearSearch", mark);
    EXPECT_EQ(text(".search-panel"), "<no element .search-panel>");
}

// What the keyboard brings up besides commands: the list of shortcuts, and the text of a
// queued message taken back, once the application has cancelled it.
TEST_F(InterfaceTest, ShortcutsAreListedAndATakenBackMessageIsEditable)
{
    SceneState scene = busyConversation();
    show(scene);
    act(kHelpers + "key('body', '?', { ctrlKey: true, shiftKey: true });");
    EXPECT_NE(text(".modal").find("Keyboard shortcuts"), std::string::npos);
    EXPECT_NE(text(".modal").find("Search every conversation"), std::string::npos);
    act(kHelpers + "key('.modal', 'Escape');");
    EXPECT_EQ(text(".modal"), "<no element .modal>");

    const std::string queued = requestID(11);
    std::string queuedText;
    for (const ChatMessage& message : scene.vault.account().messages.elements())
        if (message.id == queued)
            queuedText = message.text.str();
    ASSERT_FALSE(queuedText.empty());
    host.held.insert("cancel");
    std::size_t mark = host.commands.size();
    act(kHelpers + "key('.composer textarea', 'ArrowUp');");
    PageCommand cancel = host.waitFor("cancel", mark);
    // Until the application agrees, the text stays where it is.
    EXPECT_EQ(parse(host.run("return document.querySelector('.composer textarea').value;")), "");
    host.answer(cancel.id, std::nullopt);
    host.settle();
    EXPECT_EQ(parse(host.run("return document.querySelector('.composer textarea').value;")), queuedText.c_str());
}

}  // namespace
}  // namespace quorvane::testing
