// One message per page id: how repeated readings of a message merge, and how our own prompts
// shown back by the page become user turns.

#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CorrelationSupport.hpp"

namespace quorvane {
namespace {

using namespace quorvane::testing;

const std::string kFamily = "\U0001F469\u200D\U0001F469\u200D\U0001F467";  // one character, 18 bytes

TEST(UniqueDotMessages, MergesReadingsOfOnePageID)
{
    using Files = std::vector<MessageAttachment>;
    struct Case {
        const char* name;
        std::vector<DotMessage> readings;
        DotMessage expected;
    };
    const std::vector<Case> cases = {
        { "longer later reading wins", { assistant("m", "Hel"), assistant("m", "Hello") }, assistant("m", "Hello") },
        { "longer earlier reading wins",
            { assistant("m", "Hello", "<p>Hello</p>"), assistant("m", "Hel", "<p>Hel</p>") },
            assistant("m", "Hello", "<p>Hello</p>") },
        { "equal length: later wins", { assistant("m", "abc", "<p>abc</p>"), assistant("m", "xyz", "<p>xyz</p>") },
            assistant("m", "xyz", "<p>xyz</p>") },
        { "characters, not bytes: one emoji loses to two letters", { assistant("m", kFamily), assistant("m", "ab") },
            assistant("m", "ab") },
        { "characters, not bytes: a combined letter loses to two", { assistant("m", "ab"), assistant("m", "e\u0301") },
            assistant("m", "ab") },
        { "role comes from the base", { message("m", "system", "Hello"), assistant("m", "Hel") },
            message("m", "system", "Hello") },
        { "attachments: base first, then the loser's new ids",
            { assistant("m", "Hi", std::nullopt, Files { attachment("a1"), attachment("a2", "old") }),
                assistant("m", "Hi there", std::nullopt, Files { attachment("a2", "new"), attachment("a3") }) },
            assistant(
                "m", "Hi there", std::nullopt, Files { attachment("a2", "new"), attachment("a3"), attachment("a1") }) },
        { "attachments: the loser's fill an absent list",
            { assistant("m", "Hi", std::nullopt, Files { attachment("a1") }), assistant("m", "Hi there") },
            assistant("m", "Hi there", std::nullopt, Files { attachment("a1") }) },
        { "attachments: an empty list stays empty",
            { assistant("m", "Hi"), assistant("m", "Hi!", std::nullopt, Files {}) },
            assistant("m", "Hi!", std::nullopt, Files {}) },
        { "attachments: absent stays absent", { assistant("m", "Hi", std::nullopt, Files {}), assistant("m", "Hi!") },
            assistant("m", "Hi!") },
        { "equal texts: missing HTML taken from the other", { assistant("m", "Hi", "<p>Hi</p>"), assistant("m", "Hi") },
            assistant("m", "Hi", "<p>Hi</p>") },
        { "equal texts: empty HTML taken from the other",
            { assistant("m", "Hi", "<p>Hi</p>"), assistant("m", "Hi", "") }, assistant("m", "Hi", "<p>Hi</p>") },
        { "equal texts: the base keeps its own HTML",
            { assistant("m", "Hi", "<p>old</p>"), assistant("m", "Hi", "<p>new</p>") },
            assistant("m", "Hi", "<p>new</p>") },
        { "different texts: HTML is never borrowed", { assistant("m", "Hi", "<p>Hi</p>"), assistant("m", "Hi there") },
            assistant("m", "Hi there") },
        { "three readings", { assistant("m", "H"), assistant("m", "Hello"), assistant("m", "Hell") },
            assistant("m", "Hello") },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<DotMessage> unique = uniqueDotMessages(c.readings);
        ASSERT_EQ(unique.size(), 1u);
        EXPECT_EQ(unique[0], c.expected);
    }
}

TEST(UniqueDotMessages, KeepsThePositionOfTheFirstAppearance)
{
    std::vector<DotMessage> page = {
        assistant("a", "Hel"),
        user("b", "Question"),
        assistant("c", "Other"),
        assistant("a", "Hello"),
        user("b", "Question"),
    };
    std::vector<DotMessage> unique = uniqueDotMessages(page);
    EXPECT_EQ(idsOf(unique), (std::vector<std::string> { "a", "b", "c" }));
    EXPECT_EQ(unique[0].text, "Hello");
}

TEST(UniqueDotMessages, RelabelsEchoesOfOurPromptsAsUserTurns)
{
    struct Case {
        const char* name;
        DotMessage message;
        std::string role;
    };
    const std::vector<Case> cases = {
        { "envelope shown as an answer", assistant("e", "[Quorvane request 1A2B]\nHello"), "user" },
        { "tagged identity banner",
            assistant("e", kTag + "\n[Active Quorvane bot \u2014 this turn only]\nYou are Muse."), "user" },
        { "any other role", message("e", "system", "[Quorvane crew setup]\nCrew:"), "user" },
        { "a real answer", assistant("e", "Sure: [Quorvane request 1A2B]"), "assistant" },
        { "other roles kept", message("e", "tool", "Result"), "tool" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<DotMessage> unique = uniqueDotMessages({ c.message });
        ASSERT_EQ(unique.size(), 1u);
        EXPECT_EQ(unique[0].role, c.role);
        EXPECT_EQ(unique[0].text, c.message.text);
    }
}

TEST(UniqueDotMessages, AnEchoReadingTakesOverWhenItIsTheBase)
{
    // The page first showed a short answer, then the whole echoed prompt under the same id.
    std::vector<DotMessage> unique
        = uniqueDotMessages({ assistant("e", "[Quorvane"), assistant("e", "[Quorvane request 1A2B]\nHello") });
    ASSERT_EQ(unique.size(), 1u);
    EXPECT_EQ(unique[0].role, "user");
}

}  // namespace
}  // namespace quorvane
