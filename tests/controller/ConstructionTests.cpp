// Starting the controller: the vault is loaded, tidied, recovered and saved once; every way the
// start can fail leaves storage unhealthy with the keyring sentence and the file untouched; and
// the life cycle operations (start, stop, connect, the reset after an account switch).

#include <filesystem>
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

#include "ControllerHarness.hpp"

namespace quorvane::testing {
namespace {

constexpr const char* kCouldNotOpen = "Your local history couldn\u2019t be opened. Unlock your keyring and reopen "
                                      "Quorvane. Your saved data hasn\u2019t been changed.";
constexpr const char* kReopen = "Reopen Quorvane after unlocking your keyring.";
constexpr const char* kUnavailable = "Local storage is unavailable. Reopen Quorvane before continuing.";

class ConstructionTest : public ControllerTest { };

// Three ways a start fails; each leaves the controller showing the sentence, refusing changes,
// and not touching the page.
TEST_F(ConstructionTest, FailedStartsLeaveStorageUnhealthy)
{
    struct Case {
        const char* name;
        std::function<std::unique_ptr<VaultStorage>(std::shared_ptr<StoreRecord>)> open;
        bool failSave;
        bool storeRemains;  // retryStorage can then save
    };
    const std::vector<Case> cases = {
        { "keyring locked: no store",
            [](auto) -> std::unique_ptr<VaultStorage> {
                throw AppFailure("Your keyring is unavailable. Unlock your session and reopen Quorvane.");
            },
            false, false },
        { "load fails",
            [](auto record) {
                record->failLoad = true;
                return std::make_unique<FakeStore>(record);
            },
            false, false },
        { "start-up save fails", [](auto record) { return std::make_unique<FakeStore>(record); }, true, true },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        controller.reset();
        transports.pages.clear();
        store = std::make_shared<StoreRecord>();
        store->saved = connectedVault();
        store->failSave = c.failSave;
        ControllerServices given = services();
        given.openStore = [open = c.open, record = store] { return open(record); };
        make(given);

        EXPECT_FALSE(controller->storageHealthy());
        EXPECT_EQ(controller->issue, kCouldNotOpen);
        EXPECT_EQ(controller->hasStore(), c.storeRemains);
        EXPECT_EQ(store->saves, 0);
        EXPECT_FALSE(controller->observing);
        EXPECT_EQ(controller->connection, ConnectionStatus::disconnected);
        // Without a store there is no page at all: a browser would make a profile folder on disk
        // for an account that exists only in memory.
        EXPECT_EQ(transports.pages.size(), c.storeRemains ? 1u : 0u);
        const auto opened = [&] { return transports.pages.empty() ? 0u : page().count("open"); };
        EXPECT_EQ(opened(), 0u) << "an account that connected before is not opened";
        EXPECT_EQ(controller->snapshot().issue, kCouldNotOpen);
        EXPECT_EQ(failureOf([&] { controller->transaction([](Vault& v) { v.theme = Theme::dark; }); }), kUnavailable);

        controller->connect();
        controller->showDot();
        EXPECT_EQ(opened(), 0u);
        EXPECT_FALSE(controller->observing);

        store->failSave = false;
        store->failLoad = false;
        if (c.storeRemains) {
            controller->retryStorage();
            EXPECT_TRUE(controller->storageHealthy());
            EXPECT_EQ(controller->issue, "");
            EXPECT_EQ(store->saves, 1);
        } else {
            EXPECT_EQ(failureOf([&] { controller->retryStorage(); }), kReopen);
            EXPECT_FALSE(controller->storageHealthy());
        }
    }
}

TEST_F(ConstructionTest, FailedStartLeavesTheVaultFileByteForByte)
{
    auto folder = std::filesystem::temp_directory_path() / ("quorvane-start-" + std::to_string(::getpid()));
    std::filesystem::remove_all(folder);
    const std::vector<std::uint8_t> rightKey(32, 7), wrongKey(32, 9);
    SecureStore(folder, rightKey).save(connectedVault());
    auto bytesOf = [](const std::filesystem::path& file) {
        std::ifstream in(file, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    const std::string before = bytesOf(folder / "vault.enc");

    ControllerServices given = services();
    given.openStore = [&] { return std::make_unique<SecureStore>(folder, wrongKey); };
    make(given);
    EXPECT_FALSE(controller->storageHealthy());
    EXPECT_EQ(controller->issue, kCouldNotOpen);
    controller.reset();

    EXPECT_EQ(bytesOf(folder / "vault.enc"), before);
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        files.push_back(entry.path().filename().string());
    EXPECT_EQ(files, std::vector<std::string> { "vault.enc" });
    std::filesystem::remove_all(folder);
}

// Every account is tidied and recovered at start, and the result saved once.
TEST_F(ConstructionTest, VaultComesBackCleanedRecoveredAndSavedOnce)
{
    Vault vault = connectedVault();
    Vault second = connectedVault();
    vault.accounts.push_back(second.account());
    for (Account& account : vault.accounts) {
        account.bots = Bot::starters();  // "dot" with an old personality, and untouched "ceo" and "muse"
        account.bots[0].personality = "An old default personality.";
        account.messages = CowVector<ChatMessage> {
            ChatMessage { "R1", "dot", MessageRole::user, "Hello", 100, MessageStatus::sending },
            ChatMessage { "R2", "dot", MessageRole::user, "Again", 101, MessageStatus::sending },
        };
        PendingRequest submitted = PendingRequest::make("R1", account.bots[0], "Hello");
        submitted.phase = JobPhase::submitting;
        PendingRequest preparing = PendingRequest::make("R2", account.bots[0], "Again");
        preparing.phase = JobPhase::preparing;
        account.jobs = { submitted, preparing };
    }
    make(vault);

    EXPECT_EQ(store->saves, 1);
    EXPECT_EQ(store->saved, controller->vault());
    EXPECT_TRUE(controller->storageHealthy());
    ASSERT_EQ(controller->vault().accounts.size(), 2u);
    for (const Account& account : controller->vault().accounts) {
        ASSERT_EQ(account.bots.size(), 1u);
        EXPECT_EQ(account.bots[0].id, "dot");
        EXPECT_EQ(account.bots[0].personality, "");
        ASSERT_EQ(account.jobs.size(), 2u);
        EXPECT_EQ(account.jobs[0].phase, JobPhase::uncertain);
        EXPECT_EQ(account.messages[0].status, MessageStatus::uncertain);
        EXPECT_EQ(account.jobs[1].phase, JobPhase::queued);
        EXPECT_EQ(account.messages[1].status, MessageStatus::queued);
    }
}

TEST_F(ConstructionTest, AccountThatConnectedBeforeIsOpenedAtOnce)
{
    make(connectedVault());
    EXPECT_EQ(page().profile, controller->vault().account().browserProfile);
    EXPECT_EQ(page().opened, std::vector<std::string> { kConversation });
    EXPECT_TRUE(controller->observing);
    EXPECT_EQ(controller->connection, ConnectionStatus::connecting);

    controller.reset();
    make(Vault::fresh());
    EXPECT_TRUE(page().opened.empty());
    EXPECT_FALSE(controller->observing);
    EXPECT_EQ(controller->connection, ConnectionStatus::disconnected);
}

TEST_F(ConstructionTest, ConnectOpensShowsAndWatches)
{
    make(Vault::fresh());
    controller->issue = "Something earlier";
    controller->connect();
    EXPECT_EQ(page().calls, (std::vector<std::string> { "open", "show" }));
    EXPECT_EQ(page().opened, std::vector<std::string> { "" }) << "a never-connected account opens Dot's home";
    EXPECT_TRUE(page().visible);
    EXPECT_TRUE(controller->observing);
    EXPECT_EQ(controller->connection, ConnectionStatus::connecting);
    ASSERT_FALSE(published.empty());
    EXPECT_EQ(published.back().connection, ConnectionStatus::connecting);
    EXPECT_EQ(published.back().issue, "");
}

TEST_F(ConstructionTest, StopEndsTheLoopAndTheTransport)
{
    make(connectedVault());
    controller->start();
    EXPECT_EQ(scheduler.pending(), 1u) << "the loop rests between turns";
    controller->stop();
    EXPECT_FALSE(controller->observing);
    EXPECT_TRUE(page().isShutDown);
    EXPECT_EQ(scheduler.pending(), 0u);
}

TEST_F(ConstructionTest, ResetAfterSwitchGivesTheNewAccountAFreshPage)
{
    make(connectedVault());
    bool oldShutDown = false;
    page().onShutdown = [&] { oldShutDown = true; };
    controller->lastRemoteMessages = std::vector<DotMessage> {};
    controller->lastWatchCount = 3;
    controller->candidate = "reading";
    controller->liveReply = ChatMessage { "R-reply" };
    controller->avatarSource = "https://dot.example/a.png";
    controller->recoveryStarted = now();
    controller->recoveryAttempts = 2;
    controller->lastRemoteDraft = "draft";
    controller->loadingSince = now();
    controller->transaction([](Vault& vault) { vault.newAccount(); });
    published.clear();

    controller->resetForActiveAccount();
    EXPECT_TRUE(oldShutDown);
    ASSERT_EQ(transports.pages.size(), 2u);
    EXPECT_EQ(page().profile, controller->vault().account().browserProfile);
    EXPECT_FALSE(controller->lastRemoteMessages);
    EXPECT_EQ(controller->lastWatchCount, -1);
    EXPECT_EQ(controller->candidate, "");
    EXPECT_FALSE(controller->liveReply);
    EXPECT_EQ(controller->avatarSource, "");
    EXPECT_FALSE(controller->recoveryStarted);
    EXPECT_EQ(controller->recoveryAttempts, 0);
    EXPECT_EQ(controller->lastRemoteDraft, "");
    EXPECT_FALSE(controller->loadingSince);
    EXPECT_FALSE(controller->observing);
    EXPECT_EQ(controller->connection, ConnectionStatus::disconnected);
    ASSERT_EQ(published.size(), 1u);
    EXPECT_EQ(published.back().account.id, controller->vault().activeAccount);
}

}  // namespace
}  // namespace quorvane::testing
