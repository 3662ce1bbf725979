#include <gtest/gtest.h>

#include "update/release_guard.h"

namespace {

std::string Judge(const ReleaseManifest& m, const SerialRecord& accepted, int64_t now = 0) {
    std::string error = "untouched";
    const bool ok = JudgeManifestFreshness(m, accepted, now, error);
    EXPECT_EQ(ok, error == "untouched") << error;
    return error;
}

}  // namespace

TEST(ReleaseGuard, ADamagedRecordCountsAsNone) {
    const SerialRecord sound = ParseSerialRecord(FormatSerialRecord(1765314000));
    EXPECT_TRUE(sound.known);
    EXPECT_EQ(sound.serial, 1765314000);
    for (const std::string& text :
         {std::string(""), std::string("1765314000 1765314000"), std::string("1765314000 1765314001\n"),
          std::string("1765314000\n"), std::string("17653 1765314000\n"), std::string(22, '\0'),
          std::string("-5 -5\n"), std::string(" \n")}) {
        EXPECT_FALSE(ParseSerialRecord(text).known) << text;
    }
}

// Freeze: an expiry is honoured with a day of clock difference; no record, no limit.
TEST(ReleaseGuard, AnExpiredManifestIsRefusedAfterADaysAllowance) {
    ReleaseManifest m;
    m.hasExpires = true;
    m.expires = 2147483648;  // 2038-01-19T03:14:08Z
    EXPECT_EQ(Judge(m, SerialRecord(), m.expires + kClockAllowanceSeconds), "untouched");
    EXPECT_EQ(Judge(m, SerialRecord(), m.expires + kClockAllowanceSeconds + 1),
              "manifest wygasl (byl wazny do 2038-01-19 03:14:08 UTC)");
    m.hasExpires = false;
    EXPECT_EQ(Judge(m, SerialRecord(), 4107542400), "untouched");
}
