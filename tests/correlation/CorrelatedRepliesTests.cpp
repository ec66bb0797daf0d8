// Which page messages are a request's reply, and how the reply reads as text, HTML and parts.

#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CorrelationSupport.hpp"

namespace quorvane {
namespace {

using namespace quorvane::testing;

using Files = std::vector<MessageAttachment>;
using IDs = std::vector<std::string>;

// A conversation in which request R1 (token 0123456789ab) was answered in several parts,
// between the replies of other requests and our own prompts shown back.
class TaggedReplies : public ::testing::Test {
protected:
    std::vector<DotMessage> page = {
        assistant("old", kTag + "\nFrom an earlier reading"),
        user("u1", "[Quorvane request R1]\nHello"),
        assistant("a1", kTag + "\nFirst", "<p>" + kTag + "</p><p>First</p>"),
        assistant("other", "[qv:ffffffffffff]\nAnother request's reply"),
        assistant("plain", "Untagged"),
        assistant("a2", "  " + kTag + "\n\n\u6F22\u5B57 \U0001F44B",
            "<p>" + kTag + "</p>\u00A0<p>\u6F22\u5B57 \U0001F44B</p>"),
        user("quote", kTag + "\nQuoted by the user"),
        assistant("bare", kTag),
        assistant("file", kTag, std::nullopt, Files { attachment("f1") }),
        assistant("echo", kTag + "\n[Quorvane request R2]\nNext"),
        assistant("inline", kTag + " on the same line"),
        assistant("upper", "[qv:0123456789AB]\nUpper-case tag"),
        assistant("grown", kTag + "\nShort"),
        assistant("a1", kTag + "\nFirst, grown", "<p>" + kTag + "</p><p>First, grown</p>"),
        assistant("grown", "A longer reading that lost its tag"),
    };
};

TEST_F(TaggedReplies, CollectsTheRepliesBearingTheRequestsTag)
{
    std::vector<DotMessage> replies = correlatedReplies(job("R1", kToken, { Text("old") }), page);
    EXPECT_EQ(idsOf(replies), (IDs { "a1", "a2", "file" }));
    ASSERT_EQ(replies.size(), 3u);
    EXPECT_EQ(replies[0], assistant("a1", "First, grown", "<p>First, grown</p>"));
    EXPECT_EQ(replies[1], assistant("a2", "\u6F22\u5B57 \U0001F44B", "<p>\u6F22\u5B57 \U0001F44B</p>"));
    EXPECT_EQ(replies[2], assistant("file", "", std::nullopt, Files { attachment("f1") }));
}

TEST_F(TaggedReplies, TheBaselineAndOtherTokensSelectOtherMessages)
{
    struct Case {
        const char* name;
        PendingRequest request;
        IDs replies;
    };
    const std::vector<Case> cases = {
        { "without a baseline the old reply counts", job("R1", kToken), { "old", "a1", "a2", "file" } },
        { "baseline covers a reply", job("R1", kToken, { Text("old"), Text("a2") }), { "a1", "file" } },
        { "other token", job("R9", "ffffffffffff"), { "other" } },
        { "token nobody used", job("R9", "aaaaaaaaaaaa"), {} },
        { "upper-case token never matches", job("R9", "0123456789AB"), {} },
        { "token of the wrong length", job("R9", "0123456789a"), {} },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(idsOf(correlatedReplies(c.request, page)), c.replies);
    }
}

TEST(TaggedRepliesBaseline, ExcludesBaselineIDsAmongManyReplies)
{
    std::vector<DotMessage> page;
    std::vector<Text> baseline = { Text("u0") };
    IDs expected;
    for (int i = 0; i < 12; ++i) {
        std::string id = "r" + std::to_string(i);
        page.push_back(assistant(id, kTag + "\nPart " + std::to_string(i)));
        if (i % 3 == 0)
            baseline.push_back(Text(id));
        else
            expected.push_back(id);
    }
    for (std::size_t replies : { 2u, 12u }) {
        SCOPED_TRACE(replies);
        std::vector<DotMessage> shown(page.begin(), page.begin() + static_cast<std::ptrdiff_t>(replies));
        IDs expectedShown;
        for (const std::string& id : expected)
            if (std::stoi(id.substr(1)) < static_cast<int>(replies))
                expectedShown.push_back(id);
        EXPECT_EQ(idsOf(correlatedReplies(job("R1", kToken, baseline), shown)), expectedShown);
    }
}

TEST_F(TaggedReplies, ReadAsTextHTMLAndParts)
{
    PendingRequest request = job("R1", kToken, { Text("old") });
    EXPECT_EQ(replyFor(request, page), "First, grown\n\n\u6F22\u5B57 \U0001F44B");
    EXPECT_EQ(richReplyFor(request, page), "<p>First, grown</p>\n<p>\u6F22\u5B57 \U0001F44B</p>");
    std::vector<ReplyPart> parts = replyPartsFor(request, page);
    std::vector<ReplyPart> expected = {
        { Text("a1"), Text("First, grown"), Text("<p>First, grown</p>"), std::nullopt, std::nullopt },
        { Text("a2"), Text("\u6F22\u5B57 \U0001F44B"), Text("<p>\u6F22\u5B57 \U0001F44B</p>"), std::nullopt,
            std::nullopt },
        { Text("file"), Text(""), std::nullopt, std::nullopt, Files { attachment("f1") } },
    };
    EXPECT_EQ(parts, expected);
}

TEST(ReplyFor, AbsentWhenNothingCorrelatesAndEmptyWhenOnlyFilesDo)
{
    std::vector<DotMessage> page = {
        assistant("f1", kTag, std::nullopt, Files { attachment("x1") }),
        assistant("f2", kTag + "\n", "<p>" + kTag + "</p>", Files { attachment("x2") }),
    };
    EXPECT_EQ(replyFor(job("R1", kToken), page), "");
    EXPECT_EQ(richReplyFor(job("R1", kToken), page), "");
    EXPECT_EQ(replyFor(job("R1", "aaaaaaaaaaaa"), page), std::nullopt);
    EXPECT_EQ(richReplyFor(job("R1", "aaaaaaaaaaaa"), page), std::nullopt);
    EXPECT_EQ(replyPartsFor(job("R1", "aaaaaaaaaaaa"), page), std::vector<ReplyPart> {});
}

TEST(RichReplyFor, AbsentWhenNoReplyHasHTML)
{
    std::vector<DotMessage> page = { assistant("a", kTag + "\nHi"), assistant("b", kTag + "\nThere", "<p>There</p>") };
    EXPECT_EQ(replyFor(job("R1", kToken), page), "Hi\n\nThere");
    EXPECT_EQ(richReplyFor(job("R1", kToken), page), std::nullopt);
}

// A request without a reply token owns the assistant messages after its own turn, up to the
// next user turn.
class UntaggedReplies : public ::testing::Test {
protected:
    std::vector<DotMessage> page = {
        assistant("before", "Earlier answer"),
        assistant("seenEarly", "Early reading"),
        user("turn", "Hello"),
        assistant("c1", "Answer one"),
        assistant("tagged", kTag + "\nA tagged reply"),
        assistant("upper", "[qv:0123456789AB]\nUpper-case tag"),
        assistant("short", "  [qv:abc]\nShort token"),
        assistant("empty", ""),
        message("tool", "tool", "Tool output"),
        assistant("base", "In the baseline"),
        assistant("seenEarly", "Early reading, grown later"),
        assistant("c2", "Answer \U0001F44B", "<p>Answer \U0001F44B</p>"),
        assistant("echo", "[Quorvane request R2]\nNext"),
        assistant("after", "After our next prompt"),
        user("turn2", "Second question"),
        assistant("later", "Later answer"),
    };
};

TEST_F(UntaggedReplies, TakesTheWindowAfterTheTurn)
{
    struct Case {
        const char* name;
        PendingRequest request;
        IDs replies;
    };
    const std::vector<Case> cases = {
        { "window closed by an echo re-labelled as a user turn", job("R1", std::nullopt, { Text("base") }, "turn"),
            { "c1", "c2" } },
        { "window closed by a real user turn", job("R2", std::nullopt, {}, "echo"), { "after" } },
        { "window to the end", job("R3", std::nullopt, {}, "turn2"), { "later" } },
        { "turn not found yet", job("R1", std::nullopt, {}), {} },
        { "turn not on the page", job("R1", std::nullopt, {}, "gone"), {} },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(idsOf(correlatedReplies(c.request, page)), c.replies);
    }
    EXPECT_EQ(replyFor(job("R1", std::nullopt, { Text("base") }, "turn"), page), "Answer one\n\nAnswer \U0001F44B");
    EXPECT_EQ(richReplyFor(job("R1", std::nullopt, { Text("base") }, "turn"), page), "<p>Answer \U0001F44B</p>");
}

}  // namespace
}  // namespace quorvane
