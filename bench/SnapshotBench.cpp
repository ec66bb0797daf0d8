// Reading one page snapshot, as the run loop does twice a second: the JSON the page adapter
// returns for 2,000 page messages, decoded into a DotSnapshot, then reduced to one message per
// page id. The floor is a plain Boost.JSON parse of the same bytes, the least any decode of
// them can cost. Goal: at most 3× the floor.

#include <benchmark/benchmark.h>
#include <boost/json/parse.hpp>

#include "BenchData.hpp"
#include "BenchReport.hpp"
#include "quorvane/Json.hpp"
#include "quorvane/PageRecords.hpp"
#include "quorvane/ReplyCorrelation.hpp"

namespace {

using namespace quorvane;

constexpr std::size_t kPageMessages = 2'000;

const std::string& pageJSON()
{
    static const std::string json = bench::snapshotJSON(kPageMessages);
    return json;
}

void SnapshotFloor(benchmark::State& state)
{
    const std::string& json = pageJSON();
    for (auto _ : state) {
        boost::json::value value = boost::json::parse(json);
        benchmark::DoNotOptimize(value);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * json.size()));
}
BENCHMARK(SnapshotFloor)->Unit(benchmark::kMillisecond);

void SnapshotDecode(benchmark::State& state)
{
    const std::string& json = pageJSON();
    std::size_t unique = 0;
    for (auto _ : state) {
        DotSnapshot snapshot = decodeJSON<DotSnapshot>(json);
        std::vector<DotMessage> messages = uniqueDotMessages(snapshot.messages);
        unique = messages.size();
        benchmark::DoNotOptimize(messages);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * json.size()));
    state.counters["unique"] = static_cast<double>(unique);
}
BENCHMARK(SnapshotDecode)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv)
{
    return bench::runBenchmarks(argc, argv,
        { { "snapshot JSON \u2192 DotSnapshot + uniqueDotMessages (2,000 page messages)", "SnapshotDecode",
            "SnapshotFloor", 3.0, bench::Clock::cpu } });
}
