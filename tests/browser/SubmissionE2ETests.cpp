// Putting a request into the Dot page and submitting it, on pages that make that easy to get
// wrong: a composer that sends on a line break, notices of the page's own, a page that empties
// its composer before the service has taken the text.

#include <boost/json.hpp>

#include "BrowserHarness.hpp"

namespace quorvane::testing {
namespace {

using SubmissionTest = SharedSimulatorTest;

const std::string kPayload
    = "[Quorvane request 7E57]\n[Conversation: Dot]\n\n[User message]\nHello over\nseveral lines";
const std::string kUnknown = "AppFailure: We’re checking whether your message was sent.";

TEST_F(SubmissionTest, PrepareNeverSendsPartOfTheText)
{
    const struct {
        const char* enterSends;  // when the page's composer sends on a paragraph break
        bool placed;  // whether the text can go in without the page sending
    } cases[] = { { "beforeinput", true }, { "input", false } };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.enterSends);
        simulator->control("reset");
        pageVariant({ { "enterSends", c.enterSends } });
        auto browser = makeBrowser();
        auto url = startConversation(*browser);
        auto outcome = outcomeOf(browser->prepare(kPayload, url));
        runFor(0.5);  // a send the page started would have arrived by now
        if (c.placed) {
            EXPECT_EQ(outcome, "ok");
            EXPECT_EQ(typedTurns(url), std::vector<std::string> { "Hello Dot" }) << "nothing went out while placing";
            EXPECT_EQ(await(browser->inspect()).draft, kPayload);
            awaitVoid(browser->send(kPayload, url));
            EXPECT_EQ(typedTurns(url), (std::vector<std::string> { "Hello Dot", kPayload }));
        } else {
            // The page sent while the text went in: whatever it sent, "prepare" may neither
            // claim the text is in place nor that nothing was sent.
            EXPECT_EQ(outcome, kUnknown);
            EXPECT_EQ(typedTurns(url).size(), 2u);
            auto after = inspectUntil(*browser, [](const DotSnapshot& s) { return !s.busy; });
            EXPECT_EQ(after.draft, "") << "nothing of the request is left to be sent later";
        }
    }
}

TEST_F(SubmissionTest, SendSucceedsOnItsTurnAndIsRefusedOnlyWhileTheTextStays)
{
    const std::string refusal = "Something went wrong while sending your message. Please try again.";
    const struct {
        const char* name;
        boost::json::object page;
        bool refuse;
        std::string outcome;
        std::size_t turns;  // user turns after the first exchange
    } cases[] = {
        { "a notice of the page's own shows with the turn", { { "toastOnSend", "Chat saved to your history." } }, false,
            "ok", 1 },
        { "the page empties the composer, then refuses", { { "optimisticClear", true } }, true, kUnknown, 0 },
        { "the page refuses and puts the text back", { { "optimisticClear", true }, { "restoreOnRefusal", true } },
            true, "NotSubmitted: " + refusal, 0 },
        { "the page refuses and keeps the text", {}, true, "NotSubmitted: " + refusal, 0 },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        simulator->control("reset");
        pageVariant(c.page);
        auto browser = makeBrowser();
        auto url = startConversation(*browser);
        awaitVoid(browser->prepare("Please answer this", url));
        if (c.refuse)
            simulator->control("refuse-send");
        EXPECT_EQ(outcomeOf(browser->send("Please answer this", url)), c.outcome);
        EXPECT_EQ(typedTurns(url).size(), 1 + c.turns);
    }
}

}  // namespace
}  // namespace quorvane::testing
