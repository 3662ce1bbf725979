// The system-preferred generator of CNG: the same source as RtlGenRandom, no provider to open.
#include <windows.h>

#include <bcrypt.h>

#include "sys/system_random.h"

#ifndef BCRYPT_USE_SYSTEM_PREFERRED_RNG
#define BCRYPT_USE_SYSTEM_PREFERRED_RNG 0x00000002
#endif

bool DrawSystemRandom(uint8_t* out, size_t count) {
    return BCryptGenRandom(nullptr, out, static_cast<ULONG>(count), BCRYPT_USE_SYSTEM_PREFERRED_RNG) == 0;
}
