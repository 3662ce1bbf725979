#include <windows.h>

#include "sys/clock.h"

uint32_t TickCountMs() {
    return GetTickCount();
}

void SleepMs(uint32_t ms) {
    Sleep(ms);
}
