// What every vault transaction does: copy the whole vault, change the copy, compare it with the
// original. Records share their text, so a copy costs references, not characters.
// Goal: at most 2 ms for 10,000 messages of about 7 KB.

#include <benchmark/benchmark.h>

#include "BenchData.hpp"

namespace {

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
BENCHMARK(VaultCopyAndCompareUnchanged)->Unit(benchmark::kMillisecond)->Name("vault copy + compare, unchanged (10,000 messages)");

void VaultCopyChangeAndCompare(benchmark::State& state)
{
    const Vault& vault = sampleVault();
    for (auto _ : state) {
        Vault copy = vault;
        // The last message changes, so the comparison walks the whole history.
        copy.account().messages.back().status = "streaming";
        bool same = copy == vault;
        benchmark::DoNotOptimize(same);
    }
}
BENCHMARK(VaultCopyChangeAndCompare)->Unit(benchmark::kMillisecond)->Name("vault copy + change + compare (10,000 messages)");

} // namespace

BENCHMARK_MAIN();
