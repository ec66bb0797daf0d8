#pragma once

// What /proc says about a process, for the benchmarks that measure the application together
// with the WebKit processes it starts. A process that has gone reads as zero.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace quorvane::bench {

// CPU seconds (user and system) the process has used; "self" for this one.
double cpuSeconds(const std::string& pid);

// Its resident set size in bytes (VmRSS).
std::size_t residentBytes(const std::string& pid);

// The pids of this process's children whose name starts with `prefix` ("WebKit" for all of
// WebKit's, "WebKitWebProces" for the web content processes: names are cut at 15 characters).
std::vector<std::string> childProcesses(std::string_view prefix);

}  // namespace quorvane::bench
