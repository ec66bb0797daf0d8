// The dispatcher's rules that cut across commands: commands the page issued for the account it
// showed before a switch, what still works while storage is unhealthy, a save that fails in the
// middle of a command, stopping a reply while a turn runs, and switching accounts.

#include <gtest/gtest.h>

#include "CardPNGs.hpp"
#include "CommandHarness.hpp"

namespace quorvane::testing {
namespace {

namespace cards = testing::cards;

constexpr const char* kUnavailable = "Local storage is unavailable. Reopen Quorvane before continuing.";
constexpr const char* kSaveFailed
    = "Your conversation couldn\u2019t be saved. Sending is paused; your visible draft is still here.";
constexpr const char* kWaitToSwitch = "Wait for pending replies before switching accounts.";

class CommandRulesTest : public CommandTest {
protected:
    // The standard account A, and a second account B that is not active.
    void startWithSecondAccount()
    {
        start(Queue::quiet, [](Vault& vault) {
            const Text first = vault.activeAccount;
            vault.newAccount();
            vault.account().label = "Work";
            vault.selectAccount(first);
        });
        names["other"] = controller->vault().accounts[1].id.str();
    }

    void expectRefused(const CommandResult& result, const char* sentence)
    {
        EXPECT_EQ(result.error, sentence);
        EXPECT_EQ(result.saves, 0);
        EXPECT_EQ(result.publications, 0);
    }
    void expectAcceptedWithoutSaving(const CommandResult& result)
    {
        EXPECT_EQ(result.error, std::nullopt);
        EXPECT_EQ(result.saves, 0);
        EXPECT_EQ(result.forced, 1);
        EXPECT_TRUE(result.lastForced);
    }
};

TEST_F(CommandRulesTest, CommandsForTheAccountShownBeforeASwitchNeverLandInTheNewOne)
{
    startWithSecondAccount();
    ASSERT_EQ(perform("switch", R"({"id":"{other}"})").error, std::nullopt);
    ASSERT_EQ(controller->vault().activeAccount, id("other"));
    const std::string before = encoded(controller->vault());
    const int saves = store->saves;
    published.clear();

    // The page still showed the first account when the user acted.
    const struct {
        const char* command;
        const char* data;
    } ignoredCommands[] = {
        { "assignReply", R"({"accountID":"{account}","id":"p-stray","botID":"dot"})" },
        { "dismissReply", R"({"accountID":"{account}","id":"p-stray"})" },
        { "reply", R"({"accountID":"{account}","botID":"dot"})" },
        { "read", R"({"accountID":"{account}","id":"dot","replies":[]})" },
        { "importCard", R"({"accountID":"{account}","png":"not even looked at"})" },
        { "exportCard", R"({"accountID":"{account}","id":"{ada}"})" },
    };
    for (const auto& c : ignoredCommands) {
        SCOPED_TRACE(c.command);
        const CommandResult result = perform(c.command, c.data);
        EXPECT_EQ(result.error, std::nullopt);
        EXPECT_EQ(result.publications, 0);
    }
    expectRefused(
        perform("send", R"({"accountID":"{account}","text":"Hi","clientID":"5d1e2f3a-4b5c-4d6e-8f70-8192a3b4c5d6"})"),
        "Connect your Dot first.");
    EXPECT_EQ(encoded(controller->vault()), before);
    EXPECT_EQ(store->saves, saves);
    EXPECT_TRUE(published.empty());

    // The same page, once it shows the new account, is heard.
    const CommandResult current = perform("reply", R"({"accountID":"{other}","botID":"dot"})");
    EXPECT_EQ(current.error, std::nullopt);
    EXPECT_EQ(current.saves, 1);
    EXPECT_TRUE(controller->vault().account().draftReplies);
}

TEST_F(CommandRulesTest, SendFromThePreviousAccountAfterASwitchIsRefused)
{
    startWithSecondAccount();
    // Both accounts have connected before, so only the account check can refuse.
    controller->transaction([](Vault& vault) {
        for (Account& account : vault.accounts) {
            account.connectedOnce = true;
            account.dotURL = kConversation;
        }
    });
    ASSERT_EQ(perform("switch", R"({"id":"{other}"})").error, std::nullopt);
    const std::string before = encoded(controller->vault());

    expectRefused(
        perform("send", R"({"accountID":"{account}","text":"Hi","clientID":"5d1e2f3a-4b5c-4d6e-8f70-8192a3b4c5d6"})"),
        "Your connection changed. Send this message again in the intended chat.");
    EXPECT_EQ(encoded(controller->vault()), before);

    const CommandResult withoutAccount
        = perform("send", R"({"text":"Hi","clientID":"5d1e2f3a-4b5c-4d6e-8f70-8192a3b4c5d6"})");
    EXPECT_EQ(withoutAccount.error, std::nullopt);
    EXPECT_EQ(controller->vault().account().messages.back().text, "Hi");
}

TEST_F(CommandRulesTest, ASaveFailureInTheMiddleKeepsTheLastSavedVaultAndPausesChanges)
{
    start();
    const Vault saved = controller->vault();
    store->failSave = true;

    const CommandResult failed
        = perform("send", R"({"text":"Hello","clientID":"5d1e2f3a-4b5c-4d6e-8f70-8192a3b4c5d6","botID":"{ada}"})");
    EXPECT_EQ(failed.error, kSaveFailed);
    EXPECT_EQ(failed.saves, 0);
    EXPECT_EQ(encoded(controller->vault()), encoded(saved));
    EXPECT_EQ(encoded(*store->saved), encoded(saved));
    EXPECT_FALSE(controller->storageHealthy());
    EXPECT_EQ(controller->issue, kSaveFailed);
    // The page hears that storage is unhealthy, but the refused command publishes nothing more.
    ASSERT_EQ(failed.publications, 1);
    EXPECT_EQ(failed.forced, 0);
    EXPECT_FALSE(published.back().storageHealthy);

    // The disk works again; nothing changes until the user retries storage.
    store->failSave = false;
    expectRefused(perform("theme", R"({"theme":"dark"})"), kUnavailable);
    const CommandResult retried = perform("retryStorage", R"({})");
    EXPECT_EQ(retried.error, std::nullopt);
    EXPECT_EQ(retried.saves, 1);
    EXPECT_TRUE(retried.lastForced);
    EXPECT_TRUE(controller->storageHealthy());
    EXPECT_EQ(controller->issue, "");
    EXPECT_EQ(perform("theme", R"({"theme":"dark"})").saves, 1);
}

TEST_F(CommandRulesTest, UnhealthyStorageRefusesChangesButThePageAndClipboardStillWork)
{
    start(Queue::busy);
    store->failSave = true;
    ASSERT_EQ(perform("theme", R"({"theme":"dark"})").error, kSaveFailed);
    const std::string before = encoded(controller->vault());
    published.clear();
    const std::string cardCommand = R"({"accountID":"{account}","png":")"
        + cards::base64(cards::png({ cards::ccv3(cards::v3(R"({"name":"Cy","personality":"Curious."})")) })) + R"("})";

    const struct {
        const char* command;
        const char* data;
    } refusedCommands[] = {
        { "theme", R"({"theme":"system"})" },
        { "appIcon", R"({"style":"dot"})" },
        { "select", R"({"id":"{ada}"})" },
        { "draft", R"({"id":"{ada}","text":"Later"})" },
        { "assignReply", R"({"accountID":"{account}","id":"p-stray","botID":"{ada}"})" },
        { "dismissReply", R"({"accountID":"{account}","id":"p-stray"})" },
        { "reply", R"({"accountID":"{account}","botID":"{ada}"})" },
        { "send", R"({"text":"Hello","clientID":"5d1e2f3a-4b5c-4d6e-8f70-8192a3b4c5d6"})" },
        { "saveBot", R"({"name":"Cy","personality":"Curious."})" },
        { "archive", R"({"id":"{bob}"})" },
        { "restore", R"({"id":"{bob}"})" },
        { "cancel", R"({"id":"{queued}"})" },
        { "resend", R"({"id":"{unconfirmed}"})" },
        { "checkDelivery", R"({"id":"{uncertain}"})" },
        { "retry", R"({"id":"{failed}"})" },
        { "importCard", cardCommand.c_str() },
    };
    for (const auto& c : refusedCommands) {
        SCOPED_TRACE(c.command);
        expectRefused(perform(c.command, c.data), kUnavailable);
    }

    expectAcceptedWithoutSaving(perform("openDot", R"({})"));
    EXPECT_TRUE(page().visible);
    expectAcceptedWithoutSaving(perform("openSourceMessage", R"({"id":"part-1"})"));
    EXPECT_EQ(page().calls.back(), "showMessage part-1");
    expectAcceptedWithoutSaving(perform("copy", R"({"text":"Still here"})"));
    EXPECT_EQ(pasteboard.contents, "Still here");
    // Exporting only reads the vault.
    expectAcceptedWithoutSaving(perform("exportCard", R"({"accountID":"{account}","id":"{ada}"})"));
    ASSERT_EQ(files.offers.size(), 1u);
    EXPECT_EQ(files.offers[0].suggestedName, "Ada.png");

    // "connect" only publishes: the page is not opened again.
    const std::size_t opened = page().opened.size();
    expectAcceptedWithoutSaving(perform("connect", R"({})"));
    EXPECT_EQ(page().opened.size(), opened);

    // Stopping is accepted; applying it needs storage, so the request stays and the page is told.
    const CommandResult stop = perform("stopWaiting", R"({"id":"{waiting}"})");
    EXPECT_EQ(stop.error, std::nullopt);
    EXPECT_EQ(stop.saves, 0);
    ASSERT_EQ(stop.publications, 1);
    EXPECT_EQ(published.back().issue, kUnavailable);
    EXPECT_TRUE(controller->stopRequests.empty());

    EXPECT_EQ(encoded(controller->vault()), before);
}

TEST_F(CommandRulesTest, RetryStorageWithoutAStoreOrWithAFailingOne)
{
    auto withoutStore = services();
    withoutStore.openStore = [] { return std::unique_ptr<VaultStorage>(); };
    make(std::move(withoutStore));
    published.clear();
    expectRefused(perform("retryStorage", R"({})"), "Reopen Quorvane after unlocking your keyring.");
    expectRefused(perform("theme", R"({"theme":"dark"})"), kUnavailable);

    controller.reset();
    store = std::make_shared<StoreRecord>();
    store->failSave = true;  // the start-up save fails: storage starts unhealthy, with a store
    make();
    ASSERT_FALSE(controller->storageHealthy());
    published.clear();
    expectRefused(perform("retryStorage", R"({})"), "The disk is full.");
    EXPECT_FALSE(controller->storageHealthy());
}

TEST_F(CommandRulesTest, StopWaitingDuringATurnIsOnlyQueued)
{
    start(Queue::busy);
    const std::string before = encoded(controller->vault());
    controller->busy = true;

    expectAcceptedWithoutSaving(perform("stopWaiting", R"({"id":"{waiting}"})"));
    EXPECT_EQ(controller->stopRequests, std::unordered_set<std::string> { kWaiting });
    EXPECT_EQ(encoded(controller->vault()), before);

    // The end of the turn applies it.
    controller->busy = false;
    controller->finishStopRequests();
    const auto& jobs = controller->vault().account().jobs;
    EXPECT_TRUE(std::none_of(jobs.begin(), jobs.end(), [](const PendingRequest& j) { return j.id == kWaiting; }));
}

// A turn reads the current page twice a second whether or not anything is pending: a switch
// asked for meanwhile waits for the turn's end instead of being refused; requests in flight
// refuse it.
TEST_F(CommandRulesTest, SwitchWaitsForTheTurnAndIsRefusedWithRequestsInFlight)
{
    startWithSecondAccount();
    controller->busy = true;
    const std::size_t pages = transports.pages.size();
    expectRefused(perform("switch", R"({"id":"no-such-account"})"), "That saved connection is unavailable.");
    expectAcceptedWithoutSaving(perform("switch", R"({})"));
    EXPECT_EQ(controller->vault().accounts.size(), 2u) << "nothing changes during the turn";
    EXPECT_EQ(transports.pages.size(), pages);
    EXPECT_FALSE(page().isShutDown);
    // The end of the turn makes it.
    controller->busy = false;
    controller->finishPendingSwitch();
    EXPECT_EQ(controller->vault().accounts.size(), 3u);
    EXPECT_EQ(transports.pages.size(), pages + 1);
    EXPECT_EQ(controller->connection, ConnectionStatus::connecting);

    controller->transaction([](Vault& vault) {
        vault.account().enqueue("Pending", newUUID(), false, std::nullopt, std::nullopt, std::nullopt, 0);
    });
    published.clear();
    for (const bool turn : { false, true }) {
        controller->busy = turn;
        expectRefused(perform("switch", R"({})"), kWaitToSwitch);
    }
    controller->busy = false;
    controller->finishPendingSwitch();
    EXPECT_EQ(transports.pages.size(), pages + 1);
}

TEST_F(CommandRulesTest, SwitchWithoutAnIdCreatesAnAccountWithAFreshPage)
{
    start();
    const Text first = controller->vault().activeAccount;
    bool oldShutDown = false;
    page().onShutdown = [&] { oldShutDown = true; };
    controller->liveReply
        = ChatMessage { .id = "gone-reply", .botID = "dot", .role = MessageRole::assistant, .text = "Half" };
    controller->candidate = "Half";
    controller->avatarSource = "https://files.dotcontent.example/old.png";
    controller->lastRemoteMessages = std::vector<DotMessage> {};
    controller->lastWatchCount = 0;
    controller->recoveryAttempts = 2;
    const int saves = store->saves;

    const CommandResult result = perform("switch", R"({"id":null})");
    EXPECT_EQ(result.error, std::nullopt);
    EXPECT_EQ(result.saves, 1);
    EXPECT_TRUE(result.lastForced);

    const Vault& vault = controller->vault();
    ASSERT_EQ(vault.accounts.size(), 2u);
    EXPECT_EQ(vault.accounts[0].id, first);
    EXPECT_EQ(vault.activeAccount, vault.accounts[1].id);
    EXPECT_EQ(store->saves, saves + 1);
    EXPECT_EQ(encoded(*store->saved), encoded(vault));

    // A fresh page for the new account's own browser profile; the old one was shut down.
    EXPECT_TRUE(oldShutDown);
    EXPECT_EQ(transports.pages.size(), 2u);
    EXPECT_EQ(page().profile, vault.account().browserProfile);
    EXPECT_EQ(page().opened, std::vector<std::string> { "" });
    EXPECT_EQ(controller->connection, ConnectionStatus::connecting);
    EXPECT_TRUE(controller->observing);

    // Nothing the run loop knew about the old page survives.
    EXPECT_FALSE(controller->liveReply);
    EXPECT_EQ(controller->candidate, "");
    EXPECT_EQ(controller->avatarSource, "");
    EXPECT_FALSE(controller->lastRemoteMessages);
    EXPECT_EQ(controller->lastWatchCount, -1);
    EXPECT_EQ(controller->recoveryAttempts, 0);

    // The page saw the new account with a disconnected page, then connecting.
    auto disconnected = std::find_if(published.begin(), published.end(), [&](const ClientState& state) {
        return state.connection == ConnectionStatus::disconnected && state.account.id == vault.activeAccount;
    });
    ASSERT_NE(disconnected, published.end());
    EXPECT_NE(disconnected + 1, published.end());
    EXPECT_EQ(published.back().connection, ConnectionStatus::connecting);
    EXPECT_EQ(published.back().account.id, vault.activeAccount);
}

TEST_F(CommandRulesTest, SwitchToASavedAccountOpensItsConversation)
{
    startWithSecondAccount();
    controller->transaction([](Vault& vault) {
        vault.accounts[1].connectedOnce = true;
        vault.accounts[1].dotURL = kHome;
    });
    const CommandResult result = perform("switch", R"({"id":"{other}"})");
    EXPECT_EQ(result.error, std::nullopt);
    EXPECT_EQ(controller->vault().activeAccount, id("other"));
    EXPECT_EQ(page().profile, controller->vault().account().browserProfile);
    EXPECT_EQ(page().opened, std::vector<std::string> { kHome });
    EXPECT_EQ(controller->snapshot().accounts[1].active, true);

    // And back: the first account's conversation again, on yet another fresh page.
    EXPECT_EQ(perform("switch", R"({"id":"{account}"})").error, std::nullopt);
    EXPECT_EQ(page().opened, std::vector<std::string> { kConversation });
    EXPECT_EQ(transports.pages.size(), 3u);
}

// Search only reads: it works while storage is unhealthy, never saves, and its results stay
// until the user clears them, searches for nothing, or the account is switched.
TEST_F(CommandRulesTest, SearchResultsStayUntilTakenAwayAndNeedNoStorage)
{
    // A search changes what the page shows, not the vault: one publication, never a save.
    auto expectShownWithoutSaving = [](const CommandResult& result) {
        EXPECT_EQ(result.error, std::nullopt);
        EXPECT_EQ(result.saves, 0);
        EXPECT_EQ(result.publications, 1);
    };
    start();
    store->failSave = true;
    ASSERT_EQ(perform("theme", R"({"theme":"dark"})").error, kSaveFailed);

    expectShownWithoutSaving(perform("search", R"({"accountID":"{account}","query":"five"})"));
    ASSERT_TRUE(published.back().search);
    EXPECT_EQ(published.back().search->hits.size(), 1u);

    // Later publications keep showing them.
    controller->publish(true);
    EXPECT_EQ(published.back().search, controller->search);

    expectShownWithoutSaving(perform("search", R"({"accountID":"{account}","query":"  "})"));
    EXPECT_EQ(published.back().search, std::nullopt);

    expectShownWithoutSaving(perform("search", R"({"accountID":"{account}","query":"four"})"));
    expectShownWithoutSaving(perform("clearSearch", R"({})"));
    EXPECT_EQ(published.back().search, std::nullopt);

    store->failSave = false;
    ASSERT_EQ(perform("retryStorage", R"({})").error, std::nullopt);
    expectShownWithoutSaving(perform("search", R"({"accountID":"{account}","query":"four"})"));
    ASSERT_TRUE(controller->search);
    ASSERT_EQ(perform("switch", R"({})").error, std::nullopt);
    EXPECT_EQ(controller->search, std::nullopt);
    EXPECT_EQ(published.back().search, std::nullopt);
}

// The save dialog answers later. A failure reaches the page as fileIssue and stays there, over
// later states and a switch of account, until the user takes it away or a later file is saved;
// a cancelled dialog says nothing; and an answer that comes after the controller is gone is
// dropped. None of it needs storage or touches the vault.
TEST_F(CommandRulesTest, AFileOfferThatFailsTellsThePageUntilDismissed)
{
    constexpr const char* kDiskFull = "Quorvane couldn\u2019t save \u201cAda.md\u201d: No space left on device.";
    start();
    store->failSave = true;
    ASSERT_EQ(perform("theme", R"({"theme":"dark"})").error, kSaveFailed);
    const std::string before = encoded(controller->vault());
    const int saves = store->saves;

    for (int n = 0; n < 3; ++n)
        expectAcceptedWithoutSaving(
            perform("export", R"({"accountID":"{account}","botID":"{ada}","format":"markdown"})"));
    ASSERT_EQ(files.pending.size(), 3u);
    EXPECT_EQ(published.back().fileIssue, "");

    published.clear();
    files.pending[0](FileOfferOutcome {});  // cancelled
    EXPECT_TRUE(published.empty());
    files.pending[1](FileOfferOutcome { .failure = kDiskFull });
    ASSERT_EQ(published.size(), 1u);
    EXPECT_EQ(published.back().fileIssue, kDiskFull);
    controller->publish(true);
    EXPECT_EQ(published.back().fileIssue, kDiskFull);

    const CommandResult dismissed = perform("dismissFileIssue", R"({})");
    EXPECT_EQ(dismissed.error, std::nullopt);
    EXPECT_EQ(dismissed.publications, 1);
    EXPECT_EQ(published.back().fileIssue, "");
    EXPECT_EQ(perform("dismissFileIssue", R"({})").publications, 0);

    // A later success takes an earlier failure away.
    files.pending[2](FileOfferOutcome { .failure = kDiskFull });
    EXPECT_EQ(published.back().fileIssue, kDiskFull);
    expectAcceptedWithoutSaving(perform("export", R"({"accountID":"{account}","format":"json"})"));
    files.pending[3](FileOfferOutcome { .saved = true });
    EXPECT_EQ(published.back().fileIssue, "");

    EXPECT_EQ(encoded(controller->vault()), before);
    EXPECT_EQ(store->saves, saves);

    // The dialog outlives the controller: its answer goes nowhere.
    expectAcceptedWithoutSaving(perform("export", R"({"accountID":"{account}","format":"json"})"));
    controller.reset();
    const std::size_t count = published.size();
    files.pending[4](FileOfferOutcome { .failure = kDiskFull });
    EXPECT_EQ(published.size(), count);
}

// Where there is no save dialog at all, the export says so at once.
TEST_F(CommandRulesTest, WithoutASaveDialogTheExportFailsAtOnceWithASentence)
{
    const ControllerServices base = services();
    store->saved = connectedVault();
    make(ControllerServices { .transports = base.transports,
        .power = base.power,
        .pasteboard = base.pasteboard,
        .avatars = base.avatars,
        .openStore = base.openStore,
        .scheduler = base.scheduler,
        .now = base.now,
        .statusFile = base.statusFile });
    names["account"] = controller->vault().account().id.str();
    published.clear();
    const CommandResult result = perform("export", R"({"accountID":"{account}","format":"markdown"})");
    EXPECT_EQ(result.error, std::nullopt);
    EXPECT_TRUE(result.lastForced);
    EXPECT_EQ(published.back().fileIssue, "Saving files isn\u2019t available here.");
    EXPECT_TRUE(files.offers.empty());
}

}  // namespace
}  // namespace quorvane::testing
