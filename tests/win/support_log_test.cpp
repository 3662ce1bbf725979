// The support log's file on the real platform: the older file is made at the start, and a
// run cannot grow the log without end.
#include <gtest/gtest.h>

#include "sys/support_log.h"
#include "tests/win/test_bot.h"
#include "update/updater_state.h"

using namespace testbot;

TEST(SupportLog, AnOverlongLogBecomesTheOlderOneAndARunAppendsAtMostTheLimit) {
    const std::string folder = FreshFolder("support_log");
    InstallDir = folder;
    const std::string log = folder + kLogFileName;
    const std::string old = folder + kOldLogFileName;

    // Under the limit the log is kept and appended to.
    ASSERT_TRUE(WriteText(log, "earlier\r\n"));
    OpenSupportLog();
    WriteLog("second");
    std::string text = ReadText(log);
    EXPECT_EQ(text.rfind("earlier\r\n", 0), 0u) << text;
    EXPECT_EQ(text.size(), 9u + 33u) << text;  // "YYYY-MM-DD hh:mm:ss.mmmZ second\r\n"
    EXPECT_EQ(text.find("Z second\r\n"), text.size() - 10) << text;
    EXPECT_FALSE(Exists(old));

    // At the limit it replaces the older file and a new log begins.
    const std::string full(kLogLimitBytes, 'x');
    ASSERT_TRUE(WriteText(log, full));
    ASSERT_TRUE(WriteText(old, "oldest\r\n"));
    OpenSupportLog();
    WriteLog("fresh");
    EXPECT_TRUE(ReadText(old) == full);
    text = ReadText(log);
    EXPECT_EQ(text.size(), 32u) << text;
    EXPECT_EQ(text.find("Z fresh\r\n"), 23u) << text;

    // A run that keeps writing per-file lines stops short of the limit; the pass's end still
    // fits, and nothing goes past the limit.
    const std::string line(100, 'y');
    for (int i = 0; i < 20000; ++i) {
        WriteLog(line);
    }
    size_t size = ReadText(log).size();
    EXPECT_GT(size, kLogLimitBytes - kLogOutcomeReserveBytes - 200);
    EXPECT_LE(size, kLogLimitBytes - kLogOutcomeReserveBytes);
    WriteLog("koniec_przebiegu faza=Failed", LogKind::Outcome);
    text = ReadText(log);
    EXPECT_EQ(text.find("Z koniec_przebiegu faza=Failed\r\n"), text.size() - 32) << text.substr(text.size() - 200);
    for (int i = 0; i < 2000; ++i) {
        WriteLog(line, LogKind::Outcome);
    }
    size = ReadText(log).size();
    EXPECT_GT(size, kLogLimitBytes - 200);
    EXPECT_LE(size, kLogLimitBytes);
}
