#include "StoreTestSupport.hpp"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <sys/wait.h>

#include <openssl/evp.h>
#include <openssl/rand.h>

#include "quorvane/TextRules.hpp"

namespace quorvane::test {

ScratchFolder::ScratchFolder()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "quorvane-store-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("cannot make a scratch folder");
    root = pattern;
}

ScratchFolder::~ScratchFolder()
{
    std::error_code ignored;
    // Tests may leave folders without write permission behind.
    std::filesystem::permissions(root, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ignored);
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root, ignored))
        if (entry.is_directory(ignored))
            std::filesystem::permissions(
                entry.path(), std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(root, ignored);
}

std::string readBytes(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + file.string());
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeBytes(const std::filesystem::path& file, const std::string& bytes)
{
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + file.string());
}

std::vector<std::string> strayFiles(const std::filesystem::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        if (entry.path().filename() != "vault.enc")
            names.push_back(entry.path().filename().string());
    return names;
}

std::vector<std::uint8_t> fixedKey(std::uint8_t seed)
{
    std::vector<std::uint8_t> key(32);
    for (std::size_t i = 0; i < key.size(); ++i)
        key[i] = static_cast<std::uint8_t>(seed * 31 + i * 7);
    return key;
}

Vault sampleVault(std::size_t messages)
{
    Vault vault = Vault::fresh();
    vault.theme = Theme::dark;
    vault.appIconStyle = AppIconStyle::dot;
    Account& account = vault.accounts.front();
    account.label = "Ünïcödé — “quoted” 👩‍💻";
    account.dotURL = "https://dot.example/dots/home";
    account.connectedOnce = true;
    account.drafts["dot"] = "half-written \"draft\"\n\twith control \x01 characters";
    account.unreadBots = std::vector<Text> { "dot" };
    for (std::size_t i = 0; i < messages; ++i) {
        ChatMessage message;
        message.id = newUUID();
        message.botID = "dot";
        message.role = i % 2 == 0 ? MessageRole::user : MessageRole::assistant;
        message.text = "Message " + std::to_string(i) + " — 東京 ✓ \\ / \"";
        message.date = 786'000'000.125 + static_cast<double>(i);
        message.status = MessageStatus::sent;
        if (i % 2 == 1) {
            message.html = Text("<p>Reply <b>" + std::to_string(i) + "</b></p>");
            ReplyPart part;
            part.id = "part-" + std::to_string(i);
            part.text = "Part text";
            part.date = 786'000'001.5;
            part.attachments
                = std::vector<MessageAttachment> { { "a1", "file", "notes.pdf", Text("https://dot.example/a1") } };
            message.parts = std::vector<ReplyPart> { part };
        }
        account.messages.push_back(message);
    }
    vault.accounts.push_back(Account::fresh());
    vault.accounts.back().label = "Second";
    vault.activeAccount = vault.accounts.back().id;
    return vault;
}

std::string sealWithOpenSSL(const std::vector<std::uint8_t>& key, const std::string& plaintext)
{
    std::string box(12 + plaintext.size() + 16, '\0');
    auto* bytes = reinterpret_cast<unsigned char*>(box.data());
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> context(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    int length = 0;
    if (RAND_bytes(bytes, 12) != 1
        || EVP_EncryptInit_ex(context.get(), EVP_aes_256_gcm(), nullptr, key.data(), bytes) != 1
        || EVP_EncryptUpdate(context.get(), bytes + 12, &length,
               reinterpret_cast<const unsigned char*>(plaintext.data()), static_cast<int>(plaintext.size()))
            != 1
        || EVP_EncryptFinal_ex(context.get(), bytes + 12 + length, &length) != 1
        || EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_GET_TAG, 16, bytes + 12 + plaintext.size()) != 1)
        throw std::runtime_error("OpenSSL could not seal the test data");
    return box;
}

int runCommand(const std::string& command)
{
    int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

KeyLookup FakeKeyStore::find(const std::string& service, const std::string& account)
{
    ++finds;
    if (service != kVaultKeyService || account != kVaultKeyAccount)
        throw std::logic_error("looked up another item: " + service + " / " + account);
    return answer;
}

bool FakeKeyStore::add(const std::string& service, const std::string& account, std::span<const std::uint8_t> secret)
{
    ++adds;
    if (service != kVaultKeyService || account != kVaultKeyAccount)
        throw std::logic_error("added another item: " + service + " / " + account);
    added.assign(secret.begin(), secret.end());
    if (acceptsAdd) {
        answer.status = KeyLookup::Status::found;
        answer.data = added;
    }
    return acceptsAdd;
}

}  // namespace quorvane::test
