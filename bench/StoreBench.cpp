// Load and save of a large vault (10,000 messages of about 7 KB: text, HTML and one reply part)
// through SecureStore, each beside the floor of the same work measured in the same run:
//   save floor: AES-256-GCM of the same plaintext, and writing those bytes to a file (fsync);
//   load floor: decrypting the same file's bytes, and a Boost.JSON parse of the plaintext.
// After the runs it prints each store figure as a ratio to its floor. Goals: save at most 3×
// its floor, load at most 2×.
//
// The files go to a fresh folder under $TMPDIR (default /tmp); set it to the disk under test.

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <boost/json/parse.hpp>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include "BenchData.hpp"
#include "BenchReport.hpp"
#include "quorvane/Json.hpp"
#include "quorvane/SecureStore.hpp"

using namespace quorvane;

namespace {

constexpr std::size_t kMessages = 10'000;

const Vault& largeVault()
{
    static const Vault vault = bench::makeVault(kMessages);
    return vault;
}

const std::vector<std::uint8_t>& benchKey()
{
    static const std::vector<std::uint8_t> key = [] {
        std::vector<std::uint8_t> k(32);
        RAND_bytes(k.data(), static_cast<int>(k.size()));
        return k;
    }();
    return key;
}

const std::filesystem::path& benchFolder()
{
    static const std::filesystem::path folder = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "quorvane-store-bench-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("cannot make the benchmark folder");
        return std::filesystem::path(pattern);
    }();
    return folder;
}

struct CipherContextFree {
    void operator()(EVP_CIPHER_CTX* context) const { EVP_CIPHER_CTX_free(context); }
};

// The floor's sealing: one EVP pass over the plaintext into a separate buffer.
std::string sealFloor(const std::string& plaintext)
{
    std::string box(12 + plaintext.size() + 16, '\0');
    auto* bytes = reinterpret_cast<unsigned char*>(box.data());
    std::unique_ptr<EVP_CIPHER_CTX, CipherContextFree> context(EVP_CIPHER_CTX_new());
    int length = 0;
    if (RAND_bytes(bytes, 12) != 1
        || EVP_EncryptInit_ex(context.get(), EVP_aes_256_gcm(), nullptr, benchKey().data(), bytes) != 1
        || EVP_EncryptUpdate(context.get(), bytes + 12, &length,
               reinterpret_cast<const unsigned char*>(plaintext.data()), static_cast<int>(plaintext.size()))
            != 1
        || EVP_EncryptFinal_ex(context.get(), bytes + 12 + length, &length) != 1
        || EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_GET_TAG, 16, bytes + 12 + plaintext.size()) != 1)
        throw std::runtime_error("sealing failed");
    return box;
}

std::string openFloor(const std::string& box)
{
    std::size_t length = box.size() - 28;
    std::string plaintext(length, '\0');
    const auto* bytes = reinterpret_cast<const unsigned char*>(box.data());
    std::unique_ptr<EVP_CIPHER_CTX, CipherContextFree> context(EVP_CIPHER_CTX_new());
    int written = 0;
    if (EVP_DecryptInit_ex(context.get(), EVP_aes_256_gcm(), nullptr, benchKey().data(), bytes) != 1
        || EVP_DecryptUpdate(context.get(), reinterpret_cast<unsigned char*>(plaintext.data()), &written, bytes + 12,
               static_cast<int>(length))
            != 1
        || EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_SET_TAG, 16, const_cast<unsigned char*>(bytes + 12 + length))
            != 1
        || EVP_DecryptFinal_ex(context.get(), reinterpret_cast<unsigned char*>(plaintext.data()) + written, &written)
            != 1)
        throw std::runtime_error("opening failed");
    return plaintext;
}

void writeFloor(const std::filesystem::path& file, const std::string& bytes)
{
    int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        throw std::runtime_error("cannot open the floor file");
    for (std::size_t done = 0; done < bytes.size();) {
        ssize_t wrote = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (wrote <= 0)
            throw std::runtime_error("cannot write the floor file");
        done += static_cast<std::size_t>(wrote);
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0)
        throw std::runtime_error("cannot flush the floor file");
}

void StoreSave(benchmark::State& state)
{
    const Vault& vault = largeVault();
    SecureStore store(benchFolder() / "store", benchKey());
    for (auto _ : state)
        store.save(vault);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * std::filesystem::file_size(store.file())));
}

void SaveFloor(benchmark::State& state)
{
    const std::string plaintext = encodeJSON(largeVault());
    std::filesystem::path file = benchFolder() / "floor.enc";
    for (auto _ : state) {
        std::string box = sealFloor(plaintext);
        writeFloor(file, box);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * (plaintext.size() + 28)));
    state.counters["plaintext_MB"] = static_cast<double>(plaintext.size()) / 1e6;
}

void StoreLoad(benchmark::State& state)
{
    SecureStore store(benchFolder() / "store", benchKey());
    store.save(largeVault());
    for (auto _ : state) {
        Vault vault = store.load();
        benchmark::DoNotOptimize(vault);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * std::filesystem::file_size(store.file())));
}

void LoadFloor(benchmark::State& state)
{
    const std::string box = sealFloor(encodeJSON(largeVault()));
    for (auto _ : state) {
        std::string plaintext = openFloor(box);
        boost::json::value value = boost::json::parse(plaintext);
        benchmark::DoNotOptimize(value);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * box.size()));
}

BENCHMARK(SaveFloor)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);
BENCHMARK(StoreSave)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);
BENCHMARK(LoadFloor)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);
BENCHMARK(StoreLoad)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);

}  // namespace

int main(int argc, char** argv)
{
    // Real time: both the store and its floor wait for the disk, which CPU time leaves out.
    int status = bench::runBenchmarks(argc, argv,
        { { "save (10,000 messages of ~7 KB: encode, encrypt, atomic write)", "StoreSave", "SaveFloor", 3.0,
              bench::Clock::real },
            { "load (10,000 messages of ~7 KB: read, decrypt, decode)", "StoreLoad", "LoadFloor", 2.0,
                bench::Clock::real } });
    std::filesystem::remove_all(benchFolder());
    return status;
}
