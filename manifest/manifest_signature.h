// Where the signature stands in a received manifest, and its verification.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct SplitManifest {
    std::string signedText;     // up to and including the LF before "sig="
    std::string signatureText;  // after "sig=", trailing CR and LF removed
};

// False when the body holds no LF followed by "sig=" (the body carries no signature).
bool SplitManifestSignature(const std::string& body, SplitManifest& out);

// Two hex digits per byte, each pair converted with strtol in base 16 and required
// to be consumed whole. False for an odd length or a pair strtol does not take.
bool HexToBytes(const std::string& text, std::vector<uint8_t>& out);

// True only for a valid ECDSA P-256 signature by the built-in publisher key over
// SHA-256 of `signedText`. Any failure, whatever its cause, is false.
bool VerifyManifestSignature(const std::string& signedText, const std::string& signatureText);

// The same decision with a key given as hex coordinates.
bool VerifyManifestSignatureWithKey(const std::string& signedText, const std::string& signatureText,
                                    const char* publicX, const char* publicY);
