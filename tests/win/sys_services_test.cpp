// The local system services on the real platform, with the stand-in bot as a real
// second process.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "sys/bot_process.h"
#include "sys/file_ops.h"
#include "sys/install_paths.h"
#include "sys/long_path_win32.h"
#include "tests/win/test_bot.h"
#include "update/updater_state.h"

using namespace testbot;

namespace {

std::string CopyBot(const std::string& folder, const std::string& from = BotExe()) {
    const std::string exe = folder + "Vorlane.exe";
    CopyFileA(from.c_str(), exe.c_str(), FALSE);
    return exe;
}

std::string Upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](char c) { return (c >= 'a' && c <= 'z') ? c - 32 : c; });
    return text;
}

}  // namespace

TEST(FileProbe, RunningBotLocksItsImageAndTheProbeChangesNothing) {
    const std::string dir = FreshFolder("probe");
    const std::string exe = CopyBot(dir);
    {
        Bot bot(exe);
        ASSERT_TRUE(bot.Started());
        EXPECT_TRUE(IsFileLocked(exe));
        ASSERT_TRUE(StopBots(dir, {&bot}));
        EXPECT_EQ(bot.ExitCode(), 0u);
    }
    EXPECT_TRUE(WaitFor([&] { return !IsFileLocked(exe); }, 5000));

    // A closed file: opened for writing but neither truncated nor touched.
    const std::string data = dir + "data.bin";
    const std::string content(100000, 'x');
    ASSERT_TRUE(WriteText(data, content));
    EXPECT_FALSE(IsFileLocked(data));
    EXPECT_EQ(ReadText(data), content);

    // Read-only (access denied) and missing files are not "locked".
    const std::string readOnly = dir + "readonly.txt";
    ASSERT_TRUE(WriteText(readOnly, "r"));
    ASSERT_TRUE(SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_FALSE(IsFileLocked(readOnly));
    SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_FALSE(IsFileLocked(dir + "missing.exe"));
    EXPECT_FALSE(IsFileLocked(dir + "no\\such\\folder.exe"));
    EXPECT_FALSE(Exists(dir + "missing.exe"));
}

TEST(InstallPaths, ParentDirectoriesAreMadeBelowInstallDirOnly) {
    const std::string root = FreshFolder("dirs");
    InstallDir = root + "inst\\";
    // InstallDir itself is never made: with it missing, nothing at all appears.
    CreateParentDirectories(MakeInstallPath("a/b/c.txt"));
    EXPECT_TRUE(std::filesystem::is_empty(root));

    CreateDirectoryA((root + "inst").c_str(), nullptr);
    const std::string target = MakeInstallPath("data/sub/file.dll");
    EXPECT_EQ(target, root + "inst\\data\\sub\\file.dll");
    CreateParentDirectories(target);
    CreateParentDirectories(target);  // a second call over existing folders is harmless
    std::vector<std::string> made;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root + "inst")) {
        made.push_back(entry.path().lexically_relative(root + "inst").generic_string() +
                       (entry.is_directory() ? "/" : ""));
    }
    std::sort(made.begin(), made.end());
    EXPECT_EQ(made, (std::vector<std::string>{"data/", "data/sub/"}));
}

// Every file call takes the "\\?\" form, which the system passes on unresolved: the path
// must be absolute and plain before the prefix goes on, and a share needs "\\?\UNC\".
TEST(InstallPaths, LongFormsAreAbsoluteAndKeepAShareAShare) {
    EXPECT_EQ(LongPathW("\\\\srv\\gry\\Vorlane\\data/x.dat"), L"\\\\?\\UNC\\srv\\gry\\Vorlane\\data\\x.dat");
    const std::string dir = FreshFolder("long-forms");
    ASSERT_TRUE(SetCurrentDirectoryA(dir.c_str()));
    const std::wstring resolved = L"\\\\?\\" + FullPathW(dir) + L"data\\x.dat";
    EXPECT_EQ(LongPathW("sub/../data/./x.dat"), resolved);
    EXPECT_EQ(LongPathW(dir + "data\\sub\\..\\x.dat"), resolved);
    EXPECT_EQ(LongPathW("\\\\?\\C:\\a\\..\\b"), L"\\\\?\\C:\\a\\..\\b")
        << "a prefixed path is taken as it is";
    // And the file calls find what a plain call finds.
    CreateDirectoryA((dir + "data").c_str(), nullptr);
    std::ofstream out;
    ASSERT_TRUE(OpenWriteStream(out, "sub/../data/x.dat"));
    out.close();
    EXPECT_TRUE(Exists(dir + "data\\x.dat"));
    SetCurrentDirectoryA(BuildDir().c_str());
}

namespace {

// The bot's start log in `folder`, "" when there is none.
std::string Runs(const std::string& folder) {
    std::ifstream in;
    std::string text;
    if (OpenReadStream(in, folder + "Vorlane.runs")) {
        text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return text;
}

}  // namespace

// The bot is started from its folder, and the caller learns truthfully how it went: a bot
// reported started has started in its folder, one reported not started has not, and the
// text says why. Each test ends the bots it started, and no others.
TEST(BotProcesses, BotStartIsReportedAsItWent) {
    InstallDir = FreshFolder("launch-missing");
    const BotStart missing = StartBot();
    EXPECT_FALSE(missing.started);
    EXPECT_EQ(missing.detail.rfind("Nie moge uruchomic " + InstallDir + "Vorlane.exe (blad ", 0), 0u)
        << missing.detail;

    std::string deep = FreshFolder("launch-deep");
    while (deep.size() < 300) {
        deep += std::string(60, 'g') + "\\";
    }
    const std::string shallow = FreshFolder("launch");
    InstallDir = shallow;
    CreateParentDirectories(deep + "Vorlane.exe");
    for (const std::string& folder : {shallow, deep}) {
        ASSERT_TRUE(CopyFileW(LongPathW(BotExe()).c_str(), LongPathW(folder + "Vorlane.exe").c_str(), FALSE));
        DeleteFileQuietly(folder + "Vorlane.runs");  // a deep folder outlives FreshFolder
    }
    // A folder past MAX_PATH goes through its 8.3 form, and its bot starts in its folder all
    // the same. Each bot here is ended as it was started, and no other.
    for (const std::string& folder : {shallow, deep}) {
        InstallDir = folder;
        const BotStart start = StartBot();
        std::printf("%zu-byte folder: %s\n", folder.size(), start.detail.c_str());
        ASSERT_TRUE(start.started) << start.detail;
        EXPECT_EQ(start.detail.rfind("Uruchomiono ", 0), 0u) << start.detail;
        EXPECT_TRUE(WaitFor([&] { return Runs(folder).find("start ") != std::string::npos; }, 20000))
            << "the bot did not start in its folder";
        if (folder == deep) {
            // Started through the 8.3 form, it is the folder's bot named in either form.
            InstallDir = NarrowPath(ShortPathW(folder));
            ASSERT_FALSE(InstallDir.empty());
            if (InstallDir.back() != '\\') {
                InstallDir += '\\';
            }
            EXPECT_EQ(TerminateBotProcesses(), 1) << "the bot was not ended as the 8.3 folder's bot";
            EXPECT_EQ(Runs(folder).find("stop "), std::string::npos);
        }
        std::ofstream stop;  // ends the bot where it still runs
        ASSERT_TRUE(OpenWriteStream(stop, folder + "Vorlane.stop"));
        stop.close();
        if (folder != deep) {
            EXPECT_TRUE(WaitFor([&] { return Runs(folder).find("stop ") != std::string::npos; }, 10000));
        }
        EXPECT_TRUE(WaitFor([&] { return !IsFileLocked(folder + "Vorlane.exe"); }, 5000));
    }
    SetCurrentDirectoryA(BuildDir().c_str());  // the deep launch leaves the bot's folder current
}

TEST(BotProcesses, OnlyBotsOfTheInstallFolderAreTerminated) {
    const std::string inst = FreshFolder("term-inst");
    const std::string other = FreshFolder("term-other");
    const std::string exe = CopyBot(inst);
    const std::string otherExe = CopyBot(other);
    InstallDir = inst;
    EXPECT_EQ(TerminateBotProcesses(), 0);

    Bot first(exe), second(exe), stranger(otherExe);
    ASSERT_TRUE(first.Started() && second.Started() && stranger.Started());
    // The folder given in other letter case still names the same executable.
    InstallDir = Upper(inst);
    EXPECT_EQ(TerminateBotProcesses(), 2);
    ASSERT_TRUE(first.WaitExit(0) && second.WaitExit(0));  // each was waited for
    EXPECT_EQ(first.ExitCode(), 1u);
    EXPECT_EQ(second.ExitCode(), 1u);
    EXPECT_TRUE(stranger.Running());
    EXPECT_FALSE(IsFileLocked(exe));
    EXPECT_TRUE(IsFileLocked(otherExe));
    EXPECT_EQ(TerminateBotProcesses(), 0);
    EXPECT_TRUE(StopBots(other, {&stranger}));
    EXPECT_EQ(stranger.ExitCode(), 0u);
}

TEST(BotProcesses, FileVersionReadsThreeParts) {
    EXPECT_EQ(GetFileVersionString(BotExe()), "2.5.17");
    EXPECT_EQ(GetFileVersionString(NextBotExe()), "2.6.0");
    const std::string dir = FreshFolder("version");
    ASSERT_TRUE(WriteText(dir + "plain.exe", "MZ not really a program"));
    EXPECT_EQ(GetFileVersionString(dir + "plain.exe"), "");
    EXPECT_EQ(GetFileVersionString(dir + "missing.exe"), "");

    // A version resource whose fixed record is cut to its 4-byte signature: no version.
    const std::string cut = dir + "cut.exe";
    ASSERT_TRUE(CopyFileA(BotExe().c_str(), cut.c_str(), FALSE));
    const char16_t key[] = u"VS_VERSION_INFO";  // 16 units with the zero: 32 bytes
    std::vector<uint8_t> block(44, 0);
    const uint16_t header[3] = {44, 4, 0};  // whole length, value length, binary
    std::memcpy(block.data(), header, sizeof(header));
    std::memcpy(block.data() + 6, key, sizeof(key));
    const uint32_t signature = 0xFEEF04BD;  // the value starts on the next 4-byte boundary
    std::memcpy(block.data() + 40, &signature, sizeof(signature));
    HANDLE update = BeginUpdateResourceA(cut.c_str(), TRUE);
    ASSERT_NE(update, nullptr);
    ASSERT_TRUE(UpdateResourceA(update, MAKEINTRESOURCEA(16), MAKEINTRESOURCEA(1), 0, block.data(),
                                static_cast<DWORD>(block.size())));
    ASSERT_TRUE(EndUpdateResourceA(update, FALSE));
    EXPECT_EQ(GetFileVersionString(cut), "");
}

TEST(TestBot, SwapsInTheStagedUpdaterWhenItStarts) {
    const std::string dir = FreshFolder("swap");
    const std::string exe = CopyBot(dir);
    ASSERT_TRUE(WriteText(dir + "VorlanePatcher.exe", "old updater"));
    ASSERT_TRUE(WriteText(dir + "VorlanePatcher.new.exe", "new updater"));
    Bot bot(exe);
    ASSERT_TRUE(bot.Started());
    EXPECT_EQ(ReadText(dir + "VorlanePatcher.exe"), "new updater");
    EXPECT_FALSE(Exists(dir + "VorlanePatcher.new.exe"));
    EXPECT_NE(ReadText(dir + "Vorlane.runs").find(" 2.5.17.3 swapped"), std::string::npos);
    EXPECT_TRUE(StopBots(dir, {&bot}));
}
