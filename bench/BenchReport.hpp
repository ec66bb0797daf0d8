#pragma once

// One summary line per goal after a benchmark run, so every benchmark reads the same way:
//   <row>: <median> vs floor <median floor> = <ratio>× (goal ≤ N×) met|MISSED
//   <row>: <median> (goal ≤ X ms) met|MISSED
//   <row>: <median of a counter><unit> (goal ≤ X<unit>) met|MISSED   (a figure the benchmark
//                                                  measured itself, such as a thread's CPU time)
// A floor is the least the same work can cost on this machine (for example a Boost.JSON parse
// of the same bytes), measured in the same run, so a ratio compares across machines while a
// bare time does not. With --benchmark_repetitions the figures are medians, which a busy
// machine disturbs far less than means.

#include <optional>
#include <string>
#include <vector>

namespace quorvane::bench {

enum class Clock {
    cpu,  // steadier on a shared machine; for work that never waits
    real,  // for work that waits on the disk (fsync), where CPU time would leave the wait out
};

struct Row {
    std::string name;  // what the line is called
    std::string benchmark;  // the measured benchmark, as "Name" or "Name/arg"
    std::optional<std::string> floor;  // the floor benchmark, when the goal is a ratio
    std::optional<double> goal;  // a ratio to the floor, or milliseconds without a floor
    Clock clock = Clock::cpu;
    bool detail = false;  // a line under the one before it, indented; scripts/bench shows headlines only
    // When set, the figure is this user counter of the benchmark (its median over the runs),
    // in `unit`, instead of a time; the goal is then in that unit too.
    std::string counter = {};
    std::string unit = " ms";
};

// Runs the benchmarks selected on the command line with the usual console table, then prints
// one line per row whose benchmarks ran. Returns the exit status for main.
int runBenchmarks(int argc, char** argv, const std::vector<Row>& rows);

}  // namespace quorvane::bench
