#include "quorvane/Date.hpp"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace quorvane {

Date systemNow()
{
    using namespace std::chrono;
    auto micros = duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
    return dateFromUnixSeconds(static_cast<double>(micros) / 1e6);
}

std::string iso8601(Date date)
{
    double unix = unixSecondsFromDate(date);
    double whole = std::floor(unix);
    auto millis = static_cast<int>(std::lround((unix - whole) * 1000.0));
    auto seconds = static_cast<std::time_t>(whole);
    if (millis == 1000) {
        millis = 0;
        ++seconds;
    }
    std::tm parts {};
    gmtime_r(&seconds, &parts);
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", parts.tm_year + 1900, parts.tm_mon + 1,
        parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec, millis);
    return buffer;
}

}  // namespace quorvane
