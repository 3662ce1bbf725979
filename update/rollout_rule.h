// Which installations a staged release is open to. Each installation has a bucket from 0 to
// 999 for each release, derived from its stored identifier and the release's version: the
// same on every start, and drawn afresh for the next release, so that the same installations
// are not always the first. A release at a share of N per mille is open to buckets below N,
// so raising the share only ever adds installations.
#pragma once

#include <cstdint>
#include <string>

// The first four bytes (big endian) of SHA-256("vorlane-rollout\n" + id + "\n" + version),
// modulo 1000. False when the platform's hash fails.
bool RolloutBucket(const std::string& installationId, const std::string& version, int32_t& bucket);

// Whether `bucket` is inside a share of `perMille` (0..1000).
inline bool IsInsideShare(int32_t bucket, int32_t perMille) {
    return bucket < perMille;
}
