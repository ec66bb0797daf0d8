// "switch" with the run loop going: the fresh page of the account switched to is reconciled on its
// first turn, even when it shows exactly what the previous page showed at the last reconciliation.

#include <boost/json/parse.hpp>
#include <gtest/gtest.h>

#include "RunLoopHarness.hpp"

namespace quorvane::testing {
namespace {

class CommandSwitchTurnTest : public RunLoopTest {
protected:
    void perform(std::string_view command, std::string_view data)
    {
        controller->perform(command, boost::json::parse(data).as_object());
    }
};

TEST_F(CommandSwitchTurnTest, ANewAccountGetsAFreshPageWhoseFirstTurnReconciles)
{
    startConnected();
    page().add("user", "Something typed in Dot itself");
    page().add("assistant", "An answer there");
    advance(1);
    ASSERT_TRUE(controller->lastRemoteMessages);
    const std::vector<DotMessage> shown = page().state.messages;

    // The new account's page opens on the same messages (a shared sign-in's home page), so only
    // the forgotten reconciliation state can make the first turn look at them.
    transports.prepare = [&](FakePage& page) {
        page.state.url = kHome;
        page.state.messages = shown;
    };
    perform("switch", "{}");
    const Account& account = controller->vault().account();
    EXPECT_EQ(controller->vault().accounts.size(), 2u);
    EXPECT_EQ(page().profile, account.browserProfile);
    EXPECT_FALSE(controller->lastRemoteMessages);
    EXPECT_EQ(controller->lastWatchCount, -1);
    EXPECT_EQ(page().inspections, 0);

    advance(0.5);
    EXPECT_GE(page().inspections, 1);
    EXPECT_TRUE(controller->vault().account().connectedOnce);
    EXPECT_EQ(controller->vault().account().dotURL, kHome);
    ASSERT_TRUE(controller->lastRemoteMessages);
    EXPECT_EQ(*controller->lastRemoteMessages, shown);
    EXPECT_EQ(controller->lastWatchCount, 0);
    EXPECT_EQ(controller->connection, ConnectionStatus::connected);
}

TEST_F(CommandSwitchTurnTest, ASavedAccountsLaterReplyIsFiledOnItsFirstTurn)
{
    // The second account has a finished request, still watched, whose later part is on its page.
    Vault vault = connectedVault();
    Account second = Account::fresh();
    second.connectedOnce = true;
    second.dotURL = kConversation;
    const std::string request = newUUID();
    second.enqueue("Earlier", request, false, std::nullopt, std::nullopt, std::nullopt, kOrigin);
    second.prepareConversationContext(request);
    PendingRequest earlier = second.jobs.front();
    earlier.phase = JobPhase::waiting;
    second.jobs.clear();
    second.setStatus(request, MessageStatus::sent);
    second.replyWatches = CowVector<ReplyWatch> { ReplyWatch { earlier, {}, false } };
    vault.accounts.push_back(second);
    startConnected(vault);
    advance(1);

    transports.prepare = [&](FakePage& page) {
        page.state.url = kConversation;
        page.add("user", earlier.payload.str());
        page.add("assistant", "[qv:" + earlier.replyToken->str() + "]\n\nA part that came later");
    };
    perform("switch", R"({"id":")" + second.id.str() + R"("})");
    advance(0.5);
    ASSERT_TRUE(message(request + "-reply"));
    EXPECT_EQ(message(request + "-reply")->text, "A part that came later");
    EXPECT_EQ(controller->lastWatchCount, 1);
}

}  // namespace
}  // namespace quorvane::testing
