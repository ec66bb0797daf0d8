// The store against a real Secret Service (gnome-keyring-daemon), run by with-keyring.sh in a
// private session with a throw-away keyring. `secret-tool` looks at the item from outside.

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "StoreTestSupport.hpp"
#include "quorvane/AppFailure.hpp"
#include "quorvane/SecureStore.hpp"

using namespace quorvane;
using namespace quorvane::test;

namespace {

constexpr const char* kKeyMissing = "The saved encryption key is missing. Your local data has been left untouched.";
constexpr const char* kUnavailable = "Your keyring is unavailable. Unlock your session and reopen Quorvane.";
const std::string kItem = "service local.vemir.quorvane.vault account encryption-key";

std::string runOutput(const std::string& command)
{
    std::string output;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return output;
    char buffer[256];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        output.append(buffer, got);
    ::pclose(pipe);
    return output;
}

// The item's secret as secret-tool reads it; empty when there is no item.
std::string itemSecret() { return runOutput("secret-tool lookup " + kItem + " 2>/dev/null"); }

void lockKeyring()
{
    ASSERT_EQ(
        runCommand(
            "dbus-send --session --print-reply --dest=org.freedesktop.secrets /org/freedesktop/secrets "
            "org.freedesktop.Secret.Service.Lock array:objpath:/org/freedesktop/secrets/collection/login >/dev/null"),
        0);
}

// The item paths the Secret Service reports for the vault key, unlocked ones first, then locked
// ones; read without unlocking anything.
std::string itemPaths()
{
    return runOutput(
        "dbus-send --session --print-reply=literal --dest=org.freedesktop.secrets /org/freedesktop/secrets "
        "org.freedesktop.Secret.Service.SearchItems "
        "dict:string:string:service,local.vemir.quorvane.vault,account,encryption-key");
}

class RealKeyring : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Never against the user's own keyring.
        ASSERT_STREQ(std::getenv("QUORVANE_KEYRING_TEST"), "1") << "run through tests/store/with-keyring.sh";
        runCommand("secret-tool clear " + kItem);
        ASSERT_EQ(itemSecret(), "");
    }
    void TearDown() override { runCommand("secret-tool clear " + kItem); }

    ScratchFolder scratch;
    std::filesystem::path folder = scratch / "Quorvane";
};

TEST_F(RealKeyring, FirstStartMakesTheKeyAndLaterStartsReuseIt)
{
    Vault vault;
    {
        SecureStore store(folder);
        vault = store.load();
        ASSERT_EQ(vault.accounts.size(), 1u);
        EXPECT_EQ(vault.accounts.front().label, "Your Dot");
        vault.theme = Theme::dark;
        store.save(vault);
    }
    std::string key = itemSecret();
    EXPECT_EQ(key.size(), 32u);

    SecureStore again(folder);
    EXPECT_EQ(again.load(), vault);
    EXPECT_EQ(itemSecret(), key) << "a second start replaced the key";
}

TEST_F(RealKeyring, DeletedItemBesideSavedDataIsMissingAndNothingChanges)
{
    SecureStore(folder).save(sampleVault());
    const std::string before = readBytes(folder / "vault.enc");
    ASSERT_EQ(runCommand("secret-tool clear " + kItem), 0);

    try {
        SecureStore store(folder);
        ADD_FAILURE() << "made a store for data whose key is gone";
    } catch (const AppFailure& failure) {
        EXPECT_EQ(failure.message, kKeyMissing);
    }
    EXPECT_EQ(readBytes(folder / "vault.enc"), before);
    EXPECT_EQ(itemSecret(), "") << "a new key was made for existing data";
}

// A locked item must never look like a missing one, or a first start would begin over it.
// (The keyring stays locked afterwards, so CTest runs this case in a session of its own.)
TEST_F(RealKeyring, LockedKeyringIsUnavailableWithOrWithoutData)
{
    SecureStore(folder).save(sampleVault());
    const std::string before = readBytes(folder / "vault.enc");
    lockKeyring();
    ASSERT_EQ(itemSecret(), "") << "the keyring did not lock";
    const std::string lockedItems = itemPaths();
    ASSERT_NE(lockedItems.find("/org/freedesktop/secrets/collection/"), std::string::npos) << lockedItems;

    for (bool filePresent : { true, false }) {
        SCOPED_TRACE(filePresent ? "file present" : "file absent");
        if (!filePresent)
            std::filesystem::remove(folder / "vault.enc");
        try {
            SecureStore store(folder);
            ADD_FAILURE() << "made a store while the keyring is locked";
        } catch (const AppFailure& failure) {
            EXPECT_EQ(failure.message, kUnavailable);
        }
        if (filePresent) {
            EXPECT_EQ(readBytes(folder / "vault.enc"), before);
        }
        EXPECT_EQ(itemPaths(), lockedItems) << "the keyring's items changed";
    }
}

TEST_F(RealKeyring, ItemOfTheWrongLengthIsUnavailableAndKept)
{
    // Written by another tool, without the schema name: found by service and account alone.
    ASSERT_EQ(runCommand("printf not-a-key | secret-tool store --label=other " + kItem), 0);
    try {
        SecureStore store(folder);
        ADD_FAILURE() << "accepted a 9-byte key";
    } catch (const AppFailure& failure) {
        EXPECT_EQ(failure.message, kUnavailable);
    }
    EXPECT_EQ(itemSecret(), "not-a-key");
}

TEST_F(RealKeyring, TestKeyStoreNeverTouchesTheKeyring)
{
    const Vault vault = sampleVault();
    SecureStore store(folder, fixedKey());
    store.save(vault);
    EXPECT_EQ(store.load(), vault);
    EXPECT_EQ(itemSecret(), "");
}

}  // namespace
