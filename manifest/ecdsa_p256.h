// The raw primitive under the manifest signature: SHA-256 of a message, then ECDSA
// P-256 verification of a 64-byte r-then-s signature with the key (X, Y). The Windows
// build implements it over CNG, the host build over OpenSSL, with the same decisions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// False unless x and y are 32 bytes, sig is 64 bytes and the signature verifies.
bool VerifyEcdsaP256Sha256(const uint8_t* message, size_t length, const std::vector<uint8_t>& sig,
                           const std::vector<uint8_t>& x, const std::vector<uint8_t>& y);
