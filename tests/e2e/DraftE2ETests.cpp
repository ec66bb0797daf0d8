// Quitting with an unsent draft: the page flushes it before the application ends, and the next
// start shows it in the composer again.

#include "Conversation.hpp"
#include "EndToEndTest.hpp"

namespace quorvane::testing {

using DraftTest = EndToEndTest;

TEST_F(DraftTest, ADraftTypedJustBeforeQuittingComesBackAfterARestart)
{
    launch();
    Conversation chat(*app);
    const std::string botID = chat.selectedBotID();
    const std::string draft = "Half a thought,\nand the other half";
    chat.type(draft);
    // Quit at once: the page's own pause before saving has not run out, so only the flush on
    // quitting can save it.
    restart();
    EXPECT_TRUE(waitFor("the draft in the state", [&](const boost::json::value& s) {
        const auto* drafts = s.at("account").as_object().if_contains("drafts");
        const auto* text = drafts ? drafts->as_object().if_contains(botID) : nullptr;
        return text && *text == boost::json::value(draft);
    }));
    EXPECT_EQ(chat.composerText(), draft);
}

}  // namespace quorvane::testing
