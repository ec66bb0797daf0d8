// How the store gets its key from the keyring: every keyring answer against a vault file that
// is there or not. The rule under test is that existing data never gets a new key.

#include <cstdlib>
#include <optional>
#include <string>

#include <gtest/gtest.h>
#include <unistd.h>

#include "StoreTestSupport.hpp"
#include "quorvane/AppFailure.hpp"
#include "quorvane/SecureStore.hpp"

using namespace quorvane;
using namespace quorvane::test;

namespace {

constexpr const char* kKeyMissing = "The saved encryption key is missing. Your local data has been left untouched.";
constexpr const char* kKeyNotStored = "Couldn’t save your encryption key. Unlock your keyring and reopen Quorvane.";
constexpr const char* kUnavailable = "Your keyring is unavailable. Unlock your session and reopen Quorvane.";

enum class Keyring { absent, itemMissing, itemWrongLength, itemEmpty, itemPresent, itemMissingAndAddRefused };
enum class File { absent, present, danglingLink };

const char* describe(Keyring keyring)
{
    switch (keyring) {
    case Keyring::absent:
        return "keyring absent";
    case Keyring::itemMissing:
        return "item missing";
    case Keyring::itemWrongLength:
        return "item of 31 bytes";
    case Keyring::itemEmpty:
        return "item empty";
    case Keyring::itemPresent:
        return "item present";
    case Keyring::itemMissingAndAddRefused:
        return "item missing, add refused";
    }
    return "?";
}

const char* describe(File file)
{
    switch (file) {
    case File::absent:
        return "file absent";
    case File::present:
        return "file present";
    case File::danglingLink:
        return "file is a dangling link";
    }
    return "?";
}

struct Case {
    Keyring keyring;
    File file;
    std::optional<std::string> failure;  // absent: the store is made
    bool addsKey;
};

TEST(KeyringTable, ExistingDataNeverGetsANewKey)
{
    const Case cases[] = {
        { Keyring::absent, File::absent, kUnavailable, false },
        { Keyring::absent, File::present, kUnavailable, false },
        { Keyring::itemMissing, File::absent, std::nullopt, true },
        { Keyring::itemMissing, File::present, kKeyMissing, false },
        { Keyring::itemMissing, File::danglingLink, kKeyMissing, false },
        { Keyring::itemMissingAndAddRefused, File::absent, kKeyNotStored, true },
        { Keyring::itemWrongLength, File::absent, kUnavailable, false },
        { Keyring::itemWrongLength, File::present, kUnavailable, false },
        { Keyring::itemEmpty, File::absent, kUnavailable, false },
        { Keyring::itemPresent, File::absent, std::nullopt, false },
        { Keyring::itemPresent, File::present, std::nullopt, false },
    };
    const Vault saved = sampleVault();
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(describe(c.keyring)) + ", " + describe(c.file));
        ScratchFolder scratch;
        std::filesystem::path folder = scratch / "Quorvane";
        std::filesystem::create_directories(folder);
        std::string fileBytes;
        if (c.file == File::present) {
            SecureStore(folder, fixedKey()).save(saved);
            fileBytes = readBytes(folder / "vault.enc");
        } else if (c.file == File::danglingLink) {
            std::filesystem::create_symlink(scratch / "elsewhere" / "vault.enc", folder / "vault.enc");
        }

        FakeKeyStore keyring;
        switch (c.keyring) {
        case Keyring::absent:
            keyring.answer.status = KeyLookup::Status::unavailable;
            break;
        case Keyring::itemMissing:
            keyring.answer.status = KeyLookup::Status::notFound;
            break;
        case Keyring::itemMissingAndAddRefused:
            keyring.answer.status = KeyLookup::Status::notFound;
            keyring.acceptsAdd = false;
            break;
        case Keyring::itemWrongLength: {
            std::vector<std::uint8_t> shortKey = fixedKey();
            shortKey.pop_back();
            keyring.answer = { KeyLookup::Status::found, shortKey, {} };
            break;
        }
        case Keyring::itemEmpty:
            keyring.answer = { KeyLookup::Status::found, {}, {} };
            break;
        case Keyring::itemPresent:
            keyring.answer = { KeyLookup::Status::found, fixedKey(), {} };
            break;
        }

        std::optional<SecureStore> store;
        try {
            store.emplace(folder, keyring);
            EXPECT_FALSE(c.failure) << "the store was made";
        } catch (const AppFailure& failure) {
            EXPECT_EQ(std::optional<std::string>(failure.message), c.failure);
        }
        EXPECT_EQ(keyring.finds, 1);
        EXPECT_EQ(keyring.adds, c.addsKey ? 1 : 0);
        if (c.file == File::present) {
            EXPECT_EQ(readBytes(folder / "vault.enc"), fileBytes);
        }
        if (!store)
            continue;

        if (c.file == File::present) {
            EXPECT_EQ(store->load(), saved);
            continue;
        }
        // A first start: a fresh vault, saved under the key the keyring now holds.
        Vault fresh = store->load();
        EXPECT_EQ(fresh.accounts.size(), 1u);
        store->save(fresh);
        if (c.addsKey) {
            EXPECT_EQ(keyring.added.size(), 32u);
            EXPECT_NE(keyring.added, fixedKey());
        }
        SecureStore reopened(folder, keyring);
        EXPECT_EQ(reopened.load(), fresh);
        EXPECT_EQ(keyring.adds, c.addsKey ? 1 : 0) << "a second start made another key";
    }
}

TEST(KeyringTable, NewKeysAreRandom)
{
    ScratchFolder first, second;
    FakeKeyStore a, b;
    a.answer.status = b.answer.status = KeyLookup::Status::notFound;
    SecureStore(first.path(), a);
    SecureStore(second.path(), b);
    ASSERT_EQ(a.added.size(), 32u);
    EXPECT_NE(a.added, b.added);
}

// The real Secret Service client with no session bus to reach: unavailable, never "missing".
TEST(KeyringTable, UnreachableSecretServiceIsUnavailableNotMissing)
{
    ScratchFolder scratch;
    std::string bus = "unix:path=" + (scratch / "no-bus-here").string();
    std::optional<std::string> oldBus;
    if (const char* value = std::getenv("DBUS_SESSION_BUS_ADDRESS"))
        oldBus = value;
    std::optional<std::string> oldDisplay;
    if (const char* value = std::getenv("DISPLAY"))
        oldDisplay = value;
    ::setenv("DBUS_SESSION_BUS_ADDRESS", bus.c_str(), 1);
    ::unsetenv("DISPLAY");  // no X11 autolaunch of a bus of its own

    std::filesystem::path folder = scratch / "Quorvane";
    for (bool filePresent : { false, true }) {
        SCOPED_TRACE(filePresent ? "file present" : "file absent");
        std::string bytes;
        if (filePresent) {
            SecureStore(folder, fixedKey()).save(sampleVault());
            bytes = readBytes(folder / "vault.enc");
        }
        try {
            SecureStore store(folder);
            ADD_FAILURE() << "made a store without a keyring";
        } catch (const AppFailure& failure) {
            EXPECT_EQ(failure.message, kUnavailable);
        }
        if (filePresent) {
            EXPECT_EQ(readBytes(folder / "vault.enc"), bytes);
        }
    }

    if (oldBus)
        ::setenv("DBUS_SESSION_BUS_ADDRESS", oldBus->c_str(), 1);
    else
        ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
    if (oldDisplay)
        ::setenv("DISPLAY", oldDisplay->c_str(), 1);
}

}  // namespace
