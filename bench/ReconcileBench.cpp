// What the run loop does with every page change of a long conversation: reconcile the watched
// requests with the page and collect replies that belong to no request.
// Goal: at most 10 ms for 2,000 page messages, 1,000 reply watches and 10,000 local messages.

#include <benchmark/benchmark.h>

#include "BenchData.hpp"
#include "BenchReport.hpp"
#include "quorvane/ReplyCorrelation.hpp"

namespace {

using namespace quorvane;

constexpr std::size_t kRequests = 1'000;  // each has a turn and a reply on the page: 2,000 messages
constexpr std::size_t kLocalMessages = 10'000;

std::string token(std::size_t n)
{
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%012zx", 0xa00000000000 + n * 7919);
    return buffer;
}

struct Scenario {
    Account account;
    std::vector<DotMessage> page;
};

// A conversation in which every request was answered and is still watched. Each request's
// baseline holds the page ids shown when it was sent, as separate strings, as after a load.
const Scenario& scenario()
{
    static const Scenario built = [] {
        Scenario s;
        s.account = bench::makeVault(kLocalMessages - 2 * kRequests).account();
        static const char* const bots[] = { "dot", "B1", "B2" };
        s.account.replyWatches.emplace();
        for (std::size_t n = 0; n < kRequests; ++n) {
            const std::string id = "REQ-" + std::to_string(n);
            const std::string tag = "[qv:" + token(n) + "]";
            PendingRequest job;
            job.id = id;
            job.botID = bots[n % 3];
            job.replyToken = token(n);
            job.payload = "[Quorvane request " + id + "]\n[Conversation: Dot]\n[Reply tag: " + tag + "]\n"
                + "Answer directly; do not hand off this turn.\n[User message]\n" + bench::prose(300, n);
            std::vector<Text> baseline;
            baseline.reserve(s.page.size());
            for (const auto& shown : s.page)
                baseline.emplace_back(shown.id.view());  // a separate copy of each id
            job.baseline = CowVector<Text>(std::move(baseline));
            job.phase = JobPhase::waiting;
            job.submitted = 1000.0 + static_cast<double>(n);

            DotMessage turn { "turn-" + std::to_string(n), "user", job.payload, std::nullopt, std::nullopt };
            std::string answer = bench::prose(600, n + 1);
            DotMessage reply { "reply-" + std::to_string(n), "assistant", tag + "\n" + answer,
                "<p>" + tag + "</p><p>" + answer + "</p>", std::nullopt };
            s.page.push_back(turn);
            s.page.push_back(reply);
            job.userMessageID = turn.id;

            ChatMessage user { id, job.botID, MessageRole::user, bench::prose(300, n), job.submitted.value(),
                MessageStatus::sent };
            s.account.messages.push_back(user);
            s.account.replyWatches->push_back(ReplyWatch { job, { reply.id }, false });
        }
        // File every reply once, as the run loop did when each was accepted.
        s.account.reconcileReplies(s.page, 5000);
        s.account.collectUnassignedReplies(s.page, 5000);
        return s;
    }();
    return built;
}

// One page change, as often as the benchmark asks, on an account that has settled.
template <class Change>
void onEveryPageChange(benchmark::State& state, Change change)
{
    const Scenario& s = scenario();
    Account account = s.account;
    for (auto _ : state) {
        change(account, s.page);
        benchmark::DoNotOptimize(account);
    }
}

void ReconcileAndCollect(benchmark::State& state)
{
    onEveryPageChange(state, [](Account& account, const std::vector<DotMessage>& page) {
        account.reconcileReplies(page, 6000);
        account.collectUnassignedReplies(page, 6000);
    });
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
        { { "reconcileReplies + collectUnassignedReplies (2,000 page messages, 1,000 watches, 10,000 messages)",
              "ReconcileAndCollect", std::nullopt, 10.0, Clock::cpu },
            { "reconcileReplies alone", "ReconcileOnly", std::nullopt, std::nullopt, Clock::cpu, true },
            { "collectUnassignedReplies alone", "CollectOnly", std::nullopt, std::nullopt, Clock::cpu, true } });
}
