// The desktop hears of a reply once, when the run loop files it: not while it streams in, not
// again for a part the page adds later, and not when filing it failed.

#include <string>

#include <gtest/gtest.h>

#include "RunLoopHarness.hpp"

namespace quorvane::testing {
namespace {

class ReplyNoticeTest : public RunLoopTest {
protected:
    // Sends `text` to `botID` and lets the run loop submit it; the page is then busy answering.
    std::string sendAndSubmit(const std::string& text, std::optional<Text> botID = std::nullopt)
    {
        const std::string id = send(text, false, botID);
        advanceUntil([&] { return job(id) && job(id)->phase == JobPhase::waiting; }, 5);
        EXPECT_EQ(job(id)->phase, JobPhase::waiting);
        page().state.busy = true;
        return id;
    }
};

TEST_F(ReplyNoticeTest, OneNoticePerFiledReplyNoneWhileItStreams)
{
    startConnected(vaultWithMuse());
    const std::string id = sendAndSubmit("Write me a line", Text("muse"));

    const std::string tag = tagOf(id);
    const std::string part = answer(id, "Roses");
    for (const char* grown :
        { "Roses are red,", "Roses are red,\nviolets are blue", "Roses are red,\nviolets are blue." }) {
        advance(0.5);
        grow(part, grown);
    }
    advance(5);  // stable, but the page is still busy: nothing is filed yet
    ASSERT_TRUE(controller->liveReply);
    EXPECT_TRUE(notifier.notices.empty());

    page().state.busy = false;
    advanceUntil([&] { return !job(id); }, 10);
    ASSERT_FALSE(job(id));
    ASSERT_EQ(notifier.notices.size(), 1u);
    const ReplyNotice& notice = notifier.notices.front();
    EXPECT_EQ(notice.accountID, controller->vault().account().id);
    EXPECT_EQ(notice.botID, "muse");
    EXPECT_EQ(notice.title, "Muse");
    EXPECT_EQ(notice.body, "Roses are red,");

    // A part the page adds later is filed by the reply watch, quietly.
    page().add("assistant", tag + "\n\nSugar is sweet.", "<p>" + tag + "</p><p>Sugar is sweet.</p>");
    advance(5);
    EXPECT_EQ(message(id + "-reply")->parts->size(), 2u);
    EXPECT_EQ(notifier.notices.size(), 1u);

    // The next reply is heard of in its turn, in the bot's own name.
    const std::string next = sendAndSubmit("Hello Dot");
    answer(next, "Hi there.");
    page().state.busy = false;
    advanceUntil([&] { return !job(next); }, 10);
    ASSERT_EQ(notifier.notices.size(), 2u);
    EXPECT_EQ(notifier.notices.back().botID, "dot");
    EXPECT_EQ(notifier.notices.back().body, "Hi there.");
}

TEST_F(ReplyNoticeTest, AReplyThatCouldNotBeFiledIsNotAnnounced)
{
    startConnected();
    const std::string id = sendAndSubmit("Plan the launch");
    answer(id, "Step one");
    page().state.busy = false;
    advance(1);
    store->failSave = true;
    advance(5);
    EXPECT_TRUE(job(id)) << "the save failed, so the reply is not filed";
    EXPECT_TRUE(notifier.notices.empty());
}

}  // namespace
}  // namespace quorvane::testing
