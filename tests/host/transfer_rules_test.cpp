// The rules a transfer is judged by while it runs: the pace floor, and when kept bytes may
// be continued.
#include <gtest/gtest.h>

#include "net/resume_rules.h"
#include "net/transfer_pace.h"

namespace {

// Feeds `bytesPerArrival` every `gapMs` from tick `start` until the watch gives up or
// `limitMs` pass; returns the ms after which it gave up, or -1.
int64_t GivesUpAfter(uint32_t start, uint32_t gapMs, uint64_t bytesPerArrival, uint32_t limitMs) {
    const TransferPaceLimits limits;
    PaceWatch watch = StartPaceWatch(start);
    uint64_t total = 0;
    for (uint32_t elapsed = gapMs; elapsed <= limitMs; elapsed += gapMs) {
        total += bytesPerArrival;
        if (!KeepsPace(watch, start + elapsed, total, limits)) {
            return elapsed;
        }
    }
    return -1;
}

}  // namespace

TEST(TransferPace, ASlowLinkKeepsGoingAndATrickleEndsWithinTwoMinutes) {
    // 1 KB/s, one 1 KiB read a second, for an hour; also across the tick count's wrap.
    EXPECT_EQ(GivesUpAfter(0, 1000, 1024, 3600000), -1);
    EXPECT_EQ(GivesUpAfter(0xFFFF0000u, 1000, 1024, 3600000), -1);
    // Bursts with long quiet gaps (a mobile link between cells) keep going too.
    EXPECT_EQ(GivesUpAfter(0, 45000, 32768, 3600000), -1);
    // A byte every 40 s (each read within the 60 s receive time-out) or every second.
    EXPECT_EQ(GivesUpAfter(0, 40000, 1, 3600000), 80000);
    EXPECT_EQ(GivesUpAfter(0xFFFFFF00u, 1000, 1, 3600000), 60000);
    // A byte every 59 s, the slowest a read lets through: still within two minutes.
    EXPECT_LE(GivesUpAfter(0, 59000, 1, 3600000), 120000);
    // A good start does not buy a later trickle more than one window.
    const TransferPaceLimits limits;
    PaceWatch watch = StartPaceWatch(0);
    EXPECT_TRUE(KeepsPace(watch, 61000, 50u << 20, limits));
    EXPECT_TRUE(KeepsPace(watch, 100000, (50u << 20) + 1, limits));
    EXPECT_FALSE(KeepsPace(watch, 122000, (50u << 20) + 2, limits));
}

TEST(ResumeRules, OnlyTheExactRestUnderAStrongValidatorIsContinued) {
    EXPECT_TRUE(RangeContinues("bytes 1000-4999/5000", 1000, 5000));
    for (const char* wrong :
         {"bytes 0-4999/5000", "bytes 1000-3999/5000", "bytes 1000-4999/*", "bytes 1000-4999/6000",
          "bytes 1000-/5000", "bytes -4999/5000", "bytes=1000-4999/5000", "bytes 1000-4999/5000 ",
          "bytes +1000-4999/5000", "", "items 1000-4999/5000", "bytes 1000-18446744073709551616/5000"}) {
        EXPECT_FALSE(RangeContinues(wrong, 1000, 5000)) << wrong;
    }
    EXPECT_FALSE(RangeContinues("bytes 0--1/0", 0, 0));

    EXPECT_EQ(ResumeValidator("\"abc\"", "Tue, 01 Dec 2026 10:00:00 GMT"), "\"abc\"");
    EXPECT_EQ(ResumeValidator("W/\"abc\"", "Tue, 01 Dec 2026 10:00:00 GMT"), "Tue, 01 Dec 2026 10:00:00 GMT");
    EXPECT_EQ(ResumeValidator("W/\"abc\"", ""), "");

    PartialRecord record{"data/b dat.bin", 200000, std::string(64, 'a'), 65536, "\"5f-30d40\""};
    const std::string text = FormatPartialRecord(record);
    PartialRecord parsed;
    ASSERT_TRUE(ParsePartialRecord(text, parsed));
    EXPECT_EQ(parsed.name, record.name);
    EXPECT_EQ(parsed.size, record.size);
    EXPECT_EQ(parsed.sha256, record.sha256);
    EXPECT_EQ(parsed.bytes, record.bytes);
    EXPECT_EQ(parsed.validator, record.validator);
    // A damaged or cut record is no record: the partial is then not continued.
    for (size_t cut = 0; cut < text.size(); ++cut) {
        EXPECT_FALSE(ParsePartialRecord(text.substr(0, cut), parsed)) << cut;
    }
    std::string bad = text;
    bad.replace(bad.find("bytes=65536"), 11, "bytes=-6553");
    EXPECT_FALSE(ParsePartialRecord(bad, parsed));
    EXPECT_FALSE(ParsePartialRecord(text + "x\n", parsed));
}
