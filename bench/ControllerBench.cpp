// What the controller does on every change and every turn, on a long history.
//   - a transaction that changes one message of 10,000 (copy, change, compare, save through a
//     store that only counts, publish): goal ≤ 3 ms;
//   - snapshot() and its comparison with the last published state when nothing changed (what
//     every turn's publication costs): goal ≤ 1 ms.
// Each is set beside its copy floor: the least any copy-on-change design must do for the same
// work (the vault copied with one message changed; the active account copied).

#include <memory>

#include <benchmark/benchmark.h>

#include "BenchData.hpp"
#include "BenchReport.hpp"
#include "quorvane/async/Scheduler.hpp"
#include "quorvane/controller/Controller.hpp"

namespace {

using namespace quorvane;

constexpr std::size_t kMessages = 10'000;

class CountingStore final : public VaultStorage {
public:
    explicit CountingStore(Vault vault)
        : vault_(std::move(vault))
    {
    }
    Vault load() override { return vault_; }
    void save(const Vault&) override { ++saves; }
    int saves = 0;

private:
    Vault vault_;
};

// A page that is never asked anything in these benchmarks.
class QuietPage final : public DotTransport {
public:
    bool loading() const override { return false; }
    const std::string& error() const override { return error_; }
    void setOnChange(std::function<void()>) override { }
    void open(std::string_view) override { }
    void show() override { }
    void showMessage(std::string, std::string) override { }
    void shutdown() override { }
    Task<DotSnapshot> inspect() override { co_return DotSnapshot {}; }
    Task<void> prepare(std::string, std::string) override { co_return; }
    Task<void> send(std::string, std::string) override { co_return; }
    Task<void> clearDraft(std::string, std::string) override { co_return; }
    bool windowVisible() const override { return false; }
    void hideWindow() override { }

private:
    std::string error_;
};

struct Platform final : TransportFactory, PowerActivity, Pasteboard, AvatarFetcher {
    std::unique_ptr<DotTransport> make(std::string_view) override { return std::make_unique<QuietPage>(); }
    std::unique_ptr<Hold> hold(std::string_view) override { return std::make_unique<Hold>(); }
    void putPlainText(std::string_view) override { }
    Task<AvatarResponse> fetch(std::string) override { co_return AvatarResponse {}; }
};

struct Setup {
    const Vault& vault()
    {
        static const Vault sample = bench::makeVault(kMessages);
        return sample;
    }

    Setup()
    {
        controller = std::make_unique<Controller>(ControllerServices {
            .transports = platform,
            .power = platform,
            .pasteboard = platform,
            .avatars = platform,
            .openStore = [this]() -> std::unique_ptr<VaultStorage> { return std::make_unique<CountingStore>(vault()); },
            .scheduler = scheduler,
            .now = [this] { return 800'000'000 + scheduler.now(); },
        });
        controller->onChange = [this](const ClientState&) { ++publications; };
        controller->publish(true);
    }

    Platform platform;
    ManualScheduler scheduler;
    std::unique_ptr<Controller> controller;
    int publications = 0;
};

Setup& setup()
{
    static Setup shared;
    return shared;
}

void TransactionChangingOneMessage(benchmark::State& state)
{
    Controller& controller = *setup().controller;
    const std::string last = controller.vault().account().messages.back().id.str();
    bool flip = false;
    for (auto _ : state) {
        flip = !flip;
        controller.transaction([&](Vault& vault) {
            vault.account().setStatus(last, flip ? MessageStatus::streaming : MessageStatus::sent);
        });
    }
    if (setup().publications < static_cast<int>(state.iterations()))
        state.SkipWithError("a transaction did not publish");
}
BENCHMARK(TransactionChangingOneMessage)->Unit(benchmark::kMillisecond);

// The floor: the vault copied and one message changed, which unshares the message list.
void CopyFloorOfTransaction(benchmark::State& state)
{
    const Vault& vault = setup().controller->vault();
    bool flip = false;
    for (auto _ : state) {
        flip = !flip;
        Vault copy = vault;
        copy.account().messages.mutableElements().back().status = flip ? MessageStatus::streaming : MessageStatus::sent;
        benchmark::DoNotOptimize(copy);
    }
}
BENCHMARK(CopyFloorOfTransaction)->Unit(benchmark::kMillisecond);

void SnapshotUnchanged(benchmark::State& state)
{
    Controller& controller = *setup().controller;
    controller.publish(true);
    for (auto _ : state) {
        ClientState snapshot = controller.snapshot();
        bool same = snapshot == *controller.lastState;
        benchmark::DoNotOptimize(same);
    }
}
BENCHMARK(SnapshotUnchanged)->Unit(benchmark::kMillisecond);

// The floor: the active account copied, which the state must hold.
void CopyFloorOfSnapshot(benchmark::State& state)
{
    const Vault& vault = setup().controller->vault();
    for (auto _ : state) {
        Account copy = vault.account();
        benchmark::DoNotOptimize(copy);
    }
}
BENCHMARK(CopyFloorOfSnapshot)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv)
{
    using quorvane::bench::Clock;
    return quorvane::bench::runBenchmarks(argc, argv,
        {
            { "controller transaction, one of 10,000 messages of ~7 KB changed", "TransactionChangingOneMessage",
                std::nullopt, 3.0, Clock::cpu },
            { "against its copy floor", "TransactionChangingOneMessage", "CopyFloorOfTransaction", std::nullopt,
                Clock::cpu, true },
            { "controller snapshot() + equality, unchanged (10,000 messages)", "SnapshotUnchanged", std::nullopt, 1.0,
                Clock::cpu },
            { "against its copy floor", "SnapshotUnchanged", "CopyFloorOfSnapshot", std::nullopt, Clock::cpu, true },
        });
}
