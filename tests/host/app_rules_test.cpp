#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/auto_mode.h"
#include "app/start_up.h"
#include "app/user_actions.h"
#include "sys/install_paths.h"
#include "update/updater_state.h"

namespace {

// The window's timer values and a clock the test moves by hand.
struct AutoTimer {
    int32_t lastTimerPhase = -1;
    uint32_t phaseSinceTick = 0;
    int32_t autoRetryCount = 0;
    uint32_t now = 0;

    AutoModeStep Tick(int32_t phase, uint32_t advanceMs = 33) {
        now += advanceMs;
        return DecideAutoModeStep(phase, now, lastTimerPhase, phaseSinceTick, autoRetryCount);
    }
    // Ticks every 33 ms in `phase` until a step other than Wait comes; returns the ms waited.
    uint32_t WaitForStep(int32_t phase, AutoModeStep expected) {
        const uint32_t start = now;
        for (int i = 0; i < 10000; ++i) {
            const AutoModeStep step = Tick(phase);
            if (step != AutoModeStep::Wait) {
                EXPECT_EQ(step, expected);
                return now - start;
            }
        }
        ADD_FAILURE() << "no step within 330 s";
        return 0;
    }
};

void SetPhase(int32_t phase, bool botRunning = false) {
    std::lock_guard<std::mutex> lock(State.mutex);
    State.phase = phase;
    State.botRunning = botRunning;
}

}  // namespace

TEST(AutoModeRules, FinishedPassClosesJustAfterOneAndAHalfSecondsOfItsPhase) {
    for (int32_t finished : {UpToDate, Updated}) {
        AutoTimer timer;
        timer.now = 1000;
        // A long check and a long download never time out.
        EXPECT_EQ(timer.Tick(Checking, 0), AutoModeStep::Wait);
        EXPECT_EQ(timer.Tick(Checking, 60000), AutoModeStep::Wait);
        EXPECT_EQ(timer.Tick(UpdateAvailable, 200000), AutoModeStep::Wait);
        EXPECT_EQ(timer.Tick(Downloading, 300000), AutoModeStep::Wait);
        EXPECT_EQ(timer.Tick(finished), AutoModeStep::Wait);  // first seen here
        const uint32_t seen = timer.now;
        EXPECT_EQ(timer.Tick(finished, 1500), AutoModeStep::Wait);  // exactly 1500: not yet
        EXPECT_EQ(timer.now - seen, 1500u);
        EXPECT_EQ(timer.Tick(finished, 1), AutoModeStep::LaunchBotAndClose);
        EXPECT_EQ(timer.autoRetryCount, 0);
    }
}

TEST(AutoModeRules, TimingSurvivesTheTickCountWrap) {
    AutoTimer timer;
    timer.now = 0xFFFFFF00u;  // 256 ms before the 32-bit tick count wraps to 0
    EXPECT_EQ(timer.Tick(UpToDate, 0), AutoModeStep::Wait);
    EXPECT_EQ(timer.Tick(UpToDate, 1000), AutoModeStep::Wait);  // now past the wrap
    EXPECT_LT(timer.now, 1000u);
    EXPECT_EQ(timer.Tick(UpToDate, 500), AutoModeStep::Wait);
    EXPECT_EQ(timer.Tick(UpToDate, 1), AutoModeStep::LaunchBotAndClose);

    AutoTimer failing;
    failing.now = 0xFFFFF000u;
    EXPECT_EQ(failing.Tick(Failed, 0), AutoModeStep::Wait);
    EXPECT_EQ(failing.Tick(Failed, 15000), AutoModeStep::Wait);
    EXPECT_EQ(failing.Tick(Failed, 1), AutoModeStep::Retry);
}

TEST(AutoModeRules, FourRetriesFifteenSecondsApartThenTheBotStarts) {
    AutoTimer timer;
    timer.now = 5000;
    EXPECT_EQ(timer.Tick(Checking, 0), AutoModeStep::Wait);
    for (int retry = 1; retry <= 4; ++retry) {
        const uint32_t waited = timer.WaitForStep(Failed, AutoModeStep::Retry);
        EXPECT_GT(waited, 15000u);
        EXPECT_LE(waited, 15000u + 2 * 33);
        EXPECT_EQ(timer.autoRetryCount, retry);
        // The retried pass checks for a while and fails again.
        EXPECT_EQ(timer.Tick(Checking), AutoModeStep::Wait);
        EXPECT_EQ(timer.Tick(Checking, 2000), AutoModeStep::Wait);
    }
    EXPECT_EQ(timer.WaitForStep(Failed, AutoModeStep::LaunchBotAndClose) > 15000u, true);
    EXPECT_EQ(timer.autoRetryCount, 5);
}

// A server that refuses at once makes the new pass fail before the next tick: the timer never
// sees Checking, yet the retries must still be 15 s apart.
TEST(AutoModeRules, PassFailingBeforeTheNextTickStillWaitsItsFifteenSeconds) {
    AutoTimer timer;
    EXPECT_EQ(timer.Tick(Failed), AutoModeStep::Wait);
    timer.WaitForStep(Failed, AutoModeStep::Retry);
    EXPECT_EQ(timer.Tick(Failed), AutoModeStep::Wait);  // failed again within 33 ms
    EXPECT_EQ(timer.autoRetryCount, 1);
    const uint32_t waited = timer.WaitForStep(Failed, AutoModeStep::Retry);
    EXPECT_GT(waited, 15000u);
    EXPECT_EQ(timer.autoRetryCount, 2);
}

TEST(AutoModeRules, RecoveryAfterRetriesEndsNormallyAndKeepsTheCount) {
    AutoTimer timer;
    timer.WaitForStep(Failed, AutoModeStep::Retry);
    timer.WaitForStep(Failed, AutoModeStep::Retry);
    EXPECT_EQ(timer.Tick(Checking), AutoModeStep::Wait);
    for (int i = 0; i < 100; ++i) {
        EXPECT_EQ(timer.Tick(UpdateAvailable, 3000), AutoModeStep::Wait) << "no limit while offered";
    }
    // A later success closes after 1.5 s; the retry count is never reset.
    EXPECT_EQ(timer.Tick(Updated), AutoModeStep::Wait);
    const uint32_t waited = timer.WaitForStep(Updated, AutoModeStep::LaunchBotAndClose);
    EXPECT_GT(waited, 1500u - 33);
    EXPECT_LE(waited, 1500u + 33);
    EXPECT_EQ(timer.autoRetryCount, 2);
}

TEST(MainButton, DecisionPerPhaseAndBotState) {
    struct Row {
        int32_t phase;
        MainButtonStep idle;        // bot not running
        MainButtonStep botRunning;  // bot running
    };
    const Row rows[] = {
        {Checking, MainButtonStep::Nothing, MainButtonStep::Nothing},
        {UpToDate, MainButtonStep::LaunchBot, MainButtonStep::LaunchBot},
        {UpdateAvailable, MainButtonStep::ConfirmInstall, MainButtonStep::Nothing},
        {Downloading, MainButtonStep::Nothing, MainButtonStep::Nothing},
        {Updated, MainButtonStep::LaunchBot, MainButtonStep::LaunchBot},
        {Failed, MainButtonStep::Retry, MainButtonStep::Retry},
        {6, MainButtonStep::Nothing, MainButtonStep::Nothing},
        {-1, MainButtonStep::Nothing, MainButtonStep::Nothing},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(DecideMainButton(row.phase, false), row.idle) << "phase " << row.phase;
        EXPECT_EQ(DecideMainButton(row.phase, true), row.botRunning) << "phase " << row.phase;
        // The same decision read from the shared record, and the close rule beside it.
        SetPhase(row.phase, true);
        EXPECT_EQ(ReadMainButtonStep(), row.botRunning);
        SetPhase(row.phase, false);
        EXPECT_EQ(ReadMainButtonStep(), row.idle);
        EXPECT_EQ(CanClose(), row.phase != Downloading) << "phase " << row.phase;
    }
    SetPhase(Checking);
}

namespace {

// The window's steps as a record of what ran, with what the world looked like at each.
struct StepRecord {
    std::vector<std::string> ran;
    WindowSteps Steps() {
        WindowSteps steps;
        steps.releaseFolder = [this] { ran.push_back("release"); };
        steps.launchBot = [this] { ran.push_back(AutoMode ? "launch in auto mode" : "launch"); };
        steps.closeWindow = [this] { ran.push_back("close"); };
        steps.startPass = [this] {
            std::lock_guard<std::mutex> lock(State.mutex);
            ran.push_back("pass from phase " + std::to_string(State.phase) + " " + State.statusText);
        };
        return steps;
    }
};

}  // namespace

// The folder is handed back before the bot starts (a bot that starts the updater at once
// must find it free), and a retry shows Checking before its pass starts (a second press
// queued behind the first then finds nothing to retry).
TEST(MainButton, StepsRunInTheOrderThatKeepsOnePassPerFolder) {
    const std::vector<std::string> leave{"release", "launch", "close"};
    for (int32_t finished : {UpToDate, Updated}) {
        StepRecord record;
        SetPhase(finished);
        RunMainButton(record.Steps());
        EXPECT_EQ(record.ran, leave);
    }
    StepRecord automatic;
    AutoMode = true;
    RunAutoModeStep(AutoModeStep::LaunchBotAndClose, automatic.Steps());
    EXPECT_EQ(automatic.ran, leave) << "auto mode ends before the launch";

    StepRecord retry;
    SetPhase(Failed);
    RunMainButton(retry.Steps());
    RunMainButton(retry.Steps());  // the second Enter, queued behind the first
    EXPECT_EQ(retry.ran, std::vector<std::string>{"pass from phase 0 " + std::string(kCheckingStatus)});
    StepRecord autoRetry;
    SetPhase(Failed);
    RunAutoModeStep(AutoModeStep::Retry, autoRetry.Steps());
    EXPECT_EQ(autoRetry.ran, std::vector<std::string>{"pass from phase 0 Ponawiam..."});

    StepRecord confirm;
    SetPhase(UpdateAvailable);
    InstallConfirmed = false;
    RunMainButton(confirm.Steps());
    EXPECT_TRUE(InstallConfirmed.load());
    EXPECT_TRUE(confirm.ran.empty());
    InstallConfirmed = false;
    SetPhase(Checking);
}

TEST(StartUp, AutoSwitchIsAPlainSubstring) {
    EXPECT_TRUE(HasAutoSwitch("--auto"));
    EXPECT_TRUE(HasAutoSwitch("/x --auto /y"));
    EXPECT_TRUE(HasAutoSwitch("--automatic"));
    EXPECT_TRUE(HasAutoSwitch("x--autox"));
    EXPECT_FALSE(HasAutoSwitch("--AUTO"));
    EXPECT_FALSE(HasAutoSwitch("-auto"));
    EXPECT_FALSE(HasAutoSwitch("--aut"));
    EXPECT_FALSE(HasAutoSwitch(""));
    EXPECT_FALSE(HasAutoSwitch(nullptr));

    // "--channel NAME" is a word of its own, its name the next word.
    std::string name = "untouched";
    EXPECT_TRUE(ReadChannelSwitch("--auto --channel beta", name));
    EXPECT_EQ(name, "beta");
    EXPECT_TRUE(ReadChannelSwitch("--channel\tstable --auto", name));
    EXPECT_EQ(name, "stable");
    EXPECT_TRUE(ReadChannelSwitch("--channel", name));
    EXPECT_EQ(name, "");
    name = "untouched";
    EXPECT_FALSE(ReadChannelSwitch("--channels beta", name));
    EXPECT_FALSE(ReadChannelSwitch("x--channel beta", name));
    EXPECT_FALSE(ReadChannelSwitch("--auto", name));
    EXPECT_FALSE(ReadChannelSwitch(nullptr, name));
    EXPECT_EQ(name, "untouched");
    EXPECT_TRUE(ReadChannelSwitch("--channelx --channel rc-1", name));
    EXPECT_EQ(name, "rc-1");
}

TEST(StartUp, InstallDirIsTheFolderWithItsSeparator) {
    EXPECT_EQ(InstallDirFromModulePath("C:\\Gry\\Vorlane\\VorlanePatcher.exe"), "C:\\Gry\\Vorlane\\");
    EXPECT_EQ(InstallDirFromModulePath("Z:/tmp/v/VorlanePatcher.exe"), "Z:/tmp/v/");
    EXPECT_EQ(InstallDirFromModulePath("C:\\a/b\\c/VorlanePatcher.exe"), "C:\\a/b\\c/");
    EXPECT_EQ(InstallDirFromModulePath("C:\\a/b\\VorlanePatcher.exe"), "C:\\a/b\\");
    EXPECT_EQ(InstallDirFromModulePath("C:\\VorlanePatcher.exe"), "C:\\");
    EXPECT_EQ(InstallDirFromModulePath("C:\\dir\\"), "C:\\dir\\");
    EXPECT_EQ(InstallDirFromModulePath("VorlanePatcher.exe"), "");
    EXPECT_EQ(InstallDirFromModulePath(""), "");
    // Started through a "\\?\" path: the same folder, the same lock as a plain start.
    EXPECT_EQ(InstallDirFromModulePath("\\\\?\\C:\\Gry\\Vorlane\\VorlanePatcher.exe"), "C:\\Gry\\Vorlane\\");
    EXPECT_EQ(InstallDirFromModulePath("\\\\?\\UNC\\srv\\gry\\v\\VorlanePatcher.exe"), "\\\\srv\\gry\\v\\");
    EXPECT_EQ(InstallDirFromModulePath("\\\\?\\unc\\srv\\v\\VorlanePatcher.exe"), "\\\\srv\\v\\");
    EXPECT_EQ(FolderLockName(InstallDirFromModulePath("\\\\?\\c:\\gry\\vorlane\\VorlanePatcher.exe")),
              FolderLockName("C:\\Gry\\Vorlane\\"));
}

// A bot in a deep folder starts the updater through the folder's 8.3 form: its folder must
// still be the one a long start names, or two passes run in it. The long form decides when
// the system gives it; a form it could not give never replaces one it could.
TEST(StartUp, EveryFormOfTheFolderNamesOneLock) {
    const std::string shortExe = "C:\\GRY~1\\VORLAN~1\\VorlanePatcher.exe";
    const std::string longExe = "C:\\Gry\\Vorlane Deep\\VorlanePatcher.exe";
    const std::string fromShort = InstallDirFromModulePath(OnePathForm(shortExe, shortExe, longExe));
    EXPECT_EQ(fromShort, "C:\\Gry\\Vorlane Deep\\");
    EXPECT_EQ(FolderLockName(fromShort),
              FolderLockName(InstallDirFromModulePath(OnePathForm(longExe, longExe, longExe))));
    // The system's forms come back with the prefix for a path past MAX_PATH.
    EXPECT_EQ(OnePathForm(shortExe, "\\\\?\\" + shortExe, "\\\\?\\" + longExe), longExe);
    EXPECT_EQ(OnePathForm("\\\\?\\UNC\\srv\\V~1\\x.exe", "", "\\\\?\\UNC\\srv\\Vorlane\\x.exe"),
              "\\\\srv\\Vorlane\\x.exe");
    // No long form (a folder that denies listing, a name outside the ANSI code page): the
    // absolute form, then the path as it came.
    EXPECT_EQ(OnePathForm("v\\..\\VorlanePatcher.exe", "C:\\Gry\\VorlanePatcher.exe", ""),
              "C:\\Gry\\VorlanePatcher.exe");
    EXPECT_EQ(OnePathForm("\\\\?\\C:\\GRY~1\\VorlanePatcher.exe", "", ""), "C:\\GRY~1\\VorlanePatcher.exe");
    EXPECT_EQ(OnePathForm("", "", ""), "");
}

// Windows folder names ignore their case, so the lock does too; any other byte counts.
TEST(StartUp, FolderLockNameIgnoresTheCaseOfTheFolderOnly) {
    const std::string name = FolderLockName("C:\\Gry\\Vorlane\\");
    EXPECT_EQ(name.rfind("Local\\VorlanePatcher-", 0), 0u);
    EXPECT_EQ(name.size(), std::string("Local\\VorlanePatcher-").size() + 16);
    EXPECT_EQ(name.find('\\', 6), std::string::npos) << "no backslash after the namespace";
    EXPECT_EQ(FolderLockName("c:\\gry\\VORLANE\\"), name);
    EXPECT_NE(FolderLockName("C:\\Gry\\Vorlane2\\"), name);
    EXPECT_NE(FolderLockName("C:\\Gry\\Vorlan\xC4\x99\\"), FolderLockName("C:\\Gry\\Vorlan\xC4\xB9\\"));
}

// A reader with GetModuleFileNameA's contract over a path of any length.
TEST(StartUp, ModulePathIsReadWholeWhateverItsLength) {
    int calls = 0;
    std::string path;
    const ModulePathReader reader = [&](char* buffer, uint32_t capacity) -> uint32_t {
        ++calls;
        if (path.size() < capacity) {
            std::memcpy(buffer, path.c_str(), path.size() + 1);
            return static_cast<uint32_t>(path.size());
        }
        // Cut to capacity - 1 characters plus the terminator, and report the capacity.
        std::memcpy(buffer, path.data(), capacity - 1);
        buffer[capacity - 1] = '\0';
        return capacity;
    };
    // A folder name that crosses byte 260: a cut there would name its parent folder instead.
    const std::string deep = "C:\\" + std::string(250, 'd') + "\\Vorlane2\\";
    path = deep + "VorlanePatcher.exe";
    EXPECT_EQ(ReadWholeModulePath(reader), path);
    EXPECT_EQ(InstallDirFromModulePath(ReadWholeModulePath(reader)), deep);
    // The first buffer holds 259 characters; the largest Windows path takes the last buffer.
    for (size_t length : {size_t{30}, size_t{259}, size_t{260}, size_t{261}, size_t{4000}, size_t{65535}}) {
        path = "C:\\v\\" + std::string(length - 5, 'p');
        calls = 0;
        EXPECT_EQ(ReadWholeModulePath(reader), path) << "length " << length;
        if (length < 260) {
            EXPECT_EQ(calls, 1) << "one read when the path fits the first buffer";
        }
    }
    // A failing read, and a path no buffer can hold, give no path at all (never a cut one).
    EXPECT_EQ(ReadWholeModulePath([](char*, uint32_t) -> uint32_t { return 0; }), "");
    EXPECT_EQ(ReadWholeModulePath([](char*, uint32_t capacity) { return capacity; }), "");
}
