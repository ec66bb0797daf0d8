#include <gtest/gtest.h>

#include "quorvane/AppFailure.hpp"
#include "quorvane/TextRules.hpp"
#include "quorvane/Vault.hpp"

namespace quorvane {
namespace {

const Bot& starter(std::string_view id)
{
    for (const auto& bot : Bot::starters())
        if (bot.id == id)
            return bot;
    throw std::logic_error("no such starter");
}

template <class F>
void expectFailure(F&& operation, const std::string& sentence)
{
    try {
        operation();
        ADD_FAILURE() << "no failure; expected: " << sentence;
    } catch (const AppFailure& failure) {
        EXPECT_EQ(failure.message, sentence);
        EXPECT_STREQ(failure.what(), sentence.c_str());
    }
}

TEST(VaultRecord, FreshVaultHoldsOneAccountWithThePrimaryBot)
{
    Vault vault = Vault::fresh();
    EXPECT_EQ(vault.version, 1);
    EXPECT_EQ(vault.theme, Theme::light);
    EXPECT_FALSE(vault.appIconStyle);
    ASSERT_EQ(vault.accounts.size(), 1u);
    const Account& account = vault.account();
    EXPECT_EQ(vault.activeAccount, account.id);
    EXPECT_EQ(account.id.size(), 36u);
    EXPECT_EQ(account.browserProfile.size(), 36u);
    EXPECT_NE(account.id, account.browserProfile);
    EXPECT_EQ(account.label, "Your Dot");
    EXPECT_EQ(account.dotURL, "");
    EXPECT_FALSE(account.connectedOnce);
    ASSERT_EQ(account.bots.size(), 1u);
    EXPECT_EQ(account.bots[0], starter("dot"));
    EXPECT_EQ(account.selectedBot, "dot");
    EXPECT_TRUE(account.messages.empty() && account.jobs.empty() && account.drafts.empty());
    EXPECT_FALSE(account.handoffs || account.replyWatches || account.unreadBots || account.draftReplies);
}

TEST(VaultRecord, StartersAreTheThreeKnownBots)
{
    const auto& starters = Bot::starters();
    ASSERT_EQ(starters.size(), 3u);
    EXPECT_EQ(starters[0].id, "dot");
    EXPECT_EQ(starters[0].personality, "");
    EXPECT_EQ(starters[1].name, "CEO Dot");
    EXPECT_EQ(starters[1].personality,
        "Direct, ambitious, and a little dramatic. Challenge my ideas like a startup CEO, but keep a sense of humor. "
        "Give concise, useful advice.");
    EXPECT_EQ(starters[2].name, "Muse");
    EXPECT_EQ(starters[2].kind, "muse");
    EXPECT_EQ(starters[2].personality,
        "Playful and imaginative. Help me find unexpected angles and creative connections. Keep it practical and "
        "concise.");
    for (const auto& bot : starters)
        EXPECT_FALSE(bot.archived || bot.role || bot.image || bot.generatedRole);
}

TEST(VaultRecord, IndexFallsBackToTheFirstAccount)
{
    Vault vault = Vault::fresh();
    vault.newAccount();
    EXPECT_EQ(vault.index(), 1u);
    vault.activeAccount = "nobody";
    EXPECT_EQ(vault.index(), 0u);
    EXPECT_EQ(&vault.account(), &vault.accounts[0]);
}

TEST(VaultRecord, SwitchingAccountsWaitsForPendingReplies)
{
    Vault vault = Vault::fresh();
    Text first = vault.activeAccount;
    vault.newAccount();
    Text second = vault.activeAccount;
    EXPECT_NE(first, second);
    vault.selectAccount(first);
    EXPECT_EQ(vault.activeAccount, first);

    expectFailure([&] { vault.selectAccount("missing"); }, "That saved connection is unavailable.");

    vault.account().jobs.push_back(PendingRequest::make("J", starter("dot"), "x"));
    Vault before = vault;
    expectFailure([&] { vault.newAccount(); }, "Wait for pending replies before switching accounts.");
    expectFailure([&] { vault.selectAccount(second); }, "Wait for pending replies before switching accounts.");
    EXPECT_EQ(vault, before);
}

TEST(AccountRecord, RemovesOnlyUntouchedStarterBots)
{
    struct Case {
        const char* name;
        std::function<void(Account&)> touch;  // applied to an account holding all three starters
        bool ceoStays;
    } cases[] = {
        { "untouched", [](Account&) {}, false },
        { "has a message",
            [](Account& a) {
                a.messages.push_back(ChatMessage { "m", "ceo", MessageRole::user, "hi", 1, MessageStatus::sent });
            },
            true },
        { "has a job", [](Account& a) { a.jobs.push_back(PendingRequest::make("J", starter("ceo"), "x")); }, true },
        { "has a draft", [](Account& a) { a.drafts["ceo"] = "soon"; }, true },
        { "has an empty draft", [](Account& a) { a.drafts["ceo"] = ""; }, false },
        { "has a role", [](Account& a) { a.bots[1].role = "Boss"; }, true },
        { "was renamed", [](Account& a) { a.bots[1].name = "Chief"; }, true },
        { "is archived", [](Account& a) { a.bots[1].archived = true; }, true },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Account account = Account::fresh();
        account.bots = Bot::starters();
        account.bots[0].personality = "an old primary personality";
        c.touch(account);
        account.removeUnusedStarterBots();
        EXPECT_EQ(account.bots[0].personality, "");
        bool ceo = std::any_of(account.bots.begin(), account.bots.end(), [](const Bot& b) { return b.id == "ceo"; });
        bool muse = std::any_of(account.bots.begin(), account.bots.end(), [](const Bot& b) { return b.id == "muse"; });
        EXPECT_EQ(ceo, c.ceoStays);
        EXPECT_FALSE(muse);
        EXPECT_EQ(account.bots[0].id, "dot");
    }
}

TEST(AccountRecord, SelectionFallsBackToThePrimaryBot)
{
    Account account = Account::fresh();
    account.bots = Bot::starters();
    account.selectedBot = "muse";
    Bot custom { "C1", "Ada", "coder", "Precise.", std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt,
        false };
    account.bots.push_back(custom);
    account.removeUnusedStarterBots();
    EXPECT_EQ(account.selectedBot, "dot");
    ASSERT_EQ(account.bots.size(), 2u);
    EXPECT_EQ(account.bots[1], custom);  // order of the remaining bots kept

    account.selectedBot = "C1";
    account.removeUnusedStarterBots();
    EXPECT_EQ(account.selectedBot, "C1");
}

TEST(AccountRecord, SetStatusChangesTheFirstMessageWithTheId)
{
    Account account = Account::fresh();
    account.messages = { { "R", "dot", MessageRole::user, "a", 1, MessageStatus::queued },
        { "R", "dot", MessageRole::user, "b", 2, MessageStatus::queued } };
    account.setStatus("R", MessageStatus::sent);
    EXPECT_EQ(account.messages[0].status, MessageStatus::sent);
    EXPECT_EQ(account.messages[1].status, MessageStatus::queued);
    Account before = account;
    account.setStatus("missing", MessageStatus::sent);
    EXPECT_EQ(account, before);
}

TEST(BotRecord, TurnIdentityCutsThePersonalityAt220Characters)
{
    Bot bot = starter("muse");
    // 219 ASCII characters, then a family emoji (one character of 18 bytes), then more.
    std::string family = "\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7";
    bot.personality = std::string(219, 'p') + family + "tail";
    EXPECT_EQ(bot.turnIdentityContext(),
        "[Active Quorvane bot \xE2\x80\x94 this turn only]\nIdentify yourself as \"Muse\". Personality reminder: "
            + std::string(219, 'p') + family
            + "\nUse this identity for this turn; keep the primary Dot's identity and saved preferences unchanged.");
}

TEST(PendingRequestRecord, ProvisionalPayloads)
{
    PendingRequest primary = PendingRequest::make("R1", starter("dot"), "Hello");
    EXPECT_EQ(primary.payload, "[Quorvane request R1]\nHello");
    EXPECT_EQ(primary.turnIdentity, "");
    EXPECT_EQ(primary.turnName, "Dot");
    EXPECT_EQ(primary.inputText, "Hello");
    EXPECT_EQ(primary.phase, JobPhase::queued);
    EXPECT_TRUE(primary.baseline.empty());
    EXPECT_EQ(primary.note, "");
    EXPECT_FALSE(primary.rootRequestID || primary.replyToken || primary.attempts || primary.crewSetupBody);

    const Bot& muse = starter("muse");
    PendingRequest teammate = PendingRequest::make("R2", muse, "Ideas?");
    EXPECT_EQ(teammate.turnIdentity, muse.turnIdentityContext());
    EXPECT_EQ(teammate.payload, "[Quorvane request R2]\n" + muse.turnIdentityContext() + "\n[User message]\nIdeas?");
    EXPECT_EQ(teammate.botID, "muse");
}

}  // namespace
}  // namespace quorvane
