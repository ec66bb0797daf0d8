#include "quorvane/controller/PageJSON.hpp"

#include <cmath>
#include <cstdint>

#include <sys/mman.h>

namespace quorvane::page_json_detail {

namespace {

// 0001-01-01T00:00:00Z and 9999-12-31T23:59:59Z in Unix seconds: the years that print as four
// digits. Dates outside them (none that the application makes) go through iso8601() itself.
constexpr std::int64_t kFirstSecond = -62'135'596'800;
constexpr std::int64_t kLastSecond = 253'402'300'799;

struct CivilDate {
    std::int64_t year;
    unsigned month;  // 1…12
    unsigned day;  // 1…31
};

// The proleptic Gregorian date of a day counted from 1970-01-01 (H. Hinnant's civil_from_days):
// the calendar in 400-year eras that start on 1 March, so the leap day ends a year.
CivilDate civilFromDays(std::int64_t days)
{
    days += 719'468;
    const std::int64_t era = (days >= 0 ? days : days - 146'096) / 146'097;
    const auto dayOfEra = static_cast<unsigned>(days - era * 146'097);  // [0, 146096]
    const unsigned yearOfEra = (dayOfEra - dayOfEra / 1'460 + dayOfEra / 36'524 - dayOfEra / 146'096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);  // [0, 365]
    const unsigned shiftedMonth = (5 * dayOfYear + 2) / 153;  // 0 is March
    const unsigned day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
    const unsigned month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
    return { static_cast<std::int64_t>(yearOfEra) + era * 400 + (month <= 2 ? 1 : 0), month, day };
}

void putDigits(char* at, unsigned value, int count)
{
    for (int i = count - 1; i >= 0; --i) {
        at[i] = static_cast<char>('0' + value % 10);
        value /= 10;
    }
}

// Below this, the pages of a buffer cost too little to be worth a system call.
constexpr std::size_t kLargeRoom = 8 << 20;
constexpr std::uintptr_t kLargePage = 2 << 20;

}  // namespace

void reserveRoom(std::string& out, std::size_t room)
{
    out.reserve(out.size() + room);
    if (room < kLargeRoom)
        return;
    // Only advice, for the whole large pages inside the buffer; where the system has no large
    // pages (or says no), the buffer is used as it is.
    const auto start = reinterpret_cast<std::uintptr_t>(out.data() + out.size());
    const auto end = reinterpret_cast<std::uintptr_t>(out.data() + out.capacity());
    const std::uintptr_t first = (start + kLargePage - 1) & ~(kLargePage - 1);
    const std::uintptr_t last = end & ~(kLargePage - 1);
    if (last > first)
        ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
}

void appendDate(std::string& out, Date date)
{
    // The same arithmetic as iso8601(), step for step, so both round to the same millisecond.
    auto asTheLibraryWritesIt = [&] {
        out.push_back('"');
        out.append(iso8601(date));
        out.push_back('"');
    };
    const double unix = unixSecondsFromDate(date);
    if (!(std::fabs(unix) < 1e12))  // also not a number, or infinite
        return asTheLibraryWritesIt();
    const double whole = std::floor(unix);
    auto millis = static_cast<unsigned>(std::lround((unix - whole) * 1000.0));
    auto seconds = static_cast<std::int64_t>(whole);
    if (millis == 1000) {
        millis = 0;
        ++seconds;
    }
    if (seconds < kFirstSecond || seconds > kLastSecond)
        return asTheLibraryWritesIt();
    // Floor division: a second before 1970 belongs to the day that began before it.
    std::int64_t days = seconds / 86'400;
    std::int64_t secondOfDay = seconds % 86'400;
    if (secondOfDay < 0) {
        secondOfDay += 86'400;
        --days;
    }
    const CivilDate civil = civilFromDays(days);
    const auto daySeconds = static_cast<unsigned>(secondOfDay);

    char text[kDateLength] = { '"', 'Y', 'Y', 'Y', 'Y', '-', 'M', 'M', '-', 'D', 'D', 'T', 'h', 'h', ':', 'm', 'm', ':',
        's', 's', '.', 'f', 'f', 'f', 'Z', '"' };
    putDigits(text + 1, static_cast<unsigned>(civil.year), 4);
    putDigits(text + 6, civil.month, 2);
    putDigits(text + 9, civil.day, 2);
    putDigits(text + 12, daySeconds / 3600, 2);
    putDigits(text + 15, daySeconds / 60 % 60, 2);
    putDigits(text + 18, daySeconds % 60, 2);
    putDigits(text + 21, millis, 3);
    out.append(text, kDateLength);
}

}  // namespace quorvane::page_json_detail
