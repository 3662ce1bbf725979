// Whole update passes (StartWorker -> UpdateWorker) against the local server, on real
// files in a scratch installation folder, with the stand-in bot as the running program.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "file_holder.h"
#include "pass_driver.h"
#include "test_server.h"
#include "tests/win/test_bot.h"
#include "update/updater_state.h"

using namespace pass_driver;
using namespace testbot;

namespace {

const char kVersion[] = "2.6.0.1";

struct Entry {
    std::string name;  // as the manifest writes it
    std::string content;
    bool onlyIfMissing = false;
    bool upperCaseDigest = false;  // the manifest writes the digest in capitals
};

std::string DigestAsWritten(const Entry& e) {
    std::string digest = Sha256Hex(e.content);
    for (char& c : digest) {
        c = e.upperCaseDigest && c >= 'a' && c <= 'f' ? static_cast<char>(c - 'a' + 'A') : c;
    }
    return digest;
}

// Serves the release: the signed manifest and every file under /download/<version>/.
void ServeRelease(const std::vector<Entry>& entries) {
    std::string text = std::string("VLR1\nversion=") + kVersion + "\nnotes=Poprawki\\n\n";
    for (const Entry& e : entries) {
        text += "file=" + e.name + "|" + std::to_string(e.content.size()) + "|" + DigestAsWritten(e) + "|" +
                (e.onlyIfMissing ? "1" : "0") + "\n";
        test_server::PutFile(std::string("download/") + kVersion + "/" + e.name, e.content);
    }
    test_server::ServeSignedManifest(text);
}

class UpdatePassTest : public ServerTest {
  protected:
    void SetUp() override {
        ServerTest::SetUp();
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        InstallDir = test_server::ScratchDir() + "\\" + info->name() + "\\";
        std::filesystem::create_directories(InstallDir);
    }
    void TearDown() override { FinishPass(); }
    std::string Local(const std::string& name) const {
        std::string path = InstallDir + name;
        for (char& c : path) {
            c = c == '/' ? '\\' : c;
        }
        return path;
    }
    // Every file below InstallDir whose name ends in ".download".
    std::vector<std::string> TemporaryFiles() const {
        std::vector<std::string> found;
        for (const auto& e : std::filesystem::recursive_directory_iterator(InstallDir)) {
            if (e.path().extension() == ".download") {
                found.push_back(e.path().filename().string());
            }
        }
        return found;
    }
};

}  // namespace

TEST_F(UpdatePassTest, FreshInstallationIsCompletedThenFoundUpToDate) {
    const std::string bot = ReadText(NextBotExe());
    const std::vector<Entry> release = {{"Vorlane.exe", bot},
                                        {"data/sub/tablice 1.dat", std::string(300000, 'a')},
                                        {"readme.txt", "czytaj\n"}};
    ServeRelease(release);
    ASSERT_TRUE(RunPass());
    Snapshot s = Read();
    EXPECT_EQ(s.phase, Updated);
    EXPECT_EQ(s.statusText, "Zaktualizowano do wersji 2.6.0.1");
    EXPECT_EQ(s.errorDetail, "");
    EXPECT_EQ(s.latestVersion, kVersion);
    EXPECT_EQ(s.releaseNotes, "Poprawki\n");
    EXPECT_EQ(s.installedVersion, "2.6.0");  // read again from the installed bot
    EXPECT_EQ(s.fileCount, 3);
    EXPECT_EQ(s.fileIndex, 3);
    EXPECT_EQ(s.totalBytes, static_cast<int64_t>(bot.size() + 300000 + 7));
    EXPECT_EQ(s.doneBytes, s.totalBytes);
    EXPECT_EQ(s.currentFile, "readme.txt");
    EXPECT_FALSE(s.patcherStaged);
    EXPECT_FALSE(s.botRunning);
    for (const Entry& e : release) {
        EXPECT_EQ(Sha256Hex(ReadText(Local(e.name))), Sha256Hex(e.content)) << e.name;
    }
    EXPECT_TRUE(TemporaryFiles().empty());
    EXPECT_EQ(DownloadRequests(),
              (std::vector<std::string>{"Vorlane.exe", "data/sub/tablice%201.dat", "readme.txt"}));

    // The same release again: every digest matches, nothing is offered or requested.
    ClearRequestLog();
    ASSERT_TRUE(RunPass(false));
    s = Read();
    EXPECT_EQ(s.phase, UpToDate);
    EXPECT_EQ(s.statusText, "Masz najnowsza wersje");
    EXPECT_EQ(s.installedVersion, "2.6.0");
    EXPECT_EQ(s.fileCount, 0);
    EXPECT_EQ(s.totalBytes, 0);
    EXPECT_EQ(s.fileIndex, 0);
    EXPECT_EQ(test_server::Requests().size(), 1u);
    EXPECT_TRUE(DownloadRequests().empty());
}

TEST_F(UpdatePassTest, OnlyIfMissingEntriesAreKeptWhenPresentAndInstalledWhenAbsent) {
    const std::vector<Entry> release = {{"config.ini", "domyslne=1\n", true}, {"cache", "x", true}};
    ServeRelease(release);
    WriteText(Local("config.ini"), "moje ustawienia\n");
    CreateDirectoryA(Local("cache").c_str(), nullptr);  // even a folder counts as present
    ASSERT_TRUE(RunPass(false));
    EXPECT_EQ(Read().phase, UpToDate);
    EXPECT_EQ(ReadText(Local("config.ini")), "moje ustawienia\n");
    EXPECT_TRUE(DownloadRequests().empty());

    DeleteFileA(Local("config.ini").c_str());
    ASSERT_TRUE(RunPass());
    EXPECT_EQ(Read().phase, Updated);
    EXPECT_EQ(Read().fileCount, 1);
    EXPECT_EQ(ReadText(Local("config.ini")), "domyslne=1\n");
    EXPECT_EQ(DownloadRequests(), std::vector<std::string>{"config.ini"});
}

TEST_F(UpdatePassTest, TheUpdatersOwnEntryIsStagedBesideTheRunningOne) {
    WriteText(Local("VorlanePatcher.exe"), "running updater");
    const std::vector<Entry> release = {{"vorlanepatcher.EXE", "new updater"},
                                        {"tools/VorlanePatcher.exe", "an ordinary file"}};
    ServeRelease(release);
    WriteText(Local("VorlanePatcher.new.exe"), "left by an earlier pass");
    ASSERT_TRUE(RunPass());
    EXPECT_EQ(Read().phase, Updated);
    EXPECT_TRUE(Read().patcherStaged);
    EXPECT_EQ(ReadText(Local("VorlanePatcher.exe")), "running updater");
    EXPECT_EQ(ReadText(Local("VorlanePatcher.new.exe")), "new updater");
    EXPECT_EQ(ReadText(Local("tools/VorlanePatcher.exe")), "an ordinary file");
    EXPECT_TRUE(TemporaryFiles().empty());

    // The bot swaps the staged file in when it starts; then the release matches.
    CopyFileA(BotExe().c_str(), Local("Vorlane.exe").c_str(), FALSE);
    {
        Bot bot(Local("Vorlane.exe"));
        ASSERT_TRUE(bot.Started());
        EXPECT_TRUE(StopBots(InstallDir, {&bot}));
    }
    EXPECT_EQ(ReadText(Local("VorlanePatcher.exe")), "new updater");
    ASSERT_TRUE(RunPass(false));
    EXPECT_EQ(Read().phase, UpToDate);
    EXPECT_TRUE(Read().patcherStaged);  // an UpToDate pass does not touch the flag

    // A later install without the updater's entry clears the flag.
    ServeRelease({{"vorlanepatcher.EXE", "new updater"}, {"readme.txt", "nowe"}});
    ASSERT_TRUE(RunPass());
    EXPECT_EQ(Read().phase, Updated);
    EXPECT_FALSE(Read().patcherStaged);
}

TEST_F(UpdatePassTest, ACorruptSecondFileStopsThePassAndARetryFetchesOnlyWhatIsMissing) {
    const std::vector<Entry> release = {
        {"one.bin", std::string(70000, '1')}, {"data/two.bin", std::string(80000, '2')}, {"three.bin", "3"}};
    ServeRelease(release);
    test_server::PutFile(std::string("download/") + kVersion + "/data/two.bin", std::string(80000, 'X'));
    ASSERT_TRUE(RunPass());
    Snapshot s = Read();
    EXPECT_EQ(s.phase, Failed);
    EXPECT_EQ(s.statusText, "Aktualizacja nie powiodla sie");
    EXPECT_EQ(s.errorDetail, "Plik data/two.bin jest uszkodzony (zla suma kontrolna)");
    EXPECT_EQ(s.fileIndex, 1);
    EXPECT_EQ(s.fileCount, 3);
    EXPECT_EQ(s.currentFile, "data/two.bin");
    EXPECT_EQ(ReadText(Local("one.bin")), release[0].content);
    EXPECT_FALSE(Exists(Local("data/two.bin")));
    EXPECT_FALSE(Exists(Local("three.bin")));
    EXPECT_TRUE(TemporaryFiles().empty());
    EXPECT_EQ(DownloadRequests(), (std::vector<std::string>{"one.bin", "data/two.bin"}));

    // A download the server refuses: its own message, unprefixed.
    ServeRelease(release);
    test_server::SetRule(std::string("/download/") + kVersion + "/three.bin", "status=404");
    ClearRequestLog();
    ASSERT_TRUE(RunPass());
    s = Read();
    EXPECT_EQ(s.phase, Failed);
    EXPECT_EQ(s.errorDetail, "HTTP 404 przy three.bin");
    EXPECT_EQ(s.fileIndex, 1);
    EXPECT_EQ(s.fileCount, 2);
    EXPECT_EQ(ReadText(Local("data/two.bin")), release[1].content);
    EXPECT_TRUE(TemporaryFiles().empty());

    // The server mended: the retry completes and fetches only the file still missing.
    test_server::SetRule(std::string("/download/") + kVersion + "/three.bin", "status=200");
    ClearRequestLog();
    ASSERT_TRUE(RunPass());
    s = Read();
    EXPECT_EQ(s.phase, Updated);
    EXPECT_EQ(s.errorDetail, "");
    EXPECT_EQ(s.fileCount, 1);
    EXPECT_EQ(s.fileIndex, 1);
    EXPECT_EQ(DownloadRequests(), std::vector<std::string>{"three.bin"});
    for (const Entry& e : release) {
        EXPECT_EQ(ReadText(Local(e.name)), e.content) << e.name;
    }

    // A digest in capitals is not the file's digest: the download fails its check where it
    // would be moved into place, rather than being installed and fetched again every pass.
    ServeRelease({{"one.bin", std::string(70000, 'U'), false, true}});
    ASSERT_TRUE(RunPass());
    s = Read();
    EXPECT_EQ(s.phase, Failed);
    EXPECT_EQ(s.errorDetail, "Plik one.bin jest uszkodzony (zla suma kontrolna)");
    EXPECT_EQ(Sha256Hex(ReadText(Local("one.bin"))), Sha256Hex(release[0].content));
    EXPECT_TRUE(TemporaryFiles().empty());
}

TEST_F(UpdatePassTest, ATargetHeldOpenByAnotherProcessFailsTheMove) {
    // A helper program of the installation still running: its image is held open.
    CreateDirectoryA(Local("tools").c_str(), nullptr);
    CopyFileA(BotExe().c_str(), Local("tools/helper.exe").c_str(), FALSE);
    Bot helper(Local("tools/helper.exe"));
    ASSERT_TRUE(helper.Started());
    ServeRelease({{"a.txt", "a"}, {"tools/helper.exe", "a newer helper"}});
    ASSERT_TRUE(RunPass());
    const Snapshot s = Read();
    EXPECT_EQ(s.phase, Failed);
    EXPECT_EQ(s.errorDetail, "Nie moge zapisac tools/helper.exe (plik otwarty?)");
    EXPECT_EQ(s.fileIndex, 1);
    EXPECT_TRUE(TemporaryFiles().empty());
    EXPECT_TRUE(helper.Running());
    EXPECT_TRUE(StopBots(InstallDir + "tools\\", {&helper}));
    EXPECT_EQ(ReadText(Local("tools/helper.exe")), ReadText(BotExe()));
}

// A second process opens the new file while it is being downloaded: as a virus scanner does
// (reading, sharing everything), as one that does not share deletion for half a second
// after the last byte, and as one that does not let go.
TEST_F(UpdatePassTest, AScannerHoldingTheNewFileFailsThePassOnlyIfItNeverLetsGo) {
    const std::string name = "tools/helper.exe";
    const std::string temporary = Local(name) + ".download";
    const size_t size = 300000;
    auto serveSlowly = [&](char fill) {
        ServeRelease({{name, std::string(size, fill)}});
        // About two seconds of download, so that the holder opens the file while it grows.
        test_server::SetRule(std::string("/download/") + kVersion + "/tools/helper.exe", "trickle=16384:100");
    };
    HoldOptions scanner;
    scanner.share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    scanner.appearWithinMs = 20000;
    HoldOptions brief = scanner;
    brief.share = FILE_SHARE_READ | FILE_SHARE_WRITE;
    brief.releaseAtSize = size;
    brief.releaseAfterMs = 500;
    for (const auto& [fill, options] : {std::pair{'s', scanner}, std::pair{'b', brief}}) {
        serveSlowly(fill);
        FileHolder holder(temporary, options);
        ASSERT_TRUE(RunPass());
        EXPECT_TRUE(holder.Holding(0)) << fill;
        EXPECT_EQ(Read().phase, Updated) << fill << ": " << Read().errorDetail;
        EXPECT_EQ(Sha256Hex(ReadText(Local(name))), Sha256Hex(std::string(size, fill))) << fill;
        EXPECT_TRUE(holder.Release());
        EXPECT_TRUE(TemporaryFiles().empty()) << fill;
    }

    HoldOptions stubborn = brief;
    stubborn.releaseAtSize = -1;
    serveSlowly('x');
    FileHolder holder(temporary, stubborn);
    ASSERT_TRUE(RunPass());
    EXPECT_TRUE(holder.Holding(0));
    EXPECT_EQ(Read().phase, Failed);
    EXPECT_EQ(Read().errorDetail, "Nie moge zapisac tools/helper.exe (plik otwarty?)");
    EXPECT_EQ(Sha256Hex(ReadText(Local(name))), Sha256Hex(std::string(size, 'b')));
}

TEST_F(UpdatePassTest, TheInstallWaitsForTheBotToCloseAndForTheConfirmation) {
    CopyFileA(BotExe().c_str(), Local("Vorlane.exe").c_str(), FALSE);
    ServeRelease({{"data.bin", "nowe dane"}});
    Bot bot(Local("Vorlane.exe"));
    ASSERT_TRUE(bot.Started());
    InstallConfirmed = true;  // a confirmation from before this pass does not count
    StartWorker();
    ASSERT_TRUE(WaitFor([] { return Read().phase == UpdateAvailable && Read().botRunning; }, 30000));
    EXPECT_EQ(Read().installedVersion, "2.5.17");
    EXPECT_FALSE(InstallConfirmed);
    Sleep(1000);
    InstallConfirmed = true;  // confirmed while the bot still runs: the install still waits
    Sleep(1000);
    EXPECT_EQ(Read().phase, UpdateAvailable);
    EXPECT_TRUE(DownloadRequests().empty());
    ASSERT_TRUE(StopBots(InstallDir, {&bot}));
    ASSERT_TRUE(WaitFor(PassOver, 30000));
    EXPECT_EQ(Read().phase, Updated);
    EXPECT_FALSE(Read().botRunning);
    EXPECT_EQ(ReadText(Local("data.bin")), "nowe dane");
    FinishPass();

    // A new pass: the bot is closed, but the earlier confirmation does not carry over.
    ServeRelease({{"data.bin", "jeszcze nowsze"}});
    ClearRequestLog();
    StartWorker();
    ASSERT_TRUE(WaitFor([] { return Read().phase == UpdateAvailable; }, 30000));
    Sleep(1500);
    EXPECT_EQ(Read().phase, UpdateAvailable);
    EXPECT_FALSE(Read().botRunning);
    EXPECT_TRUE(DownloadRequests().empty());
    InstallConfirmed = true;
    ASSERT_TRUE(WaitFor(PassOver, 30000));
    EXPECT_EQ(Read().phase, Updated);
    EXPECT_EQ(DownloadRequests(), std::vector<std::string>{"data.bin"});
}

TEST_F(UpdatePassTest, AutoModeNeedsNoConfirmationAndARetrievalFailureHashesNothing) {
    ServeRelease({{"data.bin", "dane"}});
    AutoMode = true;
    ASSERT_TRUE(RunPass(false));
    EXPECT_EQ(Read().phase, Updated);
    AutoMode = false;

    test_server::SetRule(test_server::ManifestPath(), "status=500");
    ASSERT_TRUE(RunPass(false));
    const Snapshot s = Read();
    EXPECT_EQ(s.phase, Failed);
    EXPECT_EQ(s.errorDetail.rfind("Serwer aktualizacji: ", 0), 0u) << s.errorDetail;
    EXPECT_EQ(s.latestVersion, kVersion);  // kept from the pass before
    EXPECT_EQ(s.fileCount, 0);
}
