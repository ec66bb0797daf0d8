#pragma once

// The vault on disk: one file, "vault.enc", in the folder <data home>/Quorvane, encrypted with
// AES-256-GCM under a 32-byte key that lives in the desktop keyring.
//
// File format (the AES-GCM "combined" form, no associated data):
//   bytes 0..11       nonce, fresh and random for every save
//   bytes 12..12+n    ciphertext of the vault's compact JSON (n = plaintext length)
//   last 16 bytes     authentication tag
//
// The file is the user's whole history, so the store never changes data it cannot read:
//   - a new key is made only when the keyring answered "no such item" AND no vault file exists;
//     a missing item beside an existing file, and a keyring that is locked, absent or odd,
//     are errors that leave both file and keyring as they were;
//   - a save writes a temporary file in the same folder, flushes it, renames it over the vault
//     and flushes the folder, so at every instant the folder holds the old or the new vault,
//     whole; a failed save leaves the previous file byte for byte and no temporary file;
//   - after a load that found a file it could not read, the store refuses to save over it.

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "quorvane/KeyStore.hpp"
#include "quorvane/VaultStorage.hpp"

namespace quorvane {

// A failure of the file system or of the file's contents. The message is a complete sentence
// (it reaches the user as the description of the failure); `code` carries the system error
// when there is one.
class StorageError : public std::runtime_error {
public:
    enum class Kind {
        fileSystem,  // creating the folder, reading or writing the file failed
        damaged,  // the file is too short to be an encrypted vault
        authentication,  // the tag did not verify: tampered, truncated or another key
        decoding,  // decrypted, but not the JSON of a vault
        refused,  // the file could not be read, so it is not overwritten
        notLoadable,  // the vault to save is one that load would refuse, so it is not written
    };
    StorageError(Kind kind, const std::string& message, std::error_code code = {})
        : std::runtime_error(message)
        , kind(kind)
        , code(code)
    {
    }
    Kind kind;
    std::error_code code;
};

template <>
struct EnumNames<StorageError::Kind> {
    static constexpr std::string_view what = "storage error";
    static constexpr std::array<std::string_view, 6> names
        = { "fileSystem", "damaged", "authentication", "decoding", "refused", "notLoadable" };
};

class SecureStore final : public VaultStorage {
public:
    static constexpr std::size_t keyLength = 32;
    static constexpr std::size_t nonceLength = 12;
    static constexpr std::size_t tagLength = 16;
    static constexpr const char* fileName = "vault.enc";

    // The folder (default: defaultDirectory()) is created with mode 0700 when missing. With a
    // test key (exactly 32 bytes, else "Invalid storage key.") the keyring is never touched;
    // without one the key comes from the desktop keyring, and is made there on first start.
    // Throws AppFailure with the keyring sentences, StorageError when the folder fails.
    explicit SecureStore(std::optional<std::filesystem::path> directory = std::nullopt,
        std::optional<std::vector<std::uint8_t>> testKey = std::nullopt);

    // The same, with the key taken from (or made in) the given keyring.
    SecureStore(std::optional<std::filesystem::path> directory, KeyStore& keyStore);

    ~SecureStore() override;
    SecureStore(const SecureStore&) = delete;
    SecureStore& operator=(const SecureStore&) = delete;

    // The saved vault; a fresh vault (not written) when there is no file yet. Throws
    // StorageError for a file that cannot be read, opened or decoded, and AppFailure "This saved
    // data needs a newer version of Quorvane." for a version other than 1 or an active account
    // that names no account. The file is never touched.
    Vault load() override;

    // Encrypts the vault with a fresh nonce and replaces the file atomically and durably, mode
    // 0600. A vault that load would refuse (another version, an active account that names none,
    // as in a plain Vault{}, or a number that is not finite) is never written, since the next
    // start could not open it: StorageError `notLoadable`, the file untouched. Throws AppFailure
    // "Your conversation couldn’t be encrypted." when sealing fails, StorageError when a step on
    // disk fails: the previous file stays as it was, except when only the last step, flushing
    // the folder, fails; the new file is then in place but may not survive a power cut, and the
    // caller saves again when it retries.
    void save(const Vault& vault) override;

    // $XDG_DATA_HOME/Quorvane, or ~/.local/share/Quorvane when that is unset or not absolute.
    static std::filesystem::path defaultDirectory();

    std::filesystem::path file() const { return directory / fileName; }

    const std::filesystem::path directory;

private:
    std::array<std::uint8_t, keyLength> key {};
    bool unreadableFile = false;  // the last load found a file it could not read
    std::size_t lastPlaintextSize = 0;  // lets the next save allocate its buffer once
};

}  // namespace quorvane
