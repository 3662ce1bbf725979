// Rebuilds the server's host name and the manifest path from their scrambled tables,
// so that neither stands in the program as plain text.
#include "net/server_address.h"

#include <cstddef>
#include <iterator>

#include "net/server_address_tables.h"

namespace {

// Bits 11 to 18 of i * mul + add, computed modulo 2^32: the key byte of unit i.
uint16_t KeyByte(uint32_t i, uint32_t mul, uint32_t add) {
    return static_cast<uint16_t>(((i * mul + add) >> 11) & 0xFFu);
}

void Unscramble(const uint16_t* table, size_t count, uint32_t mul, uint32_t add, char16_t* out) {
    for (size_t i = 0; i < count; ++i) {
        out[i] = static_cast<char16_t>(table[i] ^ KeyByte(static_cast<uint32_t>(i), mul, add));
    }
}

}  // namespace

std::u16string BuildServerHost() {
    using namespace server_address;
    // The table holds exactly as many units as the configured host name has.
    std::u16string host(std::size(kHostTable), u'\0');
    Unscramble(kHostTable, std::size(kHostTable), kHostMul, kHostAdd, host.data());
    return host;
}

std::u16string BuildManifestPath() {
    using namespace server_address;
    // Fifteen units in a zeroed buffer of sixteen; the path ends at the first zero unit.
    char16_t units[16] = {};
    Unscramble(kPathTable, 15, kPathMul, kPathAdd, units);
    return std::u16string(units);
}
