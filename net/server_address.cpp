// Rebuilds the servers' host names and the manifest path from their scrambled tables,
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

size_t ServerHostCount() {
    return server_address::kHostCount;
}

std::u16string BuildServerHost(size_t index) {
    using namespace server_address;
    // The table holds exactly the configured list: the host names in order, joined by ",".
    std::u16string hosts(std::size(kHostTable), u'\0');
    Unscramble(kHostTable, std::size(kHostTable), kHostMul, kHostAdd, hosts.data());
    size_t start = 0;
    for (size_t i = 0; i < index && start != std::u16string::npos; ++i) {
        start = hosts.find(u',', start);
        start = start == std::u16string::npos ? start : start + 1;
    }
    if (start == std::u16string::npos) {
        return std::u16string();
    }
    return hosts.substr(start, hosts.find(u',', start) - start);
}

std::string ServerHostText(size_t index) {
    std::string name;
    for (const char16_t unit : BuildServerHost(index)) {
        name.push_back(static_cast<char>(unit));
    }
    return name;
}

std::u16string BuildManifestPath() {
    using namespace server_address;
    // Fifteen units in a zeroed buffer of sixteen; the path ends at the first zero unit.
    char16_t units[16] = {};
    Unscramble(kPathTable, 15, kPathMul, kPathAdd, units);
    return std::u16string(units);
}
