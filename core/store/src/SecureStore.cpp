#include "quorvane/SecureStore.hpp"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string_view>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include "quorvane/AppFailure.hpp"
#include "quorvane/Json.hpp"
#include "quorvane/UserFolders.hpp"

namespace quorvane {

namespace {

constexpr const char* kKeyMissing = "The saved encryption key is missing. Your local data has been left untouched.";
constexpr const char* kKeyNotStored = "Couldn’t save your encryption key. Unlock your keyring and reopen Quorvane.";
constexpr const char* kKeyringUnavailable = "Your keyring is unavailable. Unlock your session and reopen Quorvane.";
constexpr const char* kInvalidTestKey = "Invalid storage key.";
constexpr const char* kNewerVersion = "This saved data needs a newer version of Quorvane.";
constexpr const char* kNotEncrypted = "Your conversation couldn’t be encrypted.";
constexpr const char* kNotLoadable = "This data wasn’t saved, because it couldn’t be opened again.";

// Temporary files of interrupted saves start with this; nothing else in the folder does.
constexpr std::string_view kTemporaryPrefix = ".vault.enc-";

// EVP calls take int lengths; a vault can in principle be larger than that.
constexpr std::size_t kCipherChunk = std::size_t(1) << 30;

std::error_code lastError() { return std::error_code(errno, std::generic_category()); }

[[noreturn]] void failSaving(const char* step, std::error_code code)
{
    throw StorageError(StorageError::Kind::fileSystem,
        std::string("Saving failed while ") + step + " (" + code.message() + ").", code);
}

[[noreturn]] void failReading(std::error_code code)
{
    throw StorageError(
        StorageError::Kind::fileSystem, "The saved data could not be read (" + code.message() + ").", code);
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1)
        : fd(fd)
    {
    }
    ~FileDescriptor() { reset(); }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd; }
    explicit operator bool() const { return fd >= 0; }
    void reset()
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
    // Closes and reports the result, which for a written file can carry a late write error.
    int close()
    {
        int result = ::close(fd);
        fd = -1;
        return result;
    }

private:
    int fd;
};

struct CipherContextFree {
    void operator()(EVP_CIPHER_CTX* context) const { EVP_CIPHER_CTX_free(context); }
};
using CipherContext = std::unique_ptr<EVP_CIPHER_CTX, CipherContextFree>;

// Creates every missing folder of the path with mode 0700; folders that exist are left as they are.
void makeFolders(const std::filesystem::path& directory)
{
    std::filesystem::path partial;
    for (const auto& component : directory) {
        partial /= component;
        if (component.empty() || component == partial.root_path())
            continue;
        if (::mkdir(partial.c_str(), 0700) == 0) {
            // The umask may have taken bits away; the folder must be exactly owner-only.
            ::chmod(partial.c_str(), 0700);
            continue;
        }
        std::error_code code = lastError();
        struct stat info { };
        if (code == std::errc::file_exists && ::stat(partial.c_str(), &info) == 0) {
            if (S_ISDIR(info.st_mode))
                continue;
            code = std::make_error_code(std::errc::not_a_directory);
        }
        throw StorageError(StorageError::Kind::fileSystem,
            "The storage folder " + directory.string() + " could not be created (" + code.message() + ").", code);
    }
}

// A save killed half-way leaves its temporary file behind; it was never the saved vault.
void removeInterruptedSaves(const std::filesystem::path& directory)
{
    DIR* folder = ::opendir(directory.c_str());
    if (!folder)
        return;
    while (const dirent* entry = ::readdir(folder)) {
        if (std::string_view(entry->d_name).starts_with(kTemporaryPrefix))
            ::unlinkat(::dirfd(folder), entry->d_name, 0);
    }
    ::closedir(folder);
}

std::filesystem::path prepareDirectory(const std::optional<std::filesystem::path>& directory)
{
    std::filesystem::path folder = directory ? *directory : SecureStore::defaultDirectory();
    makeFolders(folder);
    removeInterruptedSaves(folder);
    return folder;
}

// Only a definite "no such file" counts as absent: a file we cannot even look at may hold data.
bool fileMayExist(const std::filesystem::path& file)
{
    struct stat info { };
    return !(::lstat(file.c_str(), &info) != 0 && errno == ENOENT);
}

void keyFromKeyring(
    KeyStore& keyStore, const std::filesystem::path& file, std::array<std::uint8_t, SecureStore::keyLength>& key)
{
    KeyLookup lookup = keyStore.find(kVaultKeyService, kVaultKeyAccount);
    switch (lookup.status) {
    case KeyLookup::Status::found: {
        bool usable = lookup.data.size() == key.size();
        if (usable)
            std::copy(lookup.data.begin(), lookup.data.end(), key.begin());
        if (!lookup.data.empty())
            OPENSSL_cleanse(lookup.data.data(), lookup.data.size());
        if (!usable)
            throw AppFailure(kKeyringUnavailable);
        return;
    }
    case KeyLookup::Status::notFound:
        // Existing data is never given a new key: it could never be read again.
        if (fileMayExist(file))
            throw AppFailure(kKeyMissing);
        if (RAND_bytes(key.data(), static_cast<int>(key.size())) != 1
            || !keyStore.add(kVaultKeyService, kVaultKeyAccount, key)) {
            OPENSSL_cleanse(key.data(), key.size());
            throw AppFailure(kKeyNotStored);
        }
        return;
    case KeyLookup::Status::unavailable:
        break;
    }
    throw AppFailure(kKeyringUnavailable);
}

// Encrypts box[nonceLength, size - tagLength) in place and fills in the nonce and the tag.
bool sealBox(const std::array<std::uint8_t, SecureStore::keyLength>& key, std::string& box)
{
    auto* bytes = reinterpret_cast<unsigned char*>(box.data());
    unsigned char* nonce = bytes;
    unsigned char* text = bytes + SecureStore::nonceLength;
    std::size_t length = box.size() - SecureStore::nonceLength - SecureStore::tagLength;
    unsigned char* tag = text + length;

    CipherContext context(EVP_CIPHER_CTX_new());
    if (!context || RAND_bytes(nonce, SecureStore::nonceLength) != 1)
        return false;
    if (EVP_EncryptInit_ex(context.get(), EVP_aes_256_gcm(), nullptr, nullptr, nullptr) != 1
        || EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_SET_IVLEN, SecureStore::nonceLength, nullptr) != 1
        || EVP_EncryptInit_ex(context.get(), nullptr, nullptr, key.data(), nonce) != 1)
        return false;
    for (std::size_t done = 0; done < length;) {
        std::size_t chunk = std::min(length - done, kCipherChunk);
        int written = 0;
        if (EVP_EncryptUpdate(context.get(), text + done, &written, text + done, static_cast<int>(chunk)) != 1
            || static_cast<std::size_t>(written) != chunk)
            return false;
        done += chunk;
    }
    int finalLength = 0;
    return EVP_EncryptFinal_ex(context.get(), text + length, &finalLength) == 1 && finalLength == 0
        && EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_GET_TAG, SecureStore::tagLength, tag) == 1;
}

// Decrypts the combined form in place; the plaintext is box[nonceLength, size - tagLength).
void openBox(const std::array<std::uint8_t, SecureStore::keyLength>& key, std::string& box)
{
    if (box.size() < SecureStore::nonceLength + SecureStore::tagLength)
        throw StorageError(
            StorageError::Kind::damaged, "The saved data is damaged (the file is too short to hold a vault).");
    auto* bytes = reinterpret_cast<unsigned char*>(box.data());
    const unsigned char* nonce = bytes;
    unsigned char* text = bytes + SecureStore::nonceLength;
    std::size_t length = box.size() - SecureStore::nonceLength - SecureStore::tagLength;
    unsigned char* tag = text + length;

    auto fail = [](const char* why) {
        throw StorageError(
            StorageError::Kind::authentication, std::string("The saved data could not be decrypted (") + why + ").");
    };
    CipherContext context(EVP_CIPHER_CTX_new());
    if (!context || EVP_DecryptInit_ex(context.get(), EVP_aes_256_gcm(), nullptr, nullptr, nullptr) != 1
        || EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_SET_IVLEN, SecureStore::nonceLength, nullptr) != 1
        || EVP_DecryptInit_ex(context.get(), nullptr, nullptr, key.data(), nonce) != 1)
        fail("the cipher could not be set up");
    for (std::size_t done = 0; done < length;) {
        std::size_t chunk = std::min(length - done, kCipherChunk);
        int written = 0;
        if (EVP_DecryptUpdate(context.get(), text + done, &written, text + done, static_cast<int>(chunk)) != 1
            || static_cast<std::size_t>(written) != chunk)
            fail("the cipher failed");
        done += chunk;
    }
    int finalLength = 0;
    if (EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_SET_TAG, SecureStore::tagLength, tag) != 1
        || EVP_DecryptFinal_ex(context.get(), text + length, &finalLength) != 1)
        fail("authentication failed");
}

std::string readWhole(int fd)
{
    struct stat info { };
    if (::fstat(fd, &info) != 0)
        failReading(lastError());
    std::string data(static_cast<std::size_t>(info.st_size), '\0');
    std::size_t done = 0;
    while (done < data.size()) {
        ssize_t got = ::read(fd, data.data() + done, std::min<std::size_t>(data.size() - done, SSIZE_MAX));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            failReading(lastError());
        if (got == 0)
            break;
        done += static_cast<std::size_t>(got);
    }
    data.resize(done);
    return data;
}

// Writes `data` as directory/name so that the folder holds either the previous file or the new
// one, whole, at every instant (also across a crash or a power cut once this returns).
void replaceDurably(const std::filesystem::path& directory, const char* name, const std::string& data)
{
    FileDescriptor folder(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder)
        failSaving("opening the storage folder", lastError());

    std::string temporaryPath = (directory / (std::string(kTemporaryPrefix) + "XXXXXX")).string();
    FileDescriptor file(::mkostemp(temporaryPath.data(), O_CLOEXEC));
    if (!file)
        failSaving("creating a temporary file", lastError());

    // Until the rename, any failure removes the temporary file; the saved file is untouched.
    struct TemporaryFile {
        const std::string& path;
        bool armed = true;
        ~TemporaryFile()
        {
            if (armed)
                ::unlink(path.c_str());
        }
    } temporary { temporaryPath };

    // Owner-only before the first byte, and carried over to vault.enc by the rename.
    if (::fchmod(file.get(), 0600) != 0)
        failSaving("setting the file permissions", lastError());
    for (std::size_t done = 0; done < data.size();) {
        ssize_t wrote = ::write(file.get(), data.data() + done, std::min<std::size_t>(data.size() - done, SSIZE_MAX));
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote < 0)
            failSaving("writing the file", lastError());
        if (wrote == 0)
            failSaving("writing the file", std::make_error_code(std::errc::io_error));
        done += static_cast<std::size_t>(wrote);
    }
    if (::fsync(file.get()) != 0)
        failSaving("flushing the file to disk", lastError());
    if (file.close() != 0)
        failSaving("closing the file", lastError());
    if (::renameat(folder.get(), temporaryPath.c_str(), folder.get(), name) != 0)
        failSaving("replacing the saved file", lastError());
    temporary.armed = false;
    // The rename itself is durable only once the folder is flushed.
    if (::fsync(folder.get()) != 0)
        failSaving("flushing the storage folder to disk", lastError());
}

// Whether this version can open the vault: format version 1 and an active account that
// exists. load refuses anything else, so save refuses it too.
bool usable(const Vault& vault)
{
    return vault.version == 1 && std::any_of(vault.accounts.begin(), vault.accounts.end(), [&](const Account& account) {
        return account.id == vault.activeAccount;
    });
}

}  // namespace

SecureStore::SecureStore(
    std::optional<std::filesystem::path> directory, std::optional<std::vector<std::uint8_t>> testKey)
    : directory(prepareDirectory(directory))
{
    if (testKey) {
        if (testKey->size() != key.size())
            throw AppFailure(kInvalidTestKey);
        std::copy(testKey->begin(), testKey->end(), key.begin());
        OPENSSL_cleanse(testKey->data(), testKey->size());
        return;
    }
    auto keyStore = makeSecretKeyStore();
    keyFromKeyring(*keyStore, file(), key);
}

SecureStore::SecureStore(std::optional<std::filesystem::path> directory, KeyStore& keyStore)
    : directory(prepareDirectory(directory))
{
    keyFromKeyring(keyStore, file(), key);
}

SecureStore::~SecureStore() { OPENSSL_cleanse(key.data(), key.size()); }

std::filesystem::path SecureStore::defaultDirectory()
{
    auto dataHome = userDataHome();
    if (!dataHome)
        throw StorageError(
            StorageError::Kind::fileSystem, "The storage folder could not be found (there is no home folder).");
    return *dataHome / "Quorvane";
}

Vault SecureStore::load()
{
    FileDescriptor fd(::open(file().c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd && errno == ENOENT) {
        unreadableFile = false;
        return Vault::fresh();
    }
    try {
        if (!fd)
            failReading(lastError());
        std::string box = readWhole(fd.get());
        fd.reset();
        openBox(key, box);
        std::string_view plaintext(box.data() + nonceLength, box.size() - nonceLength - tagLength);
        Vault vault;
        try {
            vault = decodeJSON<Vault>(plaintext);
        } catch (const JsonDecodeError& error) {
            throw StorageError(StorageError::Kind::decoding,
                std::string("The saved data could not be decoded (") + error.what() + ").");
        }
        if (!usable(vault))
            throw AppFailure(kNewerVersion);
        unreadableFile = false;
        return vault;
    } catch (...) {
        unreadableFile = true;
        throw;
    }
}

void SecureStore::save(const Vault& vault)
{
    if (unreadableFile)
        throw StorageError(
            StorageError::Kind::refused, "The saved data could not be read, so it will not be overwritten.");
    // Writing what load refuses would lock the user out of all their history at the next start.
    if (!usable(vault))
        throw StorageError(StorageError::Kind::notLoadable, kNotLoadable);

    // Nonce, plaintext and tag in one buffer: the plaintext is encrypted in place. Sized from
    // the last save, a large vault is encoded without reallocating and copying as it grows.
    std::string box;
    box.reserve(nonceLength + lastPlaintextSize + lastPlaintextSize / 16 + tagLength);
    box.append(nonceLength, '\0');
    try {
        appendJSON(box, vault);
    } catch (const std::invalid_argument&) {
        // A number that is not finite (a date, say) has no JSON form; the file stays as it was.
        throw StorageError(StorageError::Kind::notLoadable, kNotLoadable);
    }
    lastPlaintextSize = box.size() - nonceLength;
    box.append(tagLength, '\0');
    if (!sealBox(key, box))
        throw AppFailure(kNotEncrypted);
    replaceDurably(directory, fileName, box);
}

}  // namespace quorvane
