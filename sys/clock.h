// The millisecond tick counter and the sleep of the worker's waits.
#pragma once

#include <cstdint>

// Milliseconds since the system started; wraps after about 49.7 days.
uint32_t TickCountMs();
void SleepMs(uint32_t ms);
