// The support log's lines: one line per step whatever the values, fields that read back.
#include <gtest/gtest.h>

#include "manifest/manifest_log_text.h"
#include "sys/support_log.h"
#include "update/pass_log_texts.h"

TEST(SupportLog, EveryStepStaysOneLineWithItsFieldsReadable) {
    UtcTime time;
    time.year = 2026;
    time.month = 1;
    time.day = 2;
    time.hour = 3;
    time.minute = 4;
    time.second = 5;
    time.millisecond = 6;

    // A server's or a system's text may carry line breaks: they must not start a line of their own.
    DownloadRecord record;
    record.name = "data/my \"big\" file.dat";
    record.status = 0;
    record.bytes = 1234;
    record.elapsedMs = 56;
    record.resumedFrom = 789;
    record.error = "blad sieci 12002\r\nstart wersja=9.9";
    const std::string line = FormatLogLine(time, DownloadText(record));
    EXPECT_EQ(
        line,
        "2026-01-02 03:04:05.006Z pobieranie nazwa=\"data/my \"\"big\"\" file.dat\" status=0 bajty=1234 "
        "czas_ms=56 od_bajtu=789 blad=\"blad sieci 12002??start wersja=9.9\"\r\n");

    // An empty value is still a field; a failed manifest names its error instead of a version.
    EXPECT_EQ(ManifestText(0, 0, 12, false, "", "upd.example.com"),
              "manifest status=0 bajty=0 czas_ms=12 blad=\"\" serwer=upd.example.com");
    EXPECT_EQ(ManifestText(200, 900, 3, true, "2.6.0.1", "b.example.net"),
              "manifest status=200 bajty=900 czas_ms=3 wersja=2.6.0.1 serwer=b.example.net");
    EXPECT_EQ(PassEndText(5, "Aktualizacja nie powiodla sie", "HTTP 404 przy a.txt"),
              "koniec_przebiegu faza=Failed status=\"Aktualizacja nie powiodla sie\" szczegoly=\"HTTP 404 "
              "przy a.txt\"");
    EXPECT_EQ(ExitText(42), "wyjscie faza=? kod=0");
}

// Per-file lines may fill the run's budget but for a share that only failures and the
// pass's end may spend, and neither kind goes past the whole budget.
TEST(SupportLog, TheOutcomeLinesKeepAShareOfTheBudget) {
    const uint64_t routine = kLogLimitBytes - kLogOutcomeReserveBytes;
    EXPECT_TRUE(LogLineFits(0, 200, LogKind::Routine));
    EXPECT_TRUE(LogLineFits(routine - 200, 200, LogKind::Routine));
    EXPECT_FALSE(LogLineFits(routine - 199, 200, LogKind::Routine));
    EXPECT_TRUE(LogLineFits(routine - 199, 200, LogKind::Outcome));
    EXPECT_FALSE(LogLineFits(routine + 1, 1, LogKind::Routine));
    EXPECT_TRUE(LogLineFits(kLogLimitBytes - 200, 200, LogKind::Outcome));
    EXPECT_FALSE(LogLineFits(kLogLimitBytes - 199, 200, LogKind::Outcome));
    EXPECT_FALSE(LogLineFits(kLogLimitBytes + 1, 0, LogKind::Outcome));
    EXPECT_EQ(SerialRecordText(1796000000, false), "numer_wydania numer=1796000000 zapisany=nie");
}
