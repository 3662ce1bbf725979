// The system's cryptographic random source.
#pragma once

#include <cstddef>
#include <cstdint>

// Fills `out` with `count` random bytes; false when the source fails.
bool DrawSystemRandom(uint8_t* out, size_t count);
