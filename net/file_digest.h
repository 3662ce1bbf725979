// SHA-256 of whole files, as the manifest writes digests.
#pragma once

#include <cstdint>
#include <string>

// True with 64 lowercase hex digits in `out`; false with `out` empty when the file
// cannot be opened or read to its end.
bool Sha256FileHex(const std::string& path, std::string& out);
std::string HexLower(const uint8_t digest[32]);
