#pragma once

// Shared pieces of the vault store tests: scratch folders, file bytes, a sample vault, a fixed
// key, an independent AES-GCM sealer and a stand-in keyring.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "quorvane/KeyStore.hpp"
#include "quorvane/Vault.hpp"

namespace quorvane::test {

// A fresh folder under the system's temporary folder, removed with everything in it.
class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::filesystem::path& path() const { return root; }
    std::filesystem::path operator/(const std::string& name) const { return root / name; }

private:
    std::filesystem::path root;
};

std::string readBytes(const std::filesystem::path& file);
void writeBytes(const std::filesystem::path& file, const std::string& bytes);

// Names in the folder that are not vault.enc (leftover temporary files, for instance).
std::vector<std::string> strayFiles(const std::filesystem::path& folder);

std::vector<std::uint8_t> fixedKey(std::uint8_t seed = 7);

// A vault with two accounts, non-ASCII text, HTML, reply parts, attachments, drafts and
// optional fields, about `messages` messages long.
Vault sampleVault(std::size_t messages = 6);

// AES-256-GCM combined form (nonce, ciphertext, tag) of any plaintext, made directly with
// OpenSSL, so tests can write files the store did not write.
std::string sealWithOpenSSL(const std::vector<std::uint8_t>& key, const std::string& plaintext);

// Runs a shell command and returns its exit status (-1 if it did not exit normally).
int runCommand(const std::string& command);

// A keyring that answers as it is told and records what it was asked.
class FakeKeyStore final : public KeyStore {
public:
    KeyLookup answer;
    bool acceptsAdd = true;
    int finds = 0;
    int adds = 0;
    std::vector<std::uint8_t> added;

    KeyLookup find(const std::string& service, const std::string& account) override;
    bool add(const std::string& service, const std::string& account, std::span<const std::uint8_t> secret) override;
};

}  // namespace quorvane::test
