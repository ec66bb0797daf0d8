// What every vault transaction does: copy the whole vault, change the copy, compare it with the
// original. Records share their text, so a copy costs references, not characters.
// Goal: at most 2 ms for 10,000 messages of about 7 KB.

#include <benchmark/benchmark.h>

#include "BenchData.hpp"
#include "BenchReport.hpp"

namespace {

using quorvane::MessageStatus;
using quorvane::Vault;

const Vault& sampleVault()
{
    static const Vault vault = quorvane::bench::makeVault(10'000);
    return vault;
}

void VaultCopyAndCompareUnchanged(benchmark::State& state)
{
    const Vault& vault = sampleVault();
    for (auto _ : state) {
        Vault copy = vault;
        bool same = copy == vault;
        benchmark::DoNotOptimize(same);
    }
}
BENCHMARK(VaultCopyAndCompareUnchanged)->Unit(benchmark::kMillisecond);

void VaultCopyChangeAndCompare(benchmark::State& state)
{
    const Vault& vault = sampleVault();
    for (auto _ : state) {
        Vault copy = vault;
        // The last message changes, so the comparison walks the whole history.
        auto& messages = copy.account().messages;
        messages.mutableAt(messages.size() - 1).status = MessageStatus::streaming;
        bool same = copy == vault;
        benchmark::DoNotOptimize(same);
    }
}
BENCHMARK(VaultCopyChangeAndCompare)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv)
{
    // A transaction that changes nothing, and one whose change sits at the end of the history,
    // so the comparison walks all of it.
    return quorvane::bench::runBenchmarks(argc, argv,
        { { "vault copy + change + compare (10,000 messages of ~7 KB)", "VaultCopyChangeAndCompare", std::nullopt, 2.0,
              quorvane::bench::Clock::cpu },
            { "vault copy + compare, unchanged (10,000 messages of ~7 KB)", "VaultCopyAndCompareUnchanged",
                std::nullopt, 2.0, quorvane::bench::Clock::cpu, true } });
}
