#include "manifest/utc_time.h"

#include <cstdio>

namespace {

const int64_t kSecondsPerDay = 86400;

bool IsLeapYear(int64_t y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int64_t DaysInMonth(int64_t y, int64_t m) {
    static const int64_t kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeapYear(y) ? 29 : kDays[m - 1];
}

// The digits at [at, at + count) as a number; false when any byte is not a digit.
bool Digits(const std::string& text, size_t at, size_t count, int64_t& value) {
    value = 0;
    for (size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return false;
        }
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

}  // namespace

// Howard Hinnant's days_from_civil: the year is counted from March, so that the leap
// day falls at the end of it.
int64_t DaysFromCivil(int64_t year, int64_t month, int64_t day) {
    year -= month <= 2 ? 1 : 0;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t yoe = year - era * 400;
    const int64_t doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

bool ParseUtcTimestamp(const std::string& text, int64_t& seconds) {
    int64_t y, mo, d, h, mi, s;
    if (text.size() != 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
        text[16] != ':' || text[19] != 'Z' || !Digits(text, 0, 4, y) || !Digits(text, 5, 2, mo) ||
        !Digits(text, 8, 2, d) || !Digits(text, 11, 2, h) || !Digits(text, 14, 2, mi) ||
        !Digits(text, 17, 2, s)) {
        return false;
    }
    if (y < 1970 || mo < 1 || mo > 12 || d < 1 || d > DaysInMonth(y, mo) || h > 23 || mi > 59 || s > 59) {
        return false;
    }
    seconds = DaysFromCivil(y, mo, d) * kSecondsPerDay + h * 3600 + mi * 60 + s;
    return true;
}

std::string FormatUtcTimestamp(int64_t seconds) {
    const int64_t days = seconds / kSecondsPerDay;
    const int64_t rest = seconds % kSecondsPerDay;
    // civil_from_days, the inverse of DaysFromCivil.
    const int64_t z = days + 719468;
    const int64_t era = z / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const int64_t d = doy - (153 * mp + 2) / 5 + 1;
    const int64_t m = mp < 10 ? mp + 3 : mp - 9;
    const int64_t y = yoe + era * 400 + (m <= 2 ? 1 : 0);
    char text[96];
    std::snprintf(text, sizeof(text), "%04lld-%02lld-%02lldT%02lld:%02lld:%02lldZ", static_cast<long long>(y),
                  static_cast<long long>(m), static_cast<long long>(d), static_cast<long long>(rest / 3600),
                  static_cast<long long>(rest / 60 % 60), static_cast<long long>(rest % 60));
    return text;
}
