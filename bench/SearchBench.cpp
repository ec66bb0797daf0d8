// Searching the history: 10,000 messages of about 7 KB, a query of two words, until the first
// 50 results. Goal: at most 20 ms.
//
// A search keeps the search form of each text it has looked at, so the first search after a
// start costs more than the ones after it; both are measured. A query that matches almost
// nothing walks the whole history, and its lines show that worst case (no goal).

#include <benchmark/benchmark.h>

#include "BenchData.hpp"
#include "BenchReport.hpp"
#include "quorvane/controller/MessageSearch.hpp"

namespace {

using quorvane::Account;
using quorvane::MessageSearch;

const Account& sampleAccount()
{
    static const quorvane::Vault vault = quorvane::bench::makeVault(10'000);
    return vault.account();
}

constexpr const char* kCommonQuery = "Crew NOTES";  // words the history holds throughout
constexpr const char* kRareQuery = "naive tokyo-harbour";  // the second word is nowhere

void search(benchmark::State& state, const char* query, bool kept)
{
    const Account& account = sampleAccount();
    MessageSearch searcher;
    if (kept)
        benchmark::DoNotOptimize(searcher.find(account, query, std::nullopt));
    for (auto _ : state) {
        if (!kept) {
            state.PauseTiming();
            searcher = MessageSearch();
            state.ResumeTiming();
        }
        auto results = searcher.find(account, query, std::nullopt);
        benchmark::DoNotOptimize(results);
    }
}

void SearchTwoWords(benchmark::State& state) { search(state, kCommonQuery, true); }
void SearchTwoWordsFirstTime(benchmark::State& state) { search(state, kCommonQuery, false); }
void SearchNoMatch(benchmark::State& state) { search(state, kRareQuery, true); }
void SearchNoMatchFirstTime(benchmark::State& state) { search(state, kRareQuery, false); }
BENCHMARK(SearchTwoWords)->Unit(benchmark::kMillisecond);
BENCHMARK(SearchTwoWordsFirstTime)->Unit(benchmark::kMillisecond);
BENCHMARK(SearchNoMatch)->Unit(benchmark::kMillisecond);
BENCHMARK(SearchNoMatchFirstTime)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace

int main(int argc, char** argv)
{
    using quorvane::bench::Clock;
    return quorvane::bench::runBenchmarks(argc, argv,
        { { "search, two words, first 50 results (10,000 messages of ~7 KB)", "SearchTwoWords", std::nullopt, 20.0,
              Clock::cpu },
            { "the same, the first search after a start", "SearchTwoWordsFirstTime", std::nullopt, 20.0, Clock::cpu,
                true },
            { "a query that matches nothing: the whole history", "SearchNoMatch", std::nullopt, std::nullopt,
                Clock::cpu, true },
            { "the same, the first search after a start", "SearchNoMatchFirstTime", std::nullopt, std::nullopt,
                Clock::cpu, true } });
}
