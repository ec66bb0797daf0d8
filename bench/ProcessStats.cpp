#include "ProcessStats.hpp"

#include <dirent.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <sstream>

namespace quorvane::bench {

namespace {

// The process's name and the fields after it in /proc/<pid>/stat (field 3 onwards).
bool readStat(const std::string& pid, std::string& name, std::istringstream& rest)
{
    std::ifstream stat("/proc/" + pid + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    auto open = text.find('('), close = text.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close + 2 > text.size())
        return false;
    name = text.substr(open + 1, close - open - 1);
    rest.str(text.substr(close + 2));
    return true;
}

}  // namespace

double cpuSeconds(const std::string& pid)
{
    std::string name;
    std::istringstream rest;
    if (!readStat(pid, name, rest))
        return 0;
    std::string skipped;
    for (int field = 3; field < 14; ++field)
        rest >> skipped;
    unsigned long long user = 0, system = 0;
    rest >> user >> system;
    return double(user + system) / double(sysconf(_SC_CLK_TCK));
}

std::size_t residentBytes(const std::string& pid)
{
    std::ifstream status("/proc/" + pid + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::size_t(std::strtoull(line.c_str() + 6, nullptr, 10)) * 1024;
    }
    return 0;
}

std::vector<std::string> childProcesses(std::string_view prefix)
{
    std::vector<std::string> children;
    const std::string self = std::to_string(getpid());
    DIR* proc = opendir("/proc");
    while (dirent* entry = proc ? readdir(proc) : nullptr) {
        std::string pid = entry->d_name;
        if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::string name, state, parent;
        std::istringstream rest;
        if (!readStat(pid, name, rest))
            continue;
        rest >> state >> parent;
        if (parent == self && name.rfind(prefix, 0) == 0)
            children.push_back(pid);
    }
    if (proc)
        closedir(proc);
    return children;
}

}  // namespace quorvane::bench
