#include <gtest/gtest.h>

#include "update/release_guard.h"

namespace {

ReleaseManifest WithSerial(bool has, int64_t serial) {
    ReleaseManifest m;
    m.hasSerial = has;
    m.serial = serial;
    return m;
}

SerialRecord Accepted(int64_t serial) {
    return SerialRecord{true, serial};
}

std::string Judge(const ReleaseManifest& m, const SerialRecord& accepted, int64_t now = 0) {
    std::string error = "untouched";
    const bool ok = JudgeManifestFreshness(m, accepted, now, error);
    EXPECT_EQ(ok, error == "untouched") << error;
    return error;
}

}  // namespace

// Rollback: an installation that has accepted a serial takes that serial again and any higher
// one, never a lower one nor none. Without a record (never a serial, or the record lost or
// damaged) every manifest is taken, so nobody is locked out.
TEST(ReleaseGuard, SerialsOnlyGrowOnceOneWasAccepted) {
    EXPECT_EQ(Judge(WithSerial(false, 0), SerialRecord()), "untouched");
    EXPECT_EQ(Judge(WithSerial(true, 5), SerialRecord()), "untouched");
    EXPECT_EQ(Judge(WithSerial(true, 100), Accepted(100)), "untouched");
    EXPECT_EQ(Judge(WithSerial(true, 101), Accepted(100)), "untouched");
    EXPECT_EQ(Judge(WithSerial(true, 99), Accepted(100)),
              "manifest starszy niz juz przyjety (numer wydania 99, przyjety byl 100)");
    EXPECT_EQ(Judge(WithSerial(false, 0), Accepted(100)),
              "manifest bez numeru wydania (przyjety byl juz numer 100)");

    // Only a higher serial rewrites the record.
    EXPECT_TRUE(RaisesSerialRecord(WithSerial(true, 5), SerialRecord()));
    EXPECT_TRUE(RaisesSerialRecord(WithSerial(true, 101), Accepted(100)));
    EXPECT_FALSE(RaisesSerialRecord(WithSerial(true, 100), Accepted(100)));
    EXPECT_FALSE(RaisesSerialRecord(WithSerial(false, 0), SerialRecord()));
}

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
