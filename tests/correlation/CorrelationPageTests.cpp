#include <gtest/gtest.h>

#include "CorrelationSupport.hpp"

namespace quorvane {
namespace {

using namespace quorvane::testing;

// A page with every kind of message the correlation rules tell apart: tagged replies of two
// requests (one growing under the same id, one with HTML and one made only of attachments), an
// echo of our prompt shown as an answer, untagged answers after an untagged request's turn, a
// malformed tag, and a reply already on the page before its request was sent.
std::vector<DotMessage> busyPage()
{
    const std::string other = "[qv:ffffffffffff]";
    return {
        assistant("old", kTag + "\nAlready there before sending"),
        user("t1", "[Quorvane request R1]\nHello"),
        assistant("a1", kTag + "\nPart"),
        assistant("a1", kTag + "\nPart one, grown"),
        assistant("a2", kTag + "\n\nSecond", "<p>" + kTag + "</p><p>Second</p>"),
        assistant("a3", kTag, std::nullopt, std::vector<MessageAttachment> { attachment("f1") }),
        assistant("b1", other + "\nFor another request"),
        assistant("echo", "[Quorvane request R9]\nNot an answer"),
        user("t2", "[Quorvane request R2]\nUntagged"),
        assistant("u1", "Untagged answer"),
        assistant("u2", "[qv:NOTATOKEN]\nLooks tagged"),
        assistant("u3", "Another untagged answer"),
        user("t3", "typed by hand"),
        assistant("late", kTag + "\nLate part"),
    };
}

TEST(CorrelationPage, AnswersLikeCorrelatingEachRequestOnItsOwn)
{
    const std::vector<DotMessage> messages = busyPage();
    const CorrelationPage page(messages);
    std::vector<Text> longBaseline;
    for (int i = 0; i < 100; ++i)
        longBaseline.push_back(Text("filler-" + std::to_string(i)));
    longBaseline.push_back(Text("old"));
    const PendingRequest jobs[] = {
        job("R1", kToken),
        job("R1", kToken, { "old" }),
        job("R1", kToken, longBaseline),
        job("R1", kToken, { "a1", "a2", "a3", "late", "old" }),
        job("R1", std::string_view("ffffffffffff")),
        job("R1", std::string_view("aaaaaaaaaaaa")),
        job("R2", std::nullopt, {}, std::string_view("t2")),
        job("R2", std::nullopt, { "u1" }, std::string_view("t2")),
        job("R2", std::nullopt, {}, std::string_view("gone")),
        job("R2", std::nullopt),
    };
    EXPECT_EQ(page.unique(), uniqueDotMessages(messages));
    for (const auto& request : jobs) {
        SCOPED_TRACE(
            request.replyToken.value_or("untagged").str() + " baseline " + std::to_string(request.baseline.size()));
        const std::vector<DotMessage> expected = correlatedReplies(request, messages);
        EXPECT_EQ(page.correlatedReplies(request), expected);
        std::vector<Text> ids;
        for (const auto& reply : expected)
            ids.push_back(reply.id);
        EXPECT_EQ(page.correlatedReplyIDs(request), ids);
    }
    // The busy page really exercises the rules: the first request has four replies.
    EXPECT_EQ(idsOf(page.correlatedReplies(jobs[0])), (std::vector<std::string> { "old", "a1", "a2", "a3", "late" }));
    EXPECT_EQ(idsOf(page.correlatedReplies(jobs[2])), (std::vector<std::string> { "a1", "a2", "a3", "late" }));
}

TEST(CorrelationPage, FindsMessagesAndLaterUserTurns)
{
    const CorrelationPage page(busyPage());
    ASSERT_TRUE(page.position("t2"));
    EXPECT_TRUE(page.hasUserTurnAfter(*page.position("t2")));
    EXPECT_FALSE(page.hasUserTurnAfter(*page.position("late")));
    EXPECT_EQ(page.find("echo")->role, "user");  // our own prompt is a user turn
    EXPECT_FALSE(page.find("nowhere"));
}

TEST(Baseline, LongBaselinesAnswerLikeShortOnes)
{
    std::vector<Text> ids;
    for (int i = 0; i < 500; ++i)
        ids.push_back(Text("page-" + std::to_string(i)));
    const CowVector<Text> baseline(ids);
    for (const char* id : { "page-0", "page-250", "page-499" })
        EXPECT_TRUE(inBaseline(baseline, id)) << id;
    for (const char* id : { "page-500", "page-", "", "PAGE-1" })
        EXPECT_FALSE(inBaseline(baseline, id)) << id;
    // A changed copy is a different baseline, answered for itself.
    CowVector<Text> changed = baseline;
    changed.push_back(Text("page-500"));
    EXPECT_TRUE(inBaseline(changed, "page-500"));
    EXPECT_FALSE(inBaseline(baseline, "page-500"));
}

}  // namespace
}  // namespace quorvane
