// The host build's random source, for the tests: OpenSSL's generator, seeded by the system.
#include <openssl/rand.h>

#include "sys/system_random.h"

bool DrawSystemRandom(uint8_t* out, size_t count) {
    return RAND_bytes(out, static_cast<int>(count)) == 1;
}
