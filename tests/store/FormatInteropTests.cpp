// The file format against an independent AES-GCM implementation (Python's `cryptography`, as
// Debian ships it): what the store writes, it decrypts; what it writes, the store loads.

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "StoreTestSupport.hpp"
#include "quorvane/Json.hpp"
#include "quorvane/SecureStore.hpp"

using namespace quorvane;
using namespace quorvane::test;

namespace {

std::string hex(const std::vector<std::uint8_t>& bytes)
{
    std::string out;
    char digits[3];
    for (auto byte : bytes) {
        std::snprintf(digits, sizeof digits, "%02x", byte);
        out += digits;
    }
    return out;
}

int runPython(const std::string& mode, const std::vector<std::uint8_t>& key, const std::filesystem::path& in,
    const std::filesystem::path& out, bool expectFailure = false)
{
    // Debian's interpreter, which is the one python3-cryptography is installed for.
    return runCommand("/usr/bin/python3 '" QUORVANE_STORE_TEST_DIR "/aesgcm.py' " + mode + " " + hex(key) + " '"
        + in.string() + "' '" + out.string() + "'" + (expectFailure ? " 2>/dev/null" : ""));
}

TEST(FormatInterop, PythonDecryptsWhatTheStoreWrote)
{
    ScratchFolder scratch;
    Vault vault = sampleVault();
    SecureStore store(scratch / "Quorvane", fixedKey());
    store.save(vault);

    ASSERT_EQ(runPython("decrypt", fixedKey(), scratch / "Quorvane" / "vault.enc", scratch / "plain.json"), 0);
    std::string plaintext = readBytes(scratch / "plain.json");
    EXPECT_EQ(plaintext, encodeJSON(vault));
    EXPECT_EQ(decodeJSON<Vault>(plaintext), vault);
}

TEST(FormatInterop, StoreLoadsWhatPythonWrote)
{
    ScratchFolder scratch;
    Vault vault = sampleVault();
    writeBytes(scratch / "vault.json", encodeJSON(vault));
    std::filesystem::create_directories(scratch / "Quorvane");

    ASSERT_EQ(runPython("encrypt", fixedKey(), scratch / "vault.json", scratch / "Quorvane" / "vault.enc"), 0);
    SecureStore store(scratch / "Quorvane", fixedKey());
    EXPECT_EQ(store.load(), vault);
}

TEST(FormatInterop, PythonRejectsAFileUnderAnotherKey)
{
    ScratchFolder scratch;
    SecureStore store(scratch / "Quorvane", fixedKey());
    store.save(sampleVault());
    EXPECT_NE(runPython("decrypt", fixedKey(3), scratch / "Quorvane" / "vault.enc", scratch / "plain.json", true), 0);
}

}  // namespace
