// SHA-256 of whole files, as the manifest writes digests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>

// True with 64 lowercase hex digits in `out`; false with `out` empty when the file
// cannot be opened or read to its end.
bool Sha256FileHex(const std::string& path, std::string& out);
std::string HexLower(const uint8_t digest[32]);
// SHA-256 of a text in memory; false when the platform's hash fails.
bool Sha256Bytes(const std::string& data, uint8_t digest[32]);

// Reads `in` to its end in blocks of 256 KiB and hands each non-empty block to `update`.
// True only when the end of the stream was reached and `update` took every block: a
// read error in the middle of the file fails, it does not end the digest early.
using HashUpdate = std::function<bool(const uint8_t* data, size_t count)>;
bool HashStreamBlocks(std::istream& in, const HashUpdate& update);
