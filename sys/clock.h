// The millisecond tick counter and the sleep of the worker's waits.
#pragma once

#include <cstdint>

// Milliseconds since the system started; wraps after about 49.7 days.
uint32_t TickCountMs();
void SleepMs(uint32_t ms);
// The system clock: seconds since 1970-01-01 00:00 UTC.
int64_t UnixTimeSeconds();
