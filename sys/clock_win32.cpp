#include <windows.h>

#include "sys/clock.h"

uint32_t TickCountMs() {
    return GetTickCount();
}

void SleepMs(uint32_t ms) {
    Sleep(ms);
}

int64_t UnixTimeSeconds() {
    // FILETIME counts 100 ns steps since 1601-01-01; 1970 is 11644473600 s later.
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const uint64_t ticks = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    return static_cast<int64_t>(ticks / 10000000ull) - 11644473600ll;
}
