// What the controller shows the page: account labels, when a publication happens, and the live
// reply with what it projects into the conversations.

#include <boost/json/parse.hpp>
#include <gtest/gtest.h>

#include "ControllerHarness.hpp"

namespace quorvane::testing {
namespace {

class SnapshotTest : public ControllerTest { };

TEST_F(SnapshotTest, DefaultLabelsAreNumberedByPosition)
{
    Vault vault = Vault::fresh();
    vault.accounts.push_back(Account::fresh());
    vault.accounts.push_back(Account::fresh());
    vault.accounts[1].label = "Work";
    vault.activeAccount = vault.accounts[2].id;
    make(vault);

    const std::vector<SavedAccount> expected = {
        { vault.accounts[0].id, "Dot connection 1", false },
        { vault.accounts[1].id, "Work", false },
        { vault.accounts[2].id, "Dot connection 3", true },
    };
    ClientState state = controller->snapshot();
    EXPECT_EQ(state.accounts, expected);
    EXPECT_EQ(state.account.id, vault.accounts[2].id);
    EXPECT_EQ(state.appIconStyle, AppIconStyle::quorvane);
}

TEST_F(SnapshotTest, OnlyAChangedStateIsPublishedUnlessForced)
{
    make();
    controller->publish(false);
    ASSERT_EQ(published.size(), 1u);
    controller->publish(false);
    EXPECT_EQ(published.size(), 1u);
    controller->publish(true);
    EXPECT_EQ(published.size(), 2u);

    controller->systemDark = true;
    controller->publish(false);
    ASSERT_EQ(published.size(), 3u);
    EXPECT_TRUE(published.back().systemDark);
    EXPECT_EQ(controller->lastState, published.back());
}

TEST_F(SnapshotTest, WithoutLiveReplyThereIsNoKeyAndNoProjection)
{
    make();
    boost::json::object json = boost::json::parse(encodePageJSON(controller->snapshot())).as_object();
    EXPECT_FALSE(json.contains("liveReply"));
    EXPECT_TRUE(json.at("liveReplies").as_array().empty());
}

// A teammate's reply, written for a bot that delegated to it, shows in both conversations while
// it is being written.
TEST_F(SnapshotTest, LiveReplyOfARequestProjectsIntoTheDelegatingConversation)
{
    Vault vault = Vault::fresh();
    Account& account = vault.account();
    account.bots.push_back(Bot { "B1", "Ada", "dot", "Careful reviewer." });
    PendingRequest job;
    job.id = "R1";
    job.botID = "B1";
    job.phase = JobPhase::waiting;
    job.returnBotID = "dot";
    account.jobs = { job };
    make(vault);

    ChatMessage live { "R1-reply", "B1", MessageRole::assistant, "Looking at it", now(), MessageStatus::streaming };
    controller->liveReply = live;
    ClientState state = controller->snapshot();
    EXPECT_EQ(state.liveReply, live);
    ASSERT_EQ(state.liveReplies.size(), 2u);
    EXPECT_EQ(state.liveReplies[0], live);
    EXPECT_EQ(state.liveReplies[1].id, "R1-reply-handoff-result-dot");
    EXPECT_EQ(state.liveReplies[1].botID, "dot");
    EXPECT_EQ(state.liveReplies[1].sourceBotID, std::optional<Text>("B1"));
    EXPECT_EQ(state.liveReplies, controller->vault().account().projectedReplies(live, job));

    // A live reply that no request owns shows only itself.
    controller->liveReply->id = "R9-reply";
    state = controller->snapshot();
    ASSERT_EQ(state.liveReplies.size(), 1u);
    EXPECT_EQ(state.liveReplies[0].id, "R9-reply");
}

}  // namespace
}  // namespace quorvane::testing
