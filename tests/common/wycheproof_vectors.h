// The Wycheproof ECDSA P-256/SHA-256 vectors in P1363 form, as plain lines.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct WycheproofVector {
    int id = 0;
    std::string result;  // "valid", "invalid" or "acceptable"
    std::vector<uint8_t> x, y, message, signature;
};

// False when the file cannot be read or a line is malformed.
bool LoadWycheproofVectors(const std::string& path, std::vector<WycheproofVector>& out);

// Runs every vector through the raw primitive; returns the ids that disagree with
// the vector's verdict ("acceptable" may go either way and is never listed).
std::vector<int> WycheproofDisagreements(const std::vector<WycheproofVector>& vectors);
