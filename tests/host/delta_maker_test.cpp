// Deltas made as "zstd --patch-from" makes them rebuild the new file from the exact base only.
#include <gtest/gtest.h>

#include <random>

#include "tools/delta_maker.h"

namespace {

std::string RandomBytes(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (char& c : s) {
        c = static_cast<char>(rng() & 0xFF);
    }
    return s;
}

}  // namespace

TEST(DeltaMaker, RoundTripsScatteredEditsOnlyOnTheExactBase) {
    // 6 MiB of incompressible bytes with 1 % of them changed at scattered places, and some
    // bytes inserted near the start (everything after shifts).
    const std::string base = RandomBytes(6 << 20, 1);
    std::string next = base;
    std::mt19937 rng(2);
    for (size_t i = 0; i < next.size() / 100; ++i) {
        next[rng() % next.size()] ^= 0x5A;
    }
    next.insert(1000, "inserted bytes");
    std::string delta;
    std::string error;
    ASSERT_TRUE(MakeDelta(base, next, 3, delta, error)) << error;
    EXPECT_LT(delta.size(), next.size() / 20) << "a delta of scattered edits should be small";
    std::string rebuilt;
    ASSERT_TRUE(ApplyDelta(base, delta, next.size(), rebuilt, error)) << error;
    EXPECT_TRUE(rebuilt == next);

    // Another base, a damaged frame or a size stop below the file does not rebuild it.
    std::string edited = base;
    edited[base.size() / 2] ^= 1;
    std::string wrong;
    EXPECT_FALSE(ApplyDelta(edited, delta, next.size(), wrong, error) && wrong == next);
    std::string damaged = delta;
    damaged[damaged.size() / 2] ^= 0x40;
    EXPECT_FALSE(ApplyDelta(base, damaged, next.size(), wrong, error) && wrong == next);
    EXPECT_FALSE(ApplyDelta(base, delta, next.size() - 1, wrong, error)) << "the size stop";

    // The window reaches from the larger file's end back to the base's start, within the cap.
    EXPECT_GE(uint64_t{1} << DeltaWindowLog(base.size(), next.size()), base.size() + next.size());
    EXPECT_EQ(DeltaWindowLog(1, 1), 10);
    EXPECT_EQ(DeltaWindowLog(64ull << 20, 1), kDeltaWindowLogMost);
    EXPECT_TRUE(DeltaSizesAllowed(64ull << 20, 1, kDeltaDefaultMaxSize));
    EXPECT_FALSE(DeltaSizesAllowed(1, (64ull << 20) + 1, kDeltaDefaultMaxSize));
    EXPECT_FALSE(DeltaWorthKeeping(50, 100, 0.5));
    EXPECT_TRUE(DeltaWorthKeeping(49, 100, 0.5));
}
