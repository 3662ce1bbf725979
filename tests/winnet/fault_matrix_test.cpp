// The fault matrix: whole update passes (real WinHTTP, real files) against a server or an
// installation folder that fails in one way per row. Each row must end in its phase with its
// message, leave only whole files (each with its old or its new content) and no ".download"
// file, and a pass against the mended server must then complete.
//
// Wine's WinHTTP is not Windows' in three ways that rows meet (each row names its own):
//  - a connection closed in the middle of a body reads as a normal end, so a cut manifest
//    fails on its signature and a cut file on its digest, where Windows reports
//    "przerwane pobieranie";
//  - a stall in the middle of a body fails the read after the receive time-out, as on
//    Windows (12 s for the manifest, 60 s for a file);
//  - a stall before the response headers fails after the receive time-out with the
//    socket's code 10060 (Windows: 12002).
// The server closes every stall itself after its "hold" (tests/fixtures/update_server.py).
// A file transfer that ends early keeps what arrived (its ".download" and the record beside
// the program) and the retry asks only for the rest.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>

#include "file_holder.h"
#include "manifest/utc_time.h"
#include "net/https_client.h"
#include "net/server_address.h"
#include "net/transfer_pace.h"
#include "pass_driver.h"
#include "sys/clock.h"
#include "sys/support_log.h"
#include "test_server.h"
#include "update/release_guard.h"
#include "update/update_pass.h"

using namespace pass_driver;
using test_server::SetRule;
using testbot::ReadText;
using testbot::WaitFor;
using testbot::WriteText;

namespace {

const char kVersion[] = "3.1.0";
const char kFailed[] = "Aktualizacja nie powiodla sie";
const char kSecond[] = "data/b dat.bin";  // the file the download rows break
const std::string kSecondPath = std::string("/download/") + kVersion + "/data/b%20dat.bin";
const char kSecondPartial[] = "data/b dat.bin.download";
const char kPartialRecord[] = "VorlanePatcher.partial";
const char kTooSlow[] = "przerwane pobieranie (serwer wysyla dane zbyt wolno)";

// Bytes that differ from any other seed at almost every position, so that a cut or a
// mixed file can never pass for a whole one.
std::string Pattern(int seed, size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>((seed * 131 + i * 7 + i / 251) & 0xFF);
    }
    return bytes;
}

struct ReleaseFile {
    std::string name;
    bool installed;  // whether the old installation has the file
    std::string oldContent;
    std::string newContent;
};

// The old installation and the release: two changed files (more than one 64 KiB block
// each, the second with a blank and a folder), a new file and an unchanged one.
const std::vector<ReleaseFile>& Release() {
    static const std::vector<ReleaseFile> files = {
        {"a.dat", true, Pattern(1, 70000), Pattern(2, 90000)},
        {kSecond, true, Pattern(3, 150000), Pattern(4, 200000)},
        {"c.txt", false, "", "nowy plik\n"},
        {"same.txt", true, "bez zmian\n", "bez zmian\n"},
    };
    return files;
}

std::string ManifestText(const std::string& lineEnd = "\n") {
    std::string text = "VLR1" + lineEnd + "version=" + kVersion + lineEnd + "notes=Poprawki" + lineEnd;
    for (const ReleaseFile& f : Release()) {
        text += "file=" + f.name + "|" + std::to_string(f.newContent.size()) + "|" + Sha256Hex(f.newContent) +
                "|0" + lineEnd;
    }
    return text;
}

// The healthy server: the signed manifest and every file of the release.
void ServeRelease() {
    test_server::Reset();
    for (const ReleaseFile& f : Release()) {
        test_server::PutFile(std::string("download/") + kVersion + "/" + f.name, f.newContent);
    }
    test_server::ServeSignedManifest(ManifestText());
}

// The manifest text with a genuine signature of the build's key, but over another text.
void ServeTamperedManifest() {
    std::string body;
    std::string error;
    const uint32_t status = HttpsFetch(
        BuildManifestPath(), std::string(),
        [&body](const uint8_t* data, uint32_t count) {
            body.append(reinterpret_cast<const char*>(data), count);
            return true;
        },
        error, 12000);
    ASSERT_EQ(status, 200u) << error;
    const size_t sig = body.find("\nsig=");
    ASSERT_NE(sig, std::string::npos);
    std::string tampered = body.substr(0, sig + 1);
    tampered.replace(tampered.find("notes=Poprawki"), 14, "notes=Poprawka");
    test_server::PutFile(test_server::ManifestPath().substr(1), tampered + body.substr(sig + 1));
    test_server::SetRule(test_server::ManifestPath(), "status=200");
}

// A correctly signed manifest of 600,000 bytes: the release and notes that fill the rest.
void ServeOversizedManifest() {
    std::string text = ManifestText();
    const size_t signatureLine = 4 + 128 + 1;
    text += "notes=" + std::string(600000 - signatureLine - text.size() - 7, 'n') + "\n";
    ASSERT_EQ(text.size() + signatureLine, 600000u);
    test_server::ServeSignedManifest(text);
}

void ServeCrLfManifest() {
    test_server::ServeSignedManifest(ManifestText("\r\n"));
}

// Every file below `dir`: relative name with "/" -> content.
std::map<std::string, std::string> FolderFiles(const std::string& dir) {
    std::map<std::string, std::string> files;
    for (const auto& e : std::filesystem::recursive_directory_iterator(dir)) {
        if (e.is_regular_file()) {
            std::string name = std::filesystem::relative(e.path(), dir).generic_string();
            files[name] = ReadText(e.path().string());
        }
    }
    return files;
}

// The folder holds exactly `expected` (relative name -> content): nothing else, no
// ".download" file, no file cut short or mixed.
void ExpectFolderHolds(const std::string& dir, const std::map<std::string, std::string>& expected) {
    const auto found = FolderFiles(dir);
    for (const auto& [name, content] : found) {
        const auto it = expected.find(name);
        if (it == expected.end()) {
            ADD_FAILURE() << "unexpected file " << name << " (" << content.size() << " bytes)";
        } else if (content != it->second) {
            ADD_FAILURE() << name << ": " << content.size() << " bytes, not the expected whole "
                          << it->second.size();
        }
    }
    for (const auto& [name, content] : expected) {
        EXPECT_TRUE(found.count(name)) << name << " is missing";
    }
}

// The release's files: `updated` ones with their new content, the others as they were
// before (or absent if they were). With `keptPartial`, also the second file's kept bytes:
// a start of its new content, and their record.
void ExpectWholeFiles(const std::string& dir,
                      const std::vector<std::string>& updated,
                      bool keptPartial = false) {
    std::map<std::string, std::string> expected;
    if (keptPartial) {
        const std::string kept = ReadText(dir + kSecondPartial);
        EXPECT_FALSE(kept.empty());
        EXPECT_TRUE(Release()[1].newContent.compare(0, kept.size(), kept) == 0)
            << kept.size() << " kept bytes";
        expected[kSecondPartial] = kept;
        const std::string record = ReadText(dir + kPartialRecord);
        EXPECT_EQ(record.rfind("VLPART2\nname=data/b dat.bin\n", 0), 0u) << record;
        expected[kPartialRecord] = record;
    }
    for (const ReleaseFile& f : Release()) {
        if (std::find(updated.begin(), updated.end(), f.name) != updated.end()) {
            expected[f.name] = f.newContent;
        } else if (f.installed) {
            expected[f.name] = f.oldContent;
        }
    }
    ExpectFolderHolds(dir, expected);
}

std::vector<std::string> AllNames() {
    std::vector<std::string> names;
    for (const ReleaseFile& f : Release()) {
        names.push_back(f.name);
    }
    return names;
}

void LayOutOldInstallation(const std::string& dir) {
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
    std::filesystem::create_directories(dir + "data");
    for (const ReleaseFile& f : Release()) {
        if (f.installed) {
            ASSERT_TRUE(
                WriteText(dir + std::filesystem::path(f.name).make_preferred().string(), f.oldContent));
        }
    }
}

// One row of the matrix: how to break the server (after the healthy release is served)
// or the folder, and what the failed pass must show.
struct FaultRow {
    const char* name;
    std::function<void()> breakServer;
    std::string detail;                // "{dir}" stands for the installation folder
    std::vector<std::string> updated;  // files that the failed pass has already replaced
    enum Folder { Writable, ReadOnly, SecondFileHeld } folder = Writable;
    DWORD atLeastMs = 0;        // a time-out row must not end before its time-out
    bool keptPartial = false;   // the second file's transfer ended early and kept its bytes
    uint32_t paceWindowMs = 0;  // a shorter window of the pace rule, to show it quickly
};

const uint32_t kShortPaceWindowMs = 3000;

const std::vector<FaultRow>& Rows() {
    const std::string manifest = test_server::ManifestPath();
    static const std::vector<FaultRow> rows = {
        {"ManifestNotFound",
         [=] { SetRule(manifest, "status=404"); },
         "Serwer aktualizacji: brak wydania na serwerze (HTTP 404)",
         {}},
        {"ManifestServerError",
         [=] { SetRule(manifest, "status=500"); },
         "Serwer aktualizacji: brak wydania na serwerze (HTTP 500)",
         {}},
        {"ManifestEmpty",
         [=] { SetRule(manifest, "body=empty"); },
         "Serwer aktualizacji: manifest bez podpisu",
         {}},
        // Wine: the cut reads as the end of the body. Windows: "przerwane pobieranie".
        {"ManifestCut",
         [=] { SetRule(manifest, "sign=dev cut=120"); },
         "Serwer aktualizacji: manifest bez podpisu",
         {}},
        // Fails after the manifest's 12 s receive time-out; the server would hold 16 s.
        {"ManifestStalledInTheBody",
         [=] { SetRule(manifest, "sign=dev stall=120 hold=16"); },
         "Serwer aktualizacji: przerwane pobieranie",
         {},
         FaultRow::Writable,
         11500},
        // The wait for the headers has the receive time-out too (Wine's default is none).
        // Windows: "blad sieci 12002".
        {"ManifestStalledBeforeTheHeaders",
         [=] { SetRule(manifest, "stall=headers hold=16"); },
         "Serwer aktualizacji: blad sieci 10060",
         {},
         FaultRow::Writable,
         11500},
        // The pace rule with a 3 s window: a byte every half second is ended after it.
        {"ManifestTrickled",
         [=] { SetRule(manifest, "sign=dev trickle=1:500"); },
         std::string("Serwer aktualizacji: ") + kTooSlow,
         {},
         FaultRow::Writable,
         2900,
         false,
         kShortPaceWindowMs},
        {"ManifestOf600000Bytes", ServeOversizedManifest, "Serwer aktualizacji: manifest bez podpisu", {}},
        {"ManifestTampered",
         ServeTamperedManifest,
         "Serwer aktualizacji: podpis manifestu sie nie zgadza",
         {}},
        {"ManifestSignedByAnotherKey",
         [=] { SetRule(manifest, "sign=other"); },
         "Serwer aktualizacji: podpis manifestu sie nie zgadza",
         {}},
        {"ManifestWithCrLfLines", ServeCrLfManifest, "Serwer aktualizacji: nieznany format manifestu", {}},

        {"FileNotFound",
         [] { SetRule(kSecondPath, "status=404"); },
         "HTTP 404 przy data/b dat.bin",
         {"a.dat"}},
        // Wine reads the cut as the end of the body; the size shows it was not.
        {"FileCutInTheBody",
         [] { SetRule(kSecondPath, "cut=100000"); },
         "przerwane pobieranie",
         {"a.dat"},
         FaultRow::Writable,
         0,
         true},
        // Stopped at the declared size, where the disk would otherwise fill.
        {"FileThatNeverEnds",
         [] { SetRule(kSecondPath, "endless=1"); },
         "Plik data/b dat.bin jest wiekszy niz podaje manifest",
         {"a.dat"}},
        {"FileTrickled",
         [] { SetRule(kSecondPath, "trickle=1:500"); },
         kTooSlow,
         {"a.dat"},
         FaultRow::Writable,
         2900,
         true,
         kShortPaceWindowMs},
        // The real-time run of the pace rule: a byte every 40 s, each within the 60 s receive
        // time-out, ended at the first byte after the 60 s window (80 s).
        {"FileTrickledAByteEvery40s",
         [] { SetRule(kSecondPath, "trickle=1:40000"); },
         kTooSlow,
         {"a.dat"},
         FaultRow::Writable,
         59500,
         true},
        {"FileWithWrongContent",
         [] {
             test_server::PutFile(std::string("download/") + kVersion + "/" + kSecond, Pattern(5, 200000));
         },
         "Plik data/b dat.bin jest uszkodzony (zla suma kontrolna)",
         {"a.dat"}},
        // A stall that the server ends by closing after 3 s, well within the 60 s receive
        // time-out: under Wine a cut like the one above.
        {"FileStalledUntilTheServerCloses",
         [] { SetRule(kSecondPath, "stall=100000 hold=3"); },
         "przerwane pobieranie",
         {"a.dat"},
         FaultRow::Writable,
         0,
         true},
        // The one slow row: the server holds the stall for 75 s, the read fails after the
        // file's 60 s receive time-out.
        {"FileStalledPastTheReceiveTimeout",
         [] { SetRule(kSecondPath, "stall=100000 hold=75"); },
         "przerwane pobieranie",
         {"a.dat"},
         FaultRow::Writable,
         59500,
         true},
        // The server closes (after 4 s) before the 60 s time-out: no response.
        {"FileStalledBeforeTheHeaders",
         [] { SetRule(kSecondPath, "stall=headers hold=4"); },
         "blad sieci 12152",
         {"a.dat"}},

        {"ReadOnlyFolder", [] {}, "nie moge zapisac {dir}a.dat.download", {}, FaultRow::ReadOnly},
        {"SecondFileHeldByAnotherProcess",
         [] {},
         "Nie moge zapisac data/b dat.bin (plik otwarty?)",
         {"a.dat"},
         FaultRow::SecondFileHeld},
    };
    return rows;
}

class FaultMatrixPassTest : public ServerTest {
  protected:
    void TearDown() override { FinishPass(); }
};

class FaultMatrixTest : public FaultMatrixPassTest, public ::testing::WithParamInterface<size_t> {};

}  // namespace

TEST_P(FaultMatrixTest, FailsInItsPhaseWithItsMessageAndARetryCompletes) {
    const FaultRow& row = Rows()[GetParam()];
    const std::string writable = test_server::ScratchDir() + "\\" + row.name + "\\";
    LayOutOldInstallation(writable);
    InstallDir = row.folder == FaultRow::ReadOnly ? test_server::ReadOnlyScratchDir() + "\\" + row.name + "\\"
                                                  : writable;
    std::unique_ptr<FileHolder> holder;
    if (row.folder == FaultRow::SecondFileHeld) {
        holder = std::make_unique<FileHolder>(InstallDir + "data\\b dat.bin");
        ASSERT_TRUE(holder->Holding());
    }
    ServeRelease();
    row.breakServer();

    if (row.paceWindowMs) {
        TransferPace.windowMs = row.paceWindowMs;
    }
    const DWORD start = GetTickCount();
    const bool ended = RunPass(true, 150000);
    const DWORD elapsed = GetTickCount() - start;
    TransferPace = TransferPaceLimits();
    ASSERT_TRUE(ended);
    std::string detail = row.detail;
    if (detail.find("{dir}") != std::string::npos) {
        detail.replace(detail.find("{dir}"), 5, InstallDir);
    }
    Snapshot s = Read();
    EXPECT_EQ(s.phase, Failed);
    EXPECT_EQ(s.statusText, kFailed);
    EXPECT_EQ(s.errorDetail, detail);
    EXPECT_EQ(s.fileIndex, static_cast<int32_t>(row.updated.size()));
    ExpectWholeFiles(writable, row.updated, row.keptPartial);
    EXPECT_GE(elapsed, row.atLeastMs);

    // Mended: the healthy server, the writable folder, the file let go.
    if (holder) {
        ASSERT_TRUE(holder->Release());
    }
    InstallDir = writable;
    ServeRelease();
    ASSERT_TRUE(RunPass());
    s = Read();
    EXPECT_EQ(s.phase, Updated);
    EXPECT_EQ(s.statusText, std::string("Zaktualizowano do wersji ") + kVersion);
    EXPECT_EQ(s.errorDetail, "");
    EXPECT_EQ(s.fileIndex, s.fileCount);
    EXPECT_EQ(s.doneBytes, s.totalBytes);
    ExpectWholeFiles(writable, AllNames());
    // Only what the failed pass did not finish is fetched again, and of a kept file the rest.
    EXPECT_EQ(DownloadRequests().size(), 3 - row.updated.size());
    const auto requests = test_server::Requests();
    const auto ranged = std::count_if(requests.begin(), requests.end(), [](const test_server::Request& r) {
        return r.path == kSecondPath && r.headers.find("Range: bytes=") != std::string::npos;
    });
    EXPECT_EQ(ranged, row.keptPartial ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(Rows,
                         FaultMatrixTest,
                         ::testing::Range<size_t>(0, Rows().size()),
                         [](const ::testing::TestParamInfo<size_t>& info) {
                             return Rows()[info.param].name;
                         });

// What a pass killed in Downloading leaves: the temporary file of the file it was fetching,
// cut anywhere, or whole but not yet moved. The next pass truncates and replaces each one.
TEST_F(FaultMatrixPassTest, TemporaryFilesOfAKilledPassAreReplacedByTheNextPass) {
    InstallDir = test_server::ScratchDir() + "\\KilledPass\\";
    LayOutOldInstallation(InstallDir);
    const std::string a = Release()[0].newContent;
    ASSERT_TRUE(WriteText(InstallDir + "a.dat.download", a.substr(0, 65536)));  // cut at a block
    ASSERT_TRUE(
        WriteText(InstallDir + "data\\b dat.bin.download", Pattern(9, 300000)));  // longer than the file
    ASSERT_TRUE(WriteText(InstallDir + "c.txt.download", "nowy plik\n"));         // whole, not moved
    ServeRelease();
    ASSERT_TRUE(RunPass());
    const Snapshot s = Read();
    EXPECT_EQ(s.phase, Updated);
    EXPECT_EQ(s.errorDetail, "");
    EXPECT_EQ(s.fileIndex, 3);
    ExpectWholeFiles(InstallDir, AllNames());
}

// A real release: a new updater (listed on every pass, as the running one is compared, and
// sorted before the lower-case names), the bot, folders and a large file with a blank in its
// name. Its large file, cut again and again over the passes (the auto mode's retries),
// answered once with a 503 that never ends and once not reached (the updater's copy was cut),
// arrives with hardly a byte served twice: each pass asks only for the rest, and neither the
// updater's entry handled first, nor its own kept bytes, nor the error costs the kept bytes. Kept bytes that
// are wrong are caught by the digest or by their length and never continued; kept bytes of an entry that the
// next release changed are dropped before anything is fetched; a record naming a file outside the folder
// deletes nothing there.
TEST_F(FaultMatrixPassTest, ACutFileIsContinuedAcrossPassesAndWrongKeptBytesAreNot) {
    InstallDir = test_server::ScratchDir() + "\\Continued\\";
    const char kMap[] = "data/maps/world map.dat";
    const std::string mapPath = std::string("/download/") + kVersion + "/data/maps/world%20map.dat";
    const size_t mapSize = (6u << 20) + 12345;
    const std::vector<ReleaseFile> real = {
        {"Vorlane.exe", true, Pattern(11, 150000), Pattern(12, 160000)},
        {"VorlanePatcher.exe", true, Pattern(13, 300000), Pattern(14, 310000)},
        {kMap, true, Pattern(15, 5u << 20), Pattern(16, mapSize)},
        {"data/readme.txt", false, "", "Nowa wersja\n"},
    };
    std::string realText = std::string("VLR1\nversion=") + kVersion + "\nnotes=Poprawki\n";
    std::filesystem::remove_all(InstallDir);
    std::filesystem::create_directories(InstallDir + "data\\maps");
    for (const ReleaseFile& f : real) {
        realText += "file=" + f.name + "|" + std::to_string(f.newContent.size()) + "|" +
                    Sha256Hex(f.newContent) + "|0\n";
        test_server::PutFile(std::string("download/") + kVersion + "/" + f.name, f.newContent);
        ASSERT_TRUE(
            WriteText(InstallDir + std::filesystem::path(f.name).make_preferred().string(), f.oldContent));
    }
    std::filesystem::remove(InstallDir + "data\\readme.txt");
    test_server::ServeSignedManifest(realText);
    const std::string kept = InstallDir + "data\\maps\\world map.dat.download";
    const std::string map = real[2].newContent;
    // The server's count of the body bytes it sent for the map, once every answer so far is
    // logged (an answer is logged when it ends).
    const auto served = [&] {
        const auto answers = [&] {
            const std::string log = ReadText(test_server::StateDir() + "\\sent.log");
            size_t count = 0;
            for (size_t at = log.find(mapPath + " "); at != std::string::npos;
                 at = log.find(mapPath + " ", at + 1)) {
                ++count;
            }
            return count;
        };
        const auto requests = test_server::Requests();
        const auto asked = static_cast<size_t>(
            std::count_if(requests.begin(), requests.end(),
                          [&](const test_server::Request& r) { return r.path == mapPath; }));
        EXPECT_TRUE(WaitFor([&] { return answers() >= asked; }, 10000));
        return test_server::SentBytes(mapPath);
    };
    // Three cuts, one a pass, and between them a 503 whose body never ends and a pass whose
    // cut comes in the updater's copy, before the map is reached: both kept files stay.
    const std::string patcherPath = std::string("/download/") + kVersion + "/VorlanePatcher.exe";
    const struct {
        std::string target;
        std::string rule;
        std::string detail;
        size_t keptAfter;
    } passes[] = {
        {mapPath, "cutat=1500000", "przerwane pobieranie", 1500000},
        {mapPath, "cutat=3000000", "przerwane pobieranie", 3000000},
        {mapPath, "status=503 endless=1", "HTTP 503 przy data/maps/world map.dat", 3000000},
        {patcherPath, "cutat=100000", "przerwane pobieranie", 3000000},
        {mapPath, "cutat=4500000", "przerwane pobieranie", 4500000},
    };
    uint64_t fileBytes = 0;  // served as the file: all but the 503's body
    for (const auto& pass : passes) {
        const uint64_t before = served();
        SetRule(mapPath, "status=200");
        SetRule(patcherPath, "status=200");
        SetRule(pass.target, pass.rule);
        ASSERT_TRUE(RunPass());
        EXPECT_EQ(Read().phase, Failed) << pass.rule;
        EXPECT_EQ(Read().errorDetail, pass.detail) << pass.rule;
        const std::string bytes = ReadText(kept);
        EXPECT_EQ(bytes.size(), pass.keptAfter) << pass.rule;
        EXPECT_TRUE(map.compare(0, bytes.size(), bytes) == 0) << pass.rule;
        const std::string records = ReadText(InstallDir + kPartialRecord);
        EXPECT_NE(records.find("\nname=data/maps/world map.dat\n"), std::string::npos) << records;
        EXPECT_EQ(records.find("\nname=VorlanePatcher.exe\n") != std::string::npos,
                  pass.target == patcherPath);
        const uint64_t sent = served() - before;
        if (pass.rule.rfind("status=503", 0) == 0) {
            EXPECT_LT(sent, 16u << 20) << "the 503's body was read on";  // it would send 256 MiB
        } else {
            fileBytes += sent;
        }
    }
    SetRule(mapPath, "status=200");
    const uint64_t before = served();
    ASSERT_TRUE(RunPass());
    EXPECT_EQ(Read().phase, Updated) << Read().errorDetail;
    fileBytes += served() - before;
    std::map<std::string, std::string> installed;
    for (const ReleaseFile& f : real) {
        installed[f.name] = f.newContent;
    }
    installed["VorlanePatcher.exe"] = real[1].oldContent;  // the running one is never written
    installed[kStagedUpdater] = real[1].newContent;
    ExpectFolderHolds(InstallDir, installed);
    const auto requests = test_server::Requests();
    EXPECT_EQ(std::count_if(requests.begin(), requests.end(),
                            [&](const test_server::Request& r) {
                                return r.path == mapPath &&
                                       r.headers.find("Range: bytes=") != std::string::npos;
                            }),
              4);
    std::printf("%s: %zu bytes, %llu served as the file over six passes\n", kMap, mapSize,
                static_cast<unsigned long long>(fileBytes));
    EXPECT_GE(fileBytes, mapSize);
    EXPECT_LE(fileBytes, mapSize + mapSize / 20);

    // Kept bytes that are not the file's: the digest refuses the whole, the next pass starts over.
    const size_t size = Release()[1].newContent.size();
    LayOutOldInstallation(InstallDir);
    ServeRelease();
    SetRule(kSecondPath, "cutat=100000");
    ASSERT_TRUE(RunPass());
    EXPECT_EQ(Read().errorDetail, "przerwane pobieranie");
    ASSERT_TRUE(WriteText(InstallDir + kSecondPartial, Pattern(9, 100000)));
    ASSERT_TRUE(RunPass());
    EXPECT_EQ(Read().errorDetail, "Plik data/b dat.bin jest uszkodzony (zla suma kontrolna)");
    ExpectWholeFiles(InstallDir, {"a.dat"});  // nothing kept
    ClearRequestLog();
    ASSERT_TRUE(RunPass());
    EXPECT_EQ(Read().phase, Updated) << Read().errorDetail;
    ExpectWholeFiles(InstallDir, AllNames());
    for (const auto& request : test_server::Requests()) {
        EXPECT_EQ(request.headers.find("Range:"), std::string::npos) << request.path;  // the file whole
    }
    EXPECT_TRUE(WaitFor([&] { return test_server::SentBytes(kSecondPath) == 100000 + 100000 + size; }, 5000))
        << test_server::SentBytes(kSecondPath);

    // The next release changes the file: its kept bytes go, the new file comes whole.
    LayOutOldInstallation(InstallDir);
    ServeRelease();
    SetRule(kSecondPath, "cutat=120000");  // other rules than before: the server counts afresh
    ASSERT_TRUE(RunPass());
    ASSERT_TRUE(std::filesystem::exists(InstallDir + kSecondPartial));
    const std::string changed = Pattern(6, 200000);
    test_server::PutFile(std::string("download/") + kVersion + "/" + kSecond, changed);
    std::string text = ManifestText();
    text.replace(text.find(Sha256Hex(Release()[1].newContent)), 64, Sha256Hex(changed));
    test_server::ServeSignedManifest(text);
    SetRule(kSecondPath, "status=200");
    ClearRequestLog();
    ASSERT_TRUE(RunPass());
    EXPECT_EQ(Read().phase, Updated) << Read().errorDetail;
    EXPECT_TRUE(ReadText(InstallDir + "data\\b dat.bin") == changed);
    EXPECT_FALSE(std::filesystem::exists(InstallDir + kSecondPartial));
    EXPECT_FALSE(std::filesystem::exists(InstallDir + kPartialRecord));
    for (const auto& request : test_server::Requests()) {
        EXPECT_EQ(request.headers.find("Range:"), std::string::npos) << request.path;
    }

    // Kept bytes of another length than recorded (a pass killed while it appended to them):
    // dropped, the file comes whole.
    LayOutOldInstallation(InstallDir);
    ServeRelease();
    SetRule(kSecondPath, "cutat=80000");
    ASSERT_TRUE(RunPass());
    ASSERT_EQ(ReadText(InstallDir + kSecondPartial).size(), 80000u);
    ASSERT_TRUE(WriteText(InstallDir + kSecondPartial, Release()[1].newContent.substr(0, 110000)));
    SetRule(kSecondPath, "status=200");
    ClearRequestLog();
    ASSERT_TRUE(RunPass());
    EXPECT_EQ(Read().phase, Updated) << Read().errorDetail;
    ExpectWholeFiles(InstallDir, AllNames());
    for (const auto& request : test_server::Requests()) {
        EXPECT_EQ(request.headers.find("Range:"), std::string::npos) << request.path;
    }

    // A record whose name leads out of the folder (it is a file, not a signed manifest): it
    // goes, the file it names stays.
    const std::string outside = test_server::ScratchDir() + "\\outside.bin.download";
    ASSERT_TRUE(WriteText(outside, "12345"));
    ASSERT_TRUE(WriteText(InstallDir + kPartialRecord,
                          "VLPART2\nname=../outside.bin\nsize=10\nsha256=" + std::string(64, 'a') +
                              "\nbytes=5\nvalidator=\"x\"\nsource=https://upd.vorlane.test\n"));
    ASSERT_TRUE(RunPass());
    EXPECT_EQ(Read().phase, UpToDate) << Read().errorDetail;
    EXPECT_EQ(ReadText(outside), "12345");
    ExpectWholeFiles(InstallDir, AllNames());
}

// A valid manifest of a thousand files in ten folders, fetched one request each. A fault at
// the 651st stops the pass there with 650 whole files in place; the retry fetches the rest,
// and a third pass hashes all thousand and finds them current.
TEST_F(FaultMatrixPassTest, AThousandFileReleaseStopsAtItsFaultAndIsCompletedByTheRetry) {
    InstallDir = test_server::ScratchDir() + "\\Thousand\\";
    std::filesystem::create_directories(InstallDir);
    std::map<std::string, std::string> release;
    std::string text = std::string("VLR1\nversion=") + kVersion + "\nnotes=Tysiac plikow\n";
    std::vector<std::string> names;
    for (int i = 0; i < 1000; ++i) {
        char name[32];
        std::snprintf(name, sizeof(name), "data/%d/f%04d.bin", i / 100, i);
        const std::string content = Pattern(i, 100 + i % 57);
        release[name] = content;
        names.push_back(name);
        text += std::string("file=") + name + "|" + std::to_string(content.size()) + "|" +
                Sha256Hex(content) + "|0\n";
        test_server::PutFile(std::string("download/") + kVersion + "/" + name, content);
    }
    test_server::ServeSignedManifest(text);
    test_server::SetRule(std::string("/download/") + kVersion + "/data/6/f0650.bin", "status=404");

    DWORD start = GetTickCount();
    ASSERT_TRUE(RunPass(true, 600000));
    const DWORD failedMs = GetTickCount() - start;
    Snapshot s = Read();
    EXPECT_EQ(s.phase, Failed);
    EXPECT_EQ(s.errorDetail, "HTTP 404 przy data/6/f0650.bin");
    EXPECT_EQ(s.fileCount, 1000);
    EXPECT_EQ(s.fileIndex, 650);
    std::map<std::string, std::string> first(release.begin(), release.find(names[650]));
    ExpectFolderHolds(InstallDir, first);

    test_server::SetRule(std::string("/download/") + kVersion + "/data/6/f0650.bin", "status=200");
    ClearRequestLog();
    start = GetTickCount();
    ASSERT_TRUE(RunPass(true, 600000));
    const DWORD retryMs = GetTickCount() - start;
    s = Read();
    EXPECT_EQ(s.phase, Updated);
    EXPECT_EQ(s.fileCount, 350);
    EXPECT_EQ(s.fileIndex, 350);
    EXPECT_EQ(DownloadRequests().size(), 350u);
    ExpectFolderHolds(InstallDir, release);

    start = GetTickCount();
    ASSERT_TRUE(RunPass(false, 600000));
    const DWORD checkMs = GetTickCount() - start;
    EXPECT_EQ(Read().phase, UpToDate);
    std::printf("thousand files: 650 fetched and failed in %lu ms, 350 in %lu ms, all checked in %lu ms\n",
                static_cast<unsigned long>(failedMs), static_cast<unsigned long>(retryMs),
                static_cast<unsigned long>(checkMs));
}

// A server that serves an older signed manifest again, one without the serial, or one past
// its expiry: the pass fails in Checking with the reason, before any file is read, fetched or
// written. The installation took the release for years without serials, then its first serial;
// the serial is recorded when the manifest is accepted, so a pass that fails later keeps it,
// and a damaged record does not lock the installation out.
TEST_F(FaultMatrixPassTest, OlderAndExpiredManifestsAreRefusedWithoutTouchingAFile) {
    InstallDir = test_server::ScratchDir() + "\\Guard\\";
    LayOutOldInstallation(InstallDir);
    const std::string record = InstallDir + kSerialRecordName;
    const int64_t now = UnixTimeSeconds();
    auto withRecords = [](const std::string& records, const std::string& text) {
        return "VLR1\n" + records + text.substr(5);
    };
    std::map<std::string, std::string> installed;
    for (const ReleaseFile& f : Release()) {
        installed[f.name] = f.newContent;
    }
    auto expectPass = [&](const std::string& text, int32_t phase, const std::string& detail,
                          const std::string& recorded) {
        test_server::ServeSignedManifest(text);
        ClearRequestLog();
        ASSERT_TRUE(RunPass());
        const Snapshot s = Read();
        EXPECT_EQ(s.phase, phase) << text.substr(0, 80);
        EXPECT_EQ(s.errorDetail, detail);
        std::map<std::string, std::string> expected = installed;
        if (!recorded.empty()) {
            expected[kSerialRecordName] = recorded;
        }
        ExpectFolderHolds(InstallDir, expected);
        if (phase == Failed) {
            EXPECT_EQ(DownloadRequests().size(), 0u);
        }
    };

    // Years without a serial: as before, and nothing is recorded.
    ServeRelease();
    ASSERT_TRUE(RunPass());
    EXPECT_EQ(Read().phase, Updated);
    ExpectFolderHolds(InstallDir, installed);
    // The first manifest with a serial is taken and its serial recorded.
    const std::string current = withRecords("serial=2000\n", ManifestText());
    expectPass(current, UpToDate, "", "2000 2000\n");

    // The release before, replayed with its own (lower) serial: its files are on the server,
    // and taking it would put every old file back.
    std::string older = "VLR1\nserial=1000\nversion=3.0.9\n";
    for (const ReleaseFile& f : Release()) {
        test_server::PutFile("download/3.0.9/" + f.name, f.oldContent);
        older += "file=" + f.name + "|" + std::to_string(f.oldContent.size()) + "|" +
                 Sha256Hex(f.oldContent) + "|0\n";
    }
    expectPass(
        older, Failed,
        "Serwer aktualizacji: manifest starszy niz juz przyjety (numer wydania 1000, przyjety byl 2000)",
        "2000 2000\n");
    expectPass(ManifestText(), Failed,
               "Serwer aktualizacji: manifest bez numeru wydania (przyjety byl juz numer 2000)",
               "2000 2000\n");
    // Expired two days ago, beyond the day allowed for clocks; an hour ago is still taken.
    const std::string expired =
        withRecords("serial=3000\nexpires=" + FormatUtcTimestamp(now - 2 * 86400) + "\n", ManifestText());
    expectPass(expired, Failed,
               "Serwer aktualizacji: manifest wygasl (byl wazny do " +
                   FormatUtcTimestamp(now - 2 * 86400).replace(10, 1, " ").replace(19, 1, " ") + "UTC)",
               "2000 2000\n");
    expectPass(withRecords("serial=3000\nexpires=" + FormatUtcTimestamp(now - 3600) + "\n", ManifestText()),
               UpToDate, "", "3000 3000\n");

    // Accepted, then failed on a file: the serial stays recorded, so the replay of 3000 is refused.
    const std::string next = withRecords("serial=4000\n", "VLR1\n" + older.substr(older.find("version=")));
    test_server::SetRule("/download/3.0.9/a.dat", "status=404");
    test_server::ServeSignedManifest(next);
    ASSERT_TRUE(RunPass());
    EXPECT_EQ(Read().errorDetail, "HTTP 404 przy a.dat");
    EXPECT_EQ(ReadText(record), "4000 4000\n");
    expectPass(
        current, Failed,
        "Serwer aktualizacji: manifest starszy niz juz przyjety (numer wydania 2000, przyjety byl 4000)",
        "4000 4000\n");
    // A damaged record (it would lock out every later serial if it were read as 9999) counts as none.
    ASSERT_TRUE(WriteText(record, "9999 9990\n"));
    expectPass(current, UpToDate, "", "2000 2000\n");

    // Signed on a clock a year fast: taken, but the updater keeps its own clock, so the next
    // release, signed with a true clock after that pass, installs.
    const int64_t year = 365 * 86400;
    auto kept = [&] { return ParseSerialRecord(ReadText(record)); };
    auto olderSignedAt = [&](int64_t serial) {
        return "VLR1\nserial=" + std::to_string(serial) + older.substr(older.find("\nversion="));
    };
    test_server::SetRule("/download/3.0.9/a.dat", "status=200");
    const int64_t fastFrom = UnixTimeSeconds();
    test_server::ServeSignedManifest(withRecords("serial=" + std::to_string(fastFrom + year) + "\n", ManifestText()));
    ASSERT_TRUE(RunPass());
    EXPECT_EQ(Read().phase, UpToDate);
    EXPECT_TRUE(kept().known);
    EXPECT_GE(kept().serial, fastFrom);
    EXPECT_LE(kept().serial, UnixTimeSeconds());
    const int64_t today = UnixTimeSeconds();
    test_server::ServeSignedManifest(olderSignedAt(today));
    ASSERT_TRUE(RunPass());
    EXPECT_EQ(Read().phase, Updated) << Read().errorDetail;
    EXPECT_EQ(ReadText(InstallDir + "a.dat"), Release()[0].oldContent);
    EXPECT_EQ(ReadText(record), FormatSerialRecord(today));

    // A record kept a year ahead by an older updater counts as the moment it was written: the
    // release before stays refused, one signed after it installs and is kept.
    ASSERT_TRUE(WriteText(record, FormatSerialRecord(UnixTimeSeconds() + year)));
    test_server::ServeSignedManifest(olderSignedAt(today - 3600));
    ASSERT_TRUE(RunPass());
    EXPECT_EQ(Read().errorDetail.rfind("Serwer aktualizacji: manifest starszy niz juz przyjety (numer wydania " +
                                           std::to_string(today - 3600) + ", przyjety byl ",
                                       0),
              0u)
        << Read().errorDetail;
    const int64_t later = UnixTimeSeconds() + 1;
    test_server::ServeSignedManifest(withRecords("serial=" + std::to_string(later) + "\n", ManifestText()));
    SleepMs(1100);
    ASSERT_TRUE(RunPass());
    EXPECT_EQ(Read().phase, Updated) << Read().errorDetail;
    EXPECT_EQ(ReadText(record), FormatSerialRecord(later));

    // A record held by a scanner through a whole pass: the pass goes on, the failure is in the
    // log, the serial still counts for the rest of the run, and the next pass writes it.
    OpenSupportLog();
    SleepMs(1100);
    const int64_t held = UnixTimeSeconds();
    {
        FileHolder scanner(record);
        ASSERT_TRUE(scanner.Holding());
        test_server::ServeSignedManifest(olderSignedAt(held));
        ASSERT_TRUE(RunPass());
        EXPECT_EQ(Read().phase, Updated) << Read().errorDetail;
        EXPECT_EQ(ReadText(record), FormatSerialRecord(later));
        test_server::ServeSignedManifest(withRecords("serial=" + std::to_string(later) + "\n", ManifestText()));
        ASSERT_TRUE(RunPass());
        EXPECT_EQ(Read().errorDetail, "Serwer aktualizacji: manifest starszy niz juz przyjety (numer wydania " +
                                          std::to_string(later) + ", przyjety byl " + std::to_string(held) + ")");
    }
    test_server::ServeSignedManifest(olderSignedAt(held));
    ASSERT_TRUE(RunPass());
    EXPECT_EQ(Read().phase, UpToDate) << Read().errorDetail;
    EXPECT_EQ(ReadText(record), FormatSerialRecord(held));
    const std::string log = ReadText(InstallDir + kLogFileName);
    const std::string failed = "numer_wydania numer=" + std::to_string(held) + " zapisany=nie";
    EXPECT_NE(log.find(failed), std::string::npos) << log;
    EXPECT_LT(log.find(failed), log.find("numer_wydania numer=" + std::to_string(held) + " zapisany=tak")) << log;
    // The log goes off again: no later test writes into this folder.
    InstallDir = test_server::ScratchDir() + "\\no such folder\\";
    OpenSupportLog();
}
