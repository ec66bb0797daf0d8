#include "BenchReport.hpp"

#include <algorithm>
#include <cstdio>
#include <map>
#include <optional>

#include <benchmark/benchmark.h>

namespace quorvane::bench {

namespace {

struct Times {
    double real = 0;  // milliseconds per iteration
    double cpu = 0;
    double of(Clock clock) const { return clock == Clock::real ? real : cpu; }
};

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// "12.3 ms", "0.412 ms": three significant figures or so, in milliseconds so that every line
// compares at a glance; microseconds only below 0.01 ms.
std::string milliseconds(double value)
{
    char buffer[32];
    if (value < 0.01) {
        std::snprintf(buffer, sizeof buffer, "%.3g \u00b5s", value * 1e3);
        return buffer;
    }
    std::snprintf(buffer, sizeof buffer,
        value >= 100      ? "%.0f ms"
            : value >= 10 ? "%.1f ms"
            : value >= 1  ? "%.2f ms"
                          : "%.3f ms",
        value);
    return buffer;
}

std::string fixed(double value)
{
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.2f", value);
    return buffer;
}

std::string number(double value)
{
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%g", value);
    return buffer;
}

class ReportWithGoals : public benchmark::ConsoleReporter {
public:
    explicit ReportWithGoals(const std::vector<Row>& rows)
        : rows(rows)
    {
    }

    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred)
                continue;
            std::string key = run.run_name.function_name;
            if (!run.run_name.args.empty())
                key += "/" + run.run_name.args;
            const double toMilliseconds = 1e3 / benchmark::GetTimeUnitMultiplier(run.time_unit);
            Times times { run.GetAdjustedRealTime() * toMilliseconds, run.GetAdjustedCPUTime() * toMilliseconds };
            if (run.run_type == Run::RT_Aggregate)
                anyRepeated = true;
            if (run.run_type == Run::RT_Iteration) {
                repetitions[key].push_back(times);
                for (const auto& [name, counter] : run.counters)
                    counters[key][name].push_back(counter.value);
            } else if (run.aggregate_name == "median") {
                medians[key] = times;
                for (const auto& [name, counter] : run.counters)
                    counterMedians[key][name] = counter.value;
            }
        }
    }

    void Finalize() override
    {
        ConsoleReporter::Finalize();
        bool heading = false;
        for (const Row& row : rows) {
            if (!row.counter.empty()) {
                if (auto value = counterFigure(row)) {
                    heading = printHeading(heading);
                    printCounter(row, *value);
                }
                continue;
            }
            const Times* measured = figure(row.benchmark);
            const Times* floor = row.floor ? figure(*row.floor) : nullptr;
            if (!measured || (row.floor && !floor))
                continue;
            heading = printHeading(heading);
            const double value = measured->of(row.clock);
            std::string line = (row.detail ? "  " : "") + row.name + ": " + milliseconds(value);
            std::string cpuNote;  // beside a real time: how much of it was waiting or noise
            bool met;
            if (floor) {
                const double ratio = value / floor->of(row.clock);
                line += " vs floor " + milliseconds(floor->of(row.clock)) + " = " + fixed(ratio) + "\u00d7";
                line += row.goal ? " (goal \u2264 " + number(*row.goal) + "\u00d7)" : " (no goal)";
                met = !row.goal || ratio <= *row.goal;
                cpuNote = "; CPU time " + fixed(measured->cpu / floor->cpu) + "\u00d7";
            } else {
                line += row.goal ? " (goal \u2264 " + number(*row.goal) + " ms)" : " (no goal)";
                met = !row.goal || value <= *row.goal;
                cpuNote = "; CPU time " + milliseconds(measured->cpu);
            }
            if (row.goal)
                line += met ? " met" : " MISSED";
            line += row.clock == Clock::real ? " [real time" + cpuNote + "]" : " [CPU time]";
            std::printf("%s\n", line.c_str());
        }
        std::fflush(stdout);
    }

private:
    bool printHeading(bool printed)
    {
        if (!printed) {
            std::printf("\nSummary (%s):\n",
                anyRepeated ? "medians of the repetitions" : "single runs; use --benchmark_repetitions=5 for medians");
        }
        return true;
    }

    // The median of a counter over the runs, when the benchmark ran.
    std::optional<double> counterFigure(const Row& row) const
    {
        if (auto aggregate = counterMedians.find(row.benchmark);
            aggregate != counterMedians.end() && aggregate->second.count(row.counter))
            return aggregate->second.at(row.counter);
        if (auto runs = counters.find(row.benchmark); runs != counters.end() && runs->second.count(row.counter))
            return median(runs->second.at(row.counter));
        return std::nullopt;
    }

    void printCounter(const Row& row, double value)
    {
        std::string line = (row.detail ? "  " : "") + row.name + ": " + quantity(value, row.unit);
        line += row.goal ? " (goal \u2264 " + quantity(*row.goal, row.unit) + ")" : " (no goal)";
        if (row.goal)
            line += value <= *row.goal ? " met" : " MISSED";
        std::printf("%s\n", line.c_str());
    }

    static std::string quantity(double value, const std::string& unit)
    {
        return unit == " ms" ? milliseconds(value) : fixed(value) + unit;
    }

    // The median of the repetitions: Google Benchmark's own aggregate when it made one, else
    // the median of the runs seen (one run without repetitions).
    const Times* figure(const std::string& key)
    {
        if (auto aggregate = medians.find(key); aggregate != medians.end())
            return &aggregate->second;
        auto runs = repetitions.find(key);
        if (runs == repetitions.end() || runs->second.empty())
            return nullptr;
        std::vector<double> real, cpu;
        for (const Times& times : runs->second) {
            real.push_back(times.real);
            cpu.push_back(times.cpu);
        }
        return &(medians[key] = Times { median(real), median(cpu) });
    }

    const std::vector<Row>& rows;
    std::map<std::string, std::vector<Times>> repetitions;
    std::map<std::string, Times> medians;
    std::map<std::string, std::map<std::string, std::vector<double>>> counters;  // per benchmark, per name
    std::map<std::string, std::map<std::string, double>> counterMedians;  // Google Benchmark's own aggregates
    bool anyRepeated = false;
};

}  // namespace

int runBenchmarks(int argc, char** argv, const std::vector<Row>& rows)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    ReportWithGoals reporter(rows);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}

}  // namespace quorvane::bench
