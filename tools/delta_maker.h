// Binary deltas between two versions of a release file: a zstd frame of the new bytes
// compressed with the old bytes as a raw-content prefix, what "zstd --patch-from=OLD NEW"
// makes and "zstd -d --patch-from=OLD" applies.
#pragma once

#include <cstdint>
#include <string>

// Files larger than this (base or new) get no delta by default: the decoder holds the
// base and a window as large as the larger file.
inline constexpr uint64_t kDeltaDefaultMaxSize = 64ull << 20;
// The largest window a delta uses (128 MiB), the decoder's default limit.
inline constexpr int kDeltaWindowLogMost = 27;
inline constexpr int kDeltaDefaultLevel = 19;
inline constexpr double kDeltaDefaultMaxRatio = 0.5;

// The window log that lets the new file's end reach back to the base's start: twice the
// larger of the two sizes, rounded up to a power of two, at least zstd's minimum and at
// most kDeltaWindowLogMost.
int DeltaWindowLog(uint64_t baseSize, uint64_t newSize);

// Whether a file of these sizes may get a delta at all (both at most `maxSize`, and the
// window they need within kDeltaWindowLogMost).
bool DeltaSizesAllowed(uint64_t baseSize, uint64_t newSize, uint64_t maxSize);

// Whether a delta of `deltaSize` is worth serving for a file of `fileSize`: strictly
// below `maxRatio` of it.
bool DeltaWorthKeeping(uint64_t deltaSize, uint64_t fileSize, double maxRatio);

// The delta that turns `base` into `target`. False with zstd's reason in `error`.
bool MakeDelta(const std::string& base,
               const std::string& target,
               int level,
               std::string& delta,
               std::string& error);

// Applies `delta` to `base`: the rebuilt bytes, at most `maxSize` of them. False when the
// frame is damaged, was made against another base's window, or decodes to more.
bool ApplyDelta(const std::string& base,
                const std::string& delta,
                uint64_t maxSize,
                std::string& out,
                std::string& error);
