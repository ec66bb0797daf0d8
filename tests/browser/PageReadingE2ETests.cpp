// Reading the Dot page when it is not the easy page: text that is not well-formed, pages that
// drifted from what the adapter knows (other test ids, labels, content blocks, nesting, a
// virtualised history, renamed attributes), and pages whose content runs past the bounds.

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include <boost/json.hpp>

#include "BrowserHarness.hpp"
#include "quorvane/Json.hpp"

namespace quorvane::testing {
namespace {

using PageReadingTest = SharedSimulatorTest;

const std::string kUnreadable = "Quorvane can’t read the messages on this Dot page.";
const std::string kReplacement = "\xEF\xBF\xBD";  // U+FFFD

std::string conversationID(const std::string& url) { return url.substr(url.rfind('/') + 1); }

// `length` characters of plain words, ending in a letter.
std::string words(std::size_t length)
{
    static const std::string source = "plain words for a long message ";
    std::string out;
    out.reserve(length);
    while (out.size() < length)
        out += source;
    out.resize(length);
    out.back() = 'x';
    return out;
}

struct Reading {
    std::string id, role, text;
    bool operator==(const Reading&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Reading& r) { return out << r.id << " " << r.role << ": " << r.text; }

std::vector<Reading> readings(const DotSnapshot& snapshot)
{
    std::vector<Reading> out;
    for (const auto& m : snapshot.messages)
        out.push_back({ m.id.str(), m.role.str(), m.text.str() });
    return out;
}

std::vector<std::string> ids(const boost::json::array& messages)
{
    std::vector<std::string> out;
    for (const auto& m : messages)
        out.push_back(boost::json::value_to<std::string>(m.at("id")));
    return out;
}

std::vector<std::string> ids(const DotSnapshot& snapshot)
{
    std::vector<std::string> out;
    for (const auto& m : snapshot.messages)
        out.push_back(m.id.str());
    return out;
}

TEST_F(PageReadingTest, TextThatIsNotWellFormedIsReadWithReplacementCharacters)
{
    auto browser = makeBrowser();
    auto url = startConversation(*browser);
    // JSON escapes of lone UTF-16 surrogates: half of an emoji, and a stray second half.
    simulator->control("inject",
        R"({"conversation":")" + conversationID(url) + R"(","text":"Half an emoji \ud83d, a stray \ude00 here"})");
    simulator->control("profile", R"({"name":"Dot \ud83d"})");
    auto snapshot = inspectUntil(*browser, [](const DotSnapshot& s) { return s.messages.size() == 3; });
    EXPECT_EQ(snapshot.messages.back().text, "Half an emoji " + kReplacement + ", a stray " + kReplacement + " here");
    auto profile
        = inspectUntil(*browser, [](const DotSnapshot& s) { return s.profileName != std::optional<Text>("Dot"); });
    EXPECT_EQ(profile.profileName, std::optional<Text>("Dot " + kReplacement));
}

TEST_F(PageReadingTest, DriftedPagesAreReadWhollyOrReportedUnreadable)
{
    std::string url;
    std::vector<Reading> reference;
    {
        auto browser = makeBrowser();
        url = startConversation(*browser);
        simulator->control("inject",
            boost::json::serialize(boost::json::value { { "conversation", conversationID(url) },
                { "text",
                    "First paragraph of a long answer.\n\nSecond **paragraph**.\n\n- one\n- two\n\n```js\ncode()\n```"
                    "\n\nLast words." } }));
        reference = readings(inspectUntil(*browser, [](const DotSnapshot& s) { return s.messages.size() == 3; }));
    }
    ASSERT_NE(reference.back().text.find("Last words."), std::string::npos);

    const struct {
        const char* name;
        boost::json::object page;
        bool readable;
    } cases[] = {
        { "an answer in several content blocks", { { "answerBlocks", 3 } }, true },
        { "message elements inside message elements", { { "nestedMessages", true } }, true },
        { "no test ids, French labels, no content classes, no aria-busy, a submit button",
            { { "testIds", false }, { "locale", "fr" }, { "contentClasses", false }, { "ariaBusy", false },
                { "submitButton", true } },
            true },
        { "renamed message attributes", { { "messageAttributes", "renamed" } }, false },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        pageVariant(c.page);
        auto browser = makeBrowser();
        auto snapshot
            = openAndInspect(*browser, url, [](const DotSnapshot& s) { return s.ready || s.reason == kUnreadable; });
        if (c.readable) {
            EXPECT_TRUE(snapshot.ready) << snapshot.reason;
            EXPECT_EQ(readings(snapshot), reference);
            EXPECT_EQ(snapshot.profileName, std::optional<Text>("Dot"));
        } else {
            EXPECT_FALSE(snapshot.ready) << "a conversation that cannot be read is never ready";
            EXPECT_EQ(snapshot.reason, kUnreadable);
        }
        pageVariant({ { "reset", true } });
    }
}

TEST_F(PageReadingTest, AnAnswerThatPausesKeepsThePageBusy)
{
    const struct {
        const char* name;
        boost::json::object page;
        bool userTypes;  // the user types into the composer while the answer is written
    } cases[] = {
        { "the stop control has a label in another language and no test id",
            { { "testIds", false }, { "locale", "fr" }, { "ariaBusy", false }, { "submitButton", true } }, false },
        { "the send control stays, disabled, while the user's next words wait",
            { { "busyStyle", "disabledSend" }, { "ariaBusy", false } }, true },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        simulator->control("reset");
        pageVariant(c.page);
        auto browser = makeBrowser();
        auto url = startConversation(*browser);
        auto simBusy
            = [&] { return simulator->controlGet("conversations/" + conversationID(url)).at("busy").as_bool(); };
        // A page that shows busy only while text waits cannot say when the first answer ended.
        ASSERT_TRUE(runUntil([&] { return !simBusy(); }));
        simulator->control("next-answer", R"({"pauseMs": 3500, "durationMs": 400, "firstDelayMs": 0})");
        ASSERT_EQ(outcomeOf(browser->prepare("Think it over", url)), "ok");
        ASSERT_EQ(outcomeOf(browser->send("Think it over", url)), "ok");
        if (c.userTypes) {
            evalInPage(browser->webView(),
                "const e = document.querySelector('[contenteditable=true]'); e.focus();"
                "document.execCommand('insertText', false, 'my next thought'); 'typed'");
        }
        int checked = 0;
        for (int i = 0; i < 100 && simBusy(); ++i) {
            auto snapshot = await(browser->inspect());
            if (simBusy()) {
                EXPECT_TRUE(snapshot.busy) << "while the answer is still being written";
                EXPECT_FALSE(snapshot.ready);
                ++checked;
            }
            runFor(0.3);
        }
        EXPECT_GE(checked, 5) << "the pause was watched";
        EXPECT_FALSE(inspectUntil(*browser, [](const DotSnapshot& s) { return !s.busy; }).busy);
    }
}

TEST_F(PageReadingTest, AVirtualisedHistoryKeepsTheTurnsThatLeftTheDocument)
{
    pageVariant({ { "keepLast", 4 } });
    auto browser = makeBrowser();
    auto url = startConversation(*browser);
    simulator->control("next-answer", R"({"parts": 5, "durationMs": 2500, "firstDelayMs": 0})");
    awaitVoid(browser->prepare("Tell me five things", url));
    awaitVoid(browser->send("Tell me five things", url));
    // The run loop reads the page twice a second; so does this.
    auto settled = inspectUntil(
        *browser,
        [&](const DotSnapshot& s) {
            return !s.busy && s.messages.size() >= 8
                && !simulator->controlGet("conversations/" + conversationID(url)).at("busy").as_bool();
        },
        30);
    auto messages = conversationMessages(url);
    ASSERT_EQ(messages.size(), 8u);
    EXPECT_EQ(ids(settled), ids(messages)) << "the request's turn and every part of its answer";
    EXPECT_EQ(evalInPage(browser->webView(), "document.querySelectorAll('[data-message-id]').length"), "4");
}

TEST_F(PageReadingTest, AChangeIsReadAtOnceWhenSignalledAndWithinTheRereadTimeOtherwise)
{
    ManualScheduler clock;
    auto browser = makeBrowser(clock);
    auto url = startConversation(*browser);
    int changes = 0;
    browser->setOnChange([&] { ++changes; });
    runFor(0.5);  // the first answer's last signal
    ASSERT_EQ(await(browser->inspect()).messages.size(), 2u);

    // Signalled: a message arrives.
    changes = 0;
    simulator->control("inject",
        boost::json::serialize(boost::json::value { { "conversation", conversationID(url) }, { "text", "News" } }));
    ASSERT_TRUE(runUntil([&] { return changes > 0; }));
    auto snapshot = await(browser->inspect());
    ASSERT_EQ(snapshot.messages.size(), 3u);
    EXPECT_EQ(snapshot.messages.back().text, "News");

    // Not signalled: the page's script moves the address without touching the document.
    evalInPage(browser->webView(), "history.replaceState(null, '', location.pathname + '?view=1'); 'moved'");
    clock.advance(DotBrowser::kUnchangedPageReread);
    EXPECT_EQ(await(browser->inspect()).url, url + "?view=1");
}

TEST_F(PageReadingTest, MessageTextAndMarkupStopAtTheirBounds)
{
    auto browser = makeBrowser();
    auto url = startConversation(*browser);
    const std::size_t textBound = 262144, htmlBound = 524288;
    // Plain text renders as <p>text</p>: seven characters more markup than text.
    const std::size_t lengths[] = { textBound, textBound + 1, htmlBound - 7, htmlBound - 6 };
    for (auto length : lengths) {
        simulator->control("inject",
            boost::json::serialize(
                boost::json::value { { "conversation", conversationID(url) }, { "text", words(length) } }));
    }
    auto snapshot = inspectUntil(*browser, [](const DotSnapshot& s) { return s.messages.size() == 6; });
    const struct {
        std::size_t text;
        bool html;
    } expected[] = { { textBound, true }, { textBound, true }, { textBound, true }, { textBound, false } };
    for (std::size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(lengths[i]);
        const auto& message = snapshot.messages[2 + i];
        EXPECT_EQ(message.text.size(), expected[i].text);
        EXPECT_EQ(message.text.view(), std::string_view(words(lengths[i])).substr(0, textBound));
        EXPECT_EQ(message.html.has_value(), expected[i].html);
        if (message.html && expected[i].html) {
            EXPECT_EQ(message.html->size(), lengths[i] + 7);
        }
    }
}

TEST_F(PageReadingTest, IdsRolesDraftsAndAddressesStopAtTheirBounds)
{
    ManualScheduler clock;
    auto browser = makeBrowser(clock);
    auto url = startConversation(*browser);
    auto read = [&] {
        clock.advance(DotBrowser::kUnchangedPageReread);  // read the page, whatever it signalled
        return await(browser->inspect());
    };
    auto firstID = [](std::size_t length) {
        return "document.querySelector('[data-message-id]').setAttribute('data-message-id', '"
            + std::string(length, 'i') + "'); 'set'";
    };
    const std::string longAddress = url + "?q=" + std::string(8192, 'q');
    // The page's own script changes what it shows (the page does not render again meanwhile).
    const struct {
        const char* name;
        std::string script;
        std::function<void(const DotSnapshot&)> check;
    } steps[] = {
        { "an id at its bound", firstID(256),
            [](const DotSnapshot& s) {
                EXPECT_TRUE(s.ready);
                EXPECT_EQ(s.messages.front().id, std::string(256, 'i'));
            } },
        { "an id past its bound: a message that cannot be read", firstID(257),
            [](const DotSnapshot& s) {
                EXPECT_FALSE(s.ready);
                EXPECT_EQ(s.reason, kUnreadable);
            } },
        { "a role past its bound",
            firstID(8) + ";document.querySelectorAll('[data-message-id]')[1].setAttribute('data-message-author-role', '"
                + std::string(33, 'r') + "'); 'set'",
            [](const DotSnapshot& s) {
                EXPECT_TRUE(s.ready) << s.reason;
                EXPECT_EQ(s.messages.at(1).role, std::string(32, 'r'));
            } },
        { "a draft past its bound",
            "const e = document.querySelector('[contenteditable=true]'); e.focus();"
            "document.execCommand('insertText', false, 'd'.repeat(262145)); 'typed'",
            [](const DotSnapshot& s) { EXPECT_EQ(s.draft, std::string(262144, 'd')); } },
        { "an address past its bound", "history.replaceState(null, '', '" + longAddress + "'); 'moved'",
            [&](const DotSnapshot& s) { EXPECT_EQ(s.url, longAddress.substr(0, 8192)); } },
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.name);
        ASSERT_NE(evalInPage(browser->webView(), step.script), "");
        step.check(read());
    }
}

TEST_F(PageReadingTest, AttachmentsKeepOnlySafeAddressesWithinTheirBounds)
{
    auto browser = makeBrowser();
    auto url = startConversation(*browser);
    const std::string origin = "https://files.example/";
    const std::string atBound = origin + std::string(2048 - origin.size(), 'a');
    const struct {
        std::string title;
        std::string url;
        bool kept;
    } addresses[] = {
        { "web", origin + "notes.txt", true },
        { "plain http", "http://files.example/notes.txt", true },
        { "script", "javascript:alert(1)", false },
        { "local", "file:///etc/passwd", false },
        { "blob", "blob:https://files.example/5c1e", false },
        { "inline", "data:text/plain;base64," + std::string(4096, 'A'), false },
        { "at the bound", atBound, true },
        { "past the bound", atBound + "a", false },
    };
    boost::json::array attachments;
    for (const auto& a : addresses)
        attachments.push_back({ { "kind", "file" }, { "title", a.title }, { "url", a.url } });
    attachments.push_back({ { "kind", "file" }, { "title", std::string(1025, 'T') } });
    simulator->control("inject",
        boost::json::serialize(boost::json::value {
            { "conversation", conversationID(url) }, { "text", "Files" }, { "attachments", attachments } }));
    boost::json::array many;
    for (int i = 0; i < 33; ++i)
        many.push_back({ { "kind", "file" }, { "title", "file " + std::to_string(i) } });
    simulator->control("inject",
        boost::json::serialize(boost::json::value {
            { "conversation", conversationID(url) }, { "text", "Many files" }, { "attachments", many } }));

    auto snapshot = inspectUntil(*browser, [](const DotSnapshot& s) { return s.messages.size() == 4; });
    const auto& files = snapshot.messages[2].attachments.value();
    ASSERT_EQ(files.size(), std::size(addresses) + 1);
    for (std::size_t i = 0; i < std::size(addresses); ++i) {
        SCOPED_TRACE(addresses[i].title);
        EXPECT_EQ(files[i].title, addresses[i].title);
        EXPECT_EQ(files[i].url, addresses[i].kept ? std::optional<Text>(addresses[i].url) : std::nullopt);
    }
    EXPECT_EQ(files.back().title, std::string(1024, 'T'));
    EXPECT_EQ(snapshot.messages[3].attachments.value().size(), 32u);
}

TEST_F(PageReadingTest, AlertsProfileNamesAndHistoryStopAtTheirBounds)
{
    pageVariant({ { "profileSubtitle", "Free plan" } });
    simulator->control("profile", boost::json::serialize(boost::json::value { { "name", std::string(300, 'N') } }));
    auto browser = makeBrowser();
    auto url = startConversation(*browser);
    EXPECT_EQ(await(browser->inspect()).profileName, std::optional<Text>(std::string(256, 'N')))
        << "the name's first line, within its bound";

    awaitVoid(browser->prepare("Refuse this", url));
    simulator->control(
        "refuse-send", boost::json::serialize(boost::json::value { { "reason", std::string(600, 'r') } }));
    EXPECT_EQ(outcomeOf(browser->send("Refuse this", url)), "NotSubmitted: " + std::string(499, 'r') + "…");

    auto seeded = simulator->control("seed", R"({"messages": 5001, "bytes": 40})");
    auto seededURL = boost::json::value_to<std::string>(seeded.at("url"));
    auto history = openAndInspect(
        *browser, seededURL, [](const DotSnapshot& s) { return s.messages.size() > 4000; }, 90);
    auto all = ids(conversationMessages(seededURL));
    ASSERT_EQ(all.size(), 5001u);
    EXPECT_EQ(ids(history), std::vector<std::string>(all.begin() + 1, all.end())) << "the newest 5,000";
}

TEST_F(PageReadingTest, AWholeSnapshotStaysWithinItsSize)
{
    // 40 answers of about 450,000 characters of markup each: 18,000,000 in all, over the bound of
    // 16,777,216 for a whole snapshot.
    auto seeded = simulator->control(
        "seed", R"({"messages": 40, "bytes": 200, "plain": true, "role": "assistant", "padding": 450000})");
    auto url = boost::json::value_to<std::string>(seeded.at("url"));
    auto browser = makeBrowser();
    auto snapshot = openAndInspect(
        *browser, url, [](const DotSnapshot& s) { return !s.messages.empty(); }, 90);
    auto all = ids(conversationMessages(url));
    auto kept = ids(snapshot);
    EXPECT_LT(kept.size(), all.size());
    EXPECT_GE(kept.size(), 30u);
    EXPECT_EQ(kept, std::vector<std::string>(all.end() - std::ptrdiff_t(kept.size()), all.end())) << "the newest";
    EXPECT_LE(encodeJSON(snapshot).size(), 16777216u);
    EXPECT_GT(encodeJSON(snapshot).size() + 450000, 16777216u - 600000) << "no more left out than needed";
}

}  // namespace
}  // namespace quorvane::testing
