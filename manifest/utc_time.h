// Points in time as the manifest writes them: "YYYY-MM-DDTHH:MM:SSZ" in UTC, and
// seconds since 1970 for comparing them.
#pragma once

#include <cstdint>
#include <string>

// Parses exactly "YYYY-MM-DDTHH:MM:SSZ" (years 1970 to 9999, a real calendar day).
bool ParseUtcTimestamp(const std::string& text, int64_t& seconds);
// The same form for a point at or after 1970; what ParseUtcTimestamp reads back.
std::string FormatUtcTimestamp(int64_t seconds);
// Days since 1970-01-01 of a day of the proleptic Gregorian calendar.
int64_t DaysFromCivil(int64_t year, int64_t month, int64_t day);
