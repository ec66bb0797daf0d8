// Opening the vault's storage on a worker thread: the result reaches the main thread, and an
// opening dropped early waits for its thread and delivers nothing.

#include <atomic>
#include <chrono>
#include <optional>
#include <thread>

#include <glib.h>
#include <gtest/gtest.h>

#include "quorvane/shell/StorageOpening.hpp"

namespace quorvane {
namespace {

// A store in memory that notes the thread it was used on.
class ThreadNotingStore final : public VaultStorage {
public:
    ThreadNotingStore(Vault saved, std::thread::id* usedOn)
        : saved_(std::move(saved))
        , usedOn_(usedOn)
    {
    }
    Vault load() override
    {
        *usedOn_ = std::this_thread::get_id();
        return saved_;
    }
    void save(const Vault& vault) override { saved_ = vault; }

private:
    Vault saved_;
    std::thread::id* usedOn_;
};

void spinFor(std::chrono::milliseconds time)
{
    auto end = std::chrono::steady_clock::now() + time;
    while (std::chrono::steady_clock::now() < end) {
        if (!g_main_context_iteration(nullptr, FALSE))
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

// Runs the main loop until the opening has handed over its result (at most 10 s).
void runUntilDelivered(const std::optional<OpenedStorage>& delivered)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!delivered && std::chrono::steady_clock::now() < deadline) {
        if (!g_main_context_iteration(nullptr, FALSE))
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

TEST(StorageOpening, OpensOnAnotherThreadAndDeliversOnTheMainThread)
{
    Vault saved = Vault::fresh();
    saved.account().label = "Kept";
    std::thread::id loadedOn;
    std::optional<OpenedStorage> delivered;
    std::thread::id deliveredOn;
    StorageOpening opening([&] { return std::make_unique<ThreadNotingStore>(saved, &loadedOn); },
        [&](OpenedStorage storage) {
            deliveredOn = std::this_thread::get_id();
            delivered = std::move(storage);
        });
    runUntilDelivered(delivered);

    ASSERT_TRUE(delivered);
    EXPECT_TRUE(delivered->healthy);
    ASSERT_NE(delivered->store, nullptr);
    EXPECT_EQ(delivered->vault.account().label, "Kept");
    EXPECT_NE(loadedOn, std::this_thread::get_id());
    EXPECT_EQ(deliveredOn, std::this_thread::get_id());
}

TEST(StorageOpening, AFailedOpeningIsDeliveredAsUnhealthy)
{
    std::optional<OpenedStorage> delivered;
    StorageOpening opening(
        []() -> std::unique_ptr<VaultStorage> { throw std::runtime_error("The keyring is locked."); },
        [&](OpenedStorage storage) { delivered = std::move(storage); });
    runUntilDelivered(delivered);

    ASSERT_TRUE(delivered);
    EXPECT_FALSE(delivered->healthy);
    EXPECT_EQ(delivered->store, nullptr);
}

TEST(StorageOpening, DroppedEarlyItWaitsForItsThreadAndDeliversNothing)
{
    std::atomic<bool> finished = false;
    bool delivered = false;
    std::thread::id loadedOn;
    {
        StorageOpening opening(
            [&] {
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
                finished = true;
                return std::make_unique<ThreadNotingStore>(Vault::fresh(), &loadedOn);
            },
            [&](OpenedStorage) { delivered = true; });
    }
    EXPECT_TRUE(finished) << "the opening was dropped while its thread still ran";
    spinFor(std::chrono::milliseconds(100));
    EXPECT_FALSE(delivered);
}

}  // namespace
}  // namespace quorvane
