// What the run loop does with every page change of a long conversation (Account::applyPageChange):
// reconcile the watched requests with the page and collect replies that belong to no request.
// Goal: at most 10 ms for 2,000 page messages, 1,000 reply watches and 10,000 local messages.

#include <benchmark/benchmark.h>

#include "BenchData.hpp"
#include "BenchReport.hpp"
#include "quorvane/ReplyCorrelation.hpp"

namespace {

using namespace quorvane;

constexpr std::size_t kRequests = 1'000;  // each has a turn and a reply on the page: 2,000 messages
constexpr std::size_t kLocalMessages = 10'000;

const bench::WatchedConversation& scenario()
{
    static const bench::WatchedConversation built = bench::makeWatchedConversation(kRequests, kLocalMessages);
    return built;
}

// One page change, as often as the benchmark asks, on an account that has settled.
template <class Change>
void onEveryPageChange(benchmark::State& state, Change change)
{
    const bench::WatchedConversation& s = scenario();
    Account account = s.account;
    for (auto _ : state) {
        change(account, s.page);
        benchmark::DoNotOptimize(account);
    }
}

void ReconcileAndCollect(benchmark::State& state)
{
    onEveryPageChange(
        state, [](Account& account, const std::vector<DotMessage>& page) { account.applyPageChange(page, 6000); });
}
BENCHMARK(ReconcileAndCollect)->Unit(benchmark::kMillisecond);

// The two halves on their own, to see where the time goes.
void ReconcileOnly(benchmark::State& state)
{
    onEveryPageChange(
        state, [](Account& account, const std::vector<DotMessage>& page) { account.reconcileReplies(page, 6000); });
}
BENCHMARK(ReconcileOnly)->Unit(benchmark::kMillisecond);

void CollectOnly(benchmark::State& state)
{
    onEveryPageChange(state,
        [](Account& account, const std::vector<DotMessage>& page) { account.collectUnassignedReplies(page, 6000); });
}
BENCHMARK(CollectOnly)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv)
{
    using quorvane::bench::Clock;
    return quorvane::bench::runBenchmarks(argc, argv,
        { { "applyPageChange: reconcileReplies + collectUnassignedReplies (2,000 page messages, 1,000 watches, 10,000 "
            "messages)",
              "ReconcileAndCollect", std::nullopt, 10.0, Clock::cpu },
            { "reconcileReplies alone", "ReconcileOnly", std::nullopt, std::nullopt, Clock::cpu, true },
            { "collectUnassignedReplies alone", "CollectOnly", std::nullopt, std::nullopt, Clock::cpu, true } });
}
