// Vault transactions and storage health: nothing is saved or published for a change that
// changes nothing, a refused change leaves the vault, and a failed save keeps the last saved
// vault and pauses every change until storage is retried successfully.

#include <gtest/gtest.h>

#include "ControllerHarness.hpp"

namespace quorvane::testing {
namespace {

constexpr const char* kSaveFailed
    = "Your conversation couldn\u2019t be saved. Sending is paused; your visible draft is still here.";
constexpr const char* kUnavailable = "Local storage is unavailable. Reopen Quorvane before continuing.";

class TransactionTest : public ControllerTest {
protected:
    void SetUp() override
    {
        make();
        published.clear();
        saves = store->saves;
    }
    int saves = 0;
};

TEST_F(TransactionTest, UnchangedResultSavesAndPublishesNothing)
{
    const Vault before = controller->vault();
    controller->transaction([](Vault&) {});
    controller->transaction([](Vault& vault) {
        vault.theme = Theme::dark;
        vault.theme = Theme::light;
    });
    EXPECT_EQ(store->saves, saves);
    EXPECT_TRUE(published.empty());
    EXPECT_EQ(controller->vault(), before);
}

TEST_F(TransactionTest, ChangeIsSavedThenCommittedThenPublished)
{
    controller->transaction([](Vault& vault) { vault.theme = Theme::dark; });
    EXPECT_EQ(store->saves, saves + 1);
    EXPECT_EQ(store->saved->theme, Theme::dark);
    EXPECT_EQ(controller->vault().theme, Theme::dark);
    ASSERT_EQ(published.size(), 1u);
    EXPECT_EQ(published.back().theme, Theme::dark);
}

TEST_F(TransactionTest, ThrowingBodyLeavesTheVault)
{
    const Vault before = controller->vault();
    EXPECT_EQ(failureOf([&] {
        controller->transaction([](Vault& vault) {
            vault.theme = Theme::dark;
            vault.account().cancelQueued("no such request");
        });
    }),
        "This message may already be in Dot. It can\u2019t be cancelled here.");
    EXPECT_EQ(controller->vault(), before);
    EXPECT_EQ(store->saves, saves);
    EXPECT_TRUE(published.empty());
    EXPECT_TRUE(controller->storageHealthy());
}

TEST_F(TransactionTest, FailedSavePausesChangesUntilRetrySucceeds)
{
    controller->transaction([](Vault& vault) { vault.theme = Theme::dark; });
    const Vault saved = controller->vault();
    published.clear();

    store->failSave = true;
    EXPECT_EQ(
        failureOf([&] { controller->transaction([](Vault& vault) { vault.theme = Theme::system; }); }), kSaveFailed);
    EXPECT_EQ(controller->vault(), saved);
    EXPECT_FALSE(controller->storageHealthy());
    EXPECT_EQ(controller->issue, kSaveFailed);
    ASSERT_EQ(published.size(), 1u);
    EXPECT_FALSE(published.back().storageHealthy);
    EXPECT_EQ(published.back().issue, kSaveFailed);

    // The disk is fine again, but nothing changes until storage is retried.
    store->failSave = false;
    const int savesBefore = store->saves;
    EXPECT_EQ(
        failureOf([&] { controller->transaction([](Vault& vault) { vault.theme = Theme::system; }); }), kUnavailable);
    EXPECT_EQ(store->saves, savesBefore);
    EXPECT_EQ(controller->vault(), saved);

    // A retry that fails again changes nothing and says why.
    store->failSave = true;
    EXPECT_EQ(failureOf([&] { controller->retryStorage(); }), "The disk is full.");
    EXPECT_FALSE(controller->storageHealthy());
    EXPECT_EQ(controller->issue, kSaveFailed);

    store->failSave = false;
    controller->retryStorage();
    EXPECT_TRUE(controller->storageHealthy());
    EXPECT_EQ(controller->issue, "");
    EXPECT_EQ(store->saved, saved);
    EXPECT_TRUE(published.back().storageHealthy);
    EXPECT_EQ(published.back().issue, "");

    controller->transaction([](Vault& vault) { vault.theme = Theme::system; });
    EXPECT_EQ(controller->vault().theme, Theme::system);
}

}  // namespace
}  // namespace quorvane::testing
