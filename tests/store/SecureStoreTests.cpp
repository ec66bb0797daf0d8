// The store with a test key: round trips, the file format's guarantees, what it refuses to
// load, and where it keeps its folder.

#include <cstdlib>
#include <limits>
#include <optional>
#include <string>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "StoreTestSupport.hpp"
#include "quorvane/AppFailure.hpp"
#include "quorvane/Json.hpp"
#include "quorvane/SecureStore.hpp"

using namespace quorvane;
using namespace quorvane::test;

namespace {

constexpr const char* kNewerVersion = "This saved data needs a newer version of Quorvane.";
constexpr const char* kAuthenticationFailed = "The saved data could not be decrypted (authentication failed).";
constexpr const char* kRefusedOverwrite = "The saved data could not be read, so it will not be overwritten.";

mode_t modeOf(const std::filesystem::path& path)
{
    struct stat info { };
    if (::stat(path.c_str(), &info) != 0)
        return 0;
    return info.st_mode & 07777;
}

class SecureStoreTest : public ::testing::Test {
protected:
    ScratchFolder scratch;
    std::filesystem::path folder = scratch / "Quorvane";
};

TEST_F(SecureStoreTest, SavedVaultLoadsBackEqualWithOwnerOnlyPermissions)
{
    std::filesystem::path nested = scratch / "made" / "on" / "demand";
    Vault vault = sampleVault();
    {
        SecureStore store(nested, fixedKey());
        store.save(vault);
    }
    SecureStore store(nested, fixedKey());
    EXPECT_EQ(store.load(), vault);
    EXPECT_EQ(modeOf(nested / "vault.enc"), 0600u);
    for (auto path : { scratch / "made", scratch / "made" / "on", nested }) {
        SCOPED_TRACE(path.string());
        EXPECT_EQ(modeOf(path), 0700u);
    }
    EXPECT_TRUE(strayFiles(nested).empty());
}

TEST_F(SecureStoreTest, FileIsNonceCiphertextAndTagOfTheCompactJson)
{
    Vault vault = sampleVault();
    SecureStore store(folder, fixedKey());
    store.save(vault);
    EXPECT_EQ(readBytes(folder / "vault.enc").size(), 12 + encodeJSON(vault).size() + 16);
}

TEST_F(SecureStoreTest, NoFileLoadsAFreshVaultWithoutWritingIt)
{
    SecureStore store(folder, fixedKey());
    Vault vault = store.load();
    ASSERT_EQ(vault.accounts.size(), 1u);
    EXPECT_EQ(vault.accounts.front().label, "Your Dot");
    EXPECT_EQ(vault.activeAccount, vault.accounts.front().id);
    EXPECT_EQ(vault.version, 1);
    EXPECT_FALSE(std::filesystem::exists(folder / "vault.enc"));
}

TEST_F(SecureStoreTest, TwoSavesOfOneVaultDifferButBothLoadToIt)
{
    Vault vault = sampleVault();
    SecureStore store(folder, fixedKey());
    store.save(vault);
    std::string first = readBytes(folder / "vault.enc");
    store.save(vault);
    std::string second = readBytes(folder / "vault.enc");

    EXPECT_NE(first.substr(0, 12), second.substr(0, 12)) << "every save needs a fresh nonce";
    EXPECT_NE(first, second);
    EXPECT_EQ(store.load(), vault);
    writeBytes(folder / "vault.enc", first);
    EXPECT_EQ(store.load(), vault);
}

// A file that cannot be opened fails with a readable reason, stays byte for byte as it was, and
// the store then refuses to save over it.
TEST_F(SecureStoreTest, DamagedFilesFailToLoadAndAreNeverOverwritten)
{
    Vault vault = sampleVault();
    std::string good;
    {
        SecureStore store(folder, fixedKey());
        store.save(vault);
        good = readBytes(folder / "vault.enc");
    }
    struct Case {
        const char* name;
        std::string bytes;
        std::vector<std::uint8_t> key;
        StorageError::Kind kind;
        std::string message;
    };
    auto flipped = [&](std::size_t at) {
        std::string bytes = good;
        bytes[at] = static_cast<char>(bytes[at] ^ 0x01);
        return bytes;
    };
    const std::string tooShort = "The saved data is damaged (the file is too short to hold a vault).";
    const Case cases[] = {
        { "nonce byte flipped", flipped(3), fixedKey(), StorageError::Kind::authentication, kAuthenticationFailed },
        { "ciphertext byte flipped", flipped(good.size() / 2), fixedKey(), StorageError::Kind::authentication,
            kAuthenticationFailed },
        { "tag byte flipped", flipped(good.size() - 1), fixedKey(), StorageError::Kind::authentication,
            kAuthenticationFailed },
        { "truncated by one byte", good.substr(0, good.size() - 1), fixedKey(), StorageError::Kind::authentication,
            kAuthenticationFailed },
        { "another key", good, fixedKey(9), StorageError::Kind::authentication, kAuthenticationFailed },
        { "shorter than nonce and tag", good.substr(0, 27), fixedKey(), StorageError::Kind::damaged, tooShort },
        { "empty", "", fixedKey(), StorageError::Kind::damaged, tooShort },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeBytes(folder / "vault.enc", c.bytes);
        SecureStore store(folder, c.key);
        try {
            store.load();
            ADD_FAILURE() << "loaded a damaged file";
        } catch (const StorageError& error) {
            EXPECT_EQ(error.kind, c.kind);
            EXPECT_EQ(std::string(error.what()), c.message);
        }
        try {
            store.save(vault);
            ADD_FAILURE() << "saved over a file it could not read";
        } catch (const StorageError& error) {
            EXPECT_EQ(error.kind, StorageError::Kind::refused);
            EXPECT_EQ(std::string(error.what()), kRefusedOverwrite);
        }
        EXPECT_EQ(readBytes(folder / "vault.enc"), c.bytes);
        EXPECT_TRUE(strayFiles(folder).empty());
    }
}

TEST_F(SecureStoreTest, SavingIsAllowedAgainOnceTheFileLoads)
{
    Vault vault = sampleVault();
    SecureStore store(folder, fixedKey());
    store.save(vault);
    std::string good = readBytes(folder / "vault.enc");
    std::string bad = good;
    bad[20] ^= 0x40;
    writeBytes(folder / "vault.enc", bad);
    EXPECT_THROW(store.load(), StorageError);
    writeBytes(folder / "vault.enc", good);
    EXPECT_EQ(store.load(), vault);
    vault.theme = Theme::system;
    store.save(vault);
    EXPECT_EQ(store.load(), vault);
}

// Plaintexts that decrypt fine but are not a vault this version may use.
TEST_F(SecureStoreTest, ContentsThatAreNotAUsableVaultFailWithTheirReason)
{
    Vault valid = sampleVault();
    auto withVersion = [&](std::int64_t version) {
        Vault v = valid;
        v.version = version;
        return encodeJSON(v);
    };
    Vault orphan = valid;
    orphan.activeAccount = "NOT-AN-ACCOUNT";
    Vault empty = valid;
    empty.accounts.clear();
    std::string missingLabel = encodeJSON(valid);
    missingLabel.replace(missingLabel.find("\"label\":"), 8, "\"lable\":");

    struct Case {
        const char* name;
        std::string plaintext;
        std::optional<StorageError::Kind> decodingKind;  // absent: AppFailure
        std::string message;
    };
    const Case cases[] = {
        { "version 2", withVersion(2), std::nullopt, kNewerVersion },
        { "version 0", withVersion(0), std::nullopt, kNewerVersion },
        { "active account names no account", encodeJSON(orphan), std::nullopt, kNewerVersion },
        { "no accounts at all", encodeJSON(empty), std::nullopt, kNewerVersion },
        { "missing required key", missingLabel, StorageError::Kind::decoding,
            "The saved data could not be decoded (accounts.0: missing key \"label\")." },
        { "not JSON", "{\"version\":1,", StorageError::Kind::decoding,
            "The saved data could not be decoded (The data is not valid JSON: incomplete JSON)." },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::create_directories(folder);
        std::string bytes = sealWithOpenSSL(fixedKey(), c.plaintext);
        writeBytes(folder / "vault.enc", bytes);
        SecureStore store(folder, fixedKey());
        try {
            store.load();
            ADD_FAILURE() << "loaded";
        } catch (const AppFailure& failure) {
            EXPECT_FALSE(c.decodingKind);
            EXPECT_EQ(failure.message, c.message);
        } catch (const StorageError& error) {
            ASSERT_TRUE(c.decodingKind) << error.what();
            EXPECT_EQ(error.kind, *c.decodingKind);
            EXPECT_EQ(std::string(error.what()), c.message);
        }
        EXPECT_THROW(store.save(valid), StorageError);
        EXPECT_EQ(readBytes(folder / "vault.enc"), bytes);
    }
}

// What load would refuse is never written: a plain Vault{} (no account), another version, an
// active account that names none, a date that is not a number. The file stays as it was (or
// absent), and the store goes on saving good vaults.
TEST_F(SecureStoreTest, SaveRefusesAVaultThatCouldNotBeOpenedAgain)
{
    const Vault good = sampleVault();
    Vault version2 = good;
    version2.version = 2;
    Vault orphan = good;
    orphan.activeAccount = "NOT-AN-ACCOUNT";
    Vault infinite = good;
    infinite.accounts.front().messages.mutableAt(0).date = std::numeric_limits<double>::infinity();
    Vault notANumber = good;
    notANumber.accounts.front().messages.mutableAt(0).date = std::numeric_limits<double>::quiet_NaN();
    const struct Case {
        const char* name;
        Vault vault;
    } cases[] = {
        { "a plain Vault{}", Vault {} },
        { "version 2", version2 },
        { "an active account that names none", orphan },
        { "an infinite date", infinite },
        { "a date that is not a number", notANumber },
    };
    SecureStore store(folder, fixedKey());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (bool fileExists : { false, true }) {
            SCOPED_TRACE(fileExists ? "over a saved vault" : "as the first save");
            std::filesystem::remove_all(folder);
            std::filesystem::create_directories(folder);
            if (fileExists)
                store.save(good);
            const std::optional<std::string> before
                = fileExists ? std::optional(readBytes(folder / "vault.enc")) : std::nullopt;
            try {
                store.save(c.vault);
                ADD_FAILURE() << "saved";
            } catch (const StorageError& error) {
                EXPECT_EQ(error.kind, StorageError::Kind::notLoadable);
                EXPECT_STREQ(error.what(), "This data wasn’t saved, because it couldn’t be opened again.");
            }
            if (before)
                EXPECT_EQ(readBytes(folder / "vault.enc"), *before);
            else
                EXPECT_FALSE(std::filesystem::exists(folder / "vault.enc"));
            EXPECT_TRUE(strayFiles(folder).empty());
        }
    }
    Vault changed = good;
    changed.theme = Theme::dark;
    store.save(changed);
    EXPECT_EQ(store.load(), changed);
}

TEST_F(SecureStoreTest, TestKeyMustBeExactly32Bytes)
{
    for (std::size_t length : { 0, 16, 31, 33, 64 }) {
        SCOPED_TRACE(length);
        try {
            SecureStore store(folder, std::vector<std::uint8_t>(length, 1));
            ADD_FAILURE() << "accepted a key of " << length << " bytes";
        } catch (const AppFailure& failure) {
            EXPECT_EQ(failure.message, "Invalid storage key.");
        }
    }
    EXPECT_NO_THROW(SecureStore(folder, std::vector<std::uint8_t>(32, 1)));
}

TEST_F(SecureStoreTest, LeftoversOfInterruptedSavesAreRemovedAtStart)
{
    std::filesystem::create_directories(folder);
    writeBytes(folder / ".vault.enc-Ab12Cd", "half a vault");
    writeBytes(folder / "DockIcon.png", "not ours");
    SecureStore store(folder, fixedKey());
    EXPECT_FALSE(std::filesystem::exists(folder / ".vault.enc-Ab12Cd"));
    EXPECT_EQ(readBytes(folder / "DockIcon.png"), "not ours");
}

TEST_F(SecureStoreTest, AFolderThatCannotBeMadeFailsWithTheSystemsReason)
{
    writeBytes(scratch / "a-file", "x");
    std::filesystem::path inside = scratch / "a-file" / "Quorvane";
    try {
        SecureStore store(inside, fixedKey());
        ADD_FAILURE() << "made a folder inside a file";
    } catch (const StorageError& error) {
        EXPECT_EQ(error.kind, StorageError::Kind::fileSystem);
        EXPECT_EQ(std::string(error.what()),
            "The storage folder " + inside.string() + " could not be created (Not a directory).");
    }
}

// Restores an environment variable when the test ends.
class EnvironmentOverride {
public:
    EnvironmentOverride(const char* name, const char* value)
        : name(name)
    {
        if (const char* old = std::getenv(name))
            previous = old;
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~EnvironmentOverride()
    {
        if (previous)
            ::setenv(name, previous->c_str(), 1);
        else
            ::unsetenv(name);
    }

private:
    const char* name;
    std::optional<std::string> previous;
};

TEST_F(SecureStoreTest, DefaultFolderFollowsTheDataHome)
{
    std::string home = (scratch / "home").string();
    std::string dataHome = (scratch / "data").string();
    struct Case {
        const char* name;
        const char* xdgDataHome;
        std::filesystem::path expected;
    };
    const Case cases[] = {
        { "XDG_DATA_HOME set", dataHome.c_str(), scratch / "data" / "Quorvane" },
        { "XDG_DATA_HOME unset", nullptr, scratch / "home" / ".local" / "share" / "Quorvane" },
        { "XDG_DATA_HOME empty", "", scratch / "home" / ".local" / "share" / "Quorvane" },
        { "XDG_DATA_HOME relative", "relative/data", scratch / "home" / ".local" / "share" / "Quorvane" },
    };
    EnvironmentOverride homeOverride("HOME", home.c_str());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EnvironmentOverride dataOverride("XDG_DATA_HOME", c.xdgDataHome);
        EXPECT_EQ(SecureStore::defaultDirectory(), c.expected);
        SecureStore store(std::nullopt, fixedKey());
        EXPECT_EQ(store.directory, c.expected);
        store.save(sampleVault());
        EXPECT_TRUE(std::filesystem::exists(c.expected / "vault.enc"));
        EXPECT_EQ(modeOf(c.expected), 0700u);
    }
}

}  // namespace
