// DownloadReleaseFile against the local server: request paths, progress, the temporary
// file on every outcome.
#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "net/file_digest.h"
#include "net/file_download.h"
#include "net/transfer_pace.h"
#include "test_server.h"
#include "tests/win/test_bot.h"

namespace {

std::string Pattern(size_t size) {
    std::string data(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        data[i] = static_cast<char>((i * 13 + i / 509) & 0xFF);
    }
    return data;
}

bool Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

struct Download {
    bool ok = false;
    std::string error = "untouched";
    std::vector<uint64_t> progress;
};

// One download of a file the manifest declares with `size` bytes; `partial` (when given) is
// what an earlier attempt kept, and afterwards what this one kept.
Download Get(const std::string& version,
             const std::string& name,
             const std::string& tempPath,
             int64_t size,
             PartialDownload* partial = nullptr) {
    ReleaseManifest manifest;
    manifest.version = version;
    ManifestFile file;
    file.name = name;
    file.size = size;
    Download d;
    const DownloadProgress progress = [&d](uint64_t done) { d.progress.push_back(done); };
    d.ok = partial ? DownloadReleaseFile(manifest, file, tempPath, progress, *partial, d.error)
                   : DownloadReleaseFile(manifest, file, tempPath, progress, d.error);
    return d;
}

std::string Temp(const std::string& name) {
    return test_server::ScratchDir() + "\\" + name + ".download";
}

}  // namespace

using DownloadTest = ServerTest;

TEST_F(DownloadTest, RequestsEncodedNamesUnderTheVersion) {
    test_server::PutFile("download/1.4.2/my file.txt", "blank");
    test_server::PutFile("download/1.4.2/a~b", "tilde");
    // Wine writes names as UTF-8, the server decodes %E9 to the byte 0xE9: serve it by rule.
    test_server::PutFile("e-acute.txt", "e acute");
    test_server::SetRule("/download/1.4.2/caf%E9.txt", "file=e-acute.txt");
    test_server::PutFile("download/1.4.2/sub/dir/x.dll", "nested");

    const struct {
        std::string name;
        std::string path;
        std::string body;
    } cases[] = {
        {"my file.txt", "/download/1.4.2/my%20file.txt", "blank"},
        {"a~b", "/download/1.4.2/a%7Eb", "tilde"},
        {"caf\xE9.txt", "/download/1.4.2/caf%E9.txt", "e acute"},
        {"sub/dir/x.dll", "/download/1.4.2/sub/dir/x.dll", "nested"},
    };
    for (const auto& c : cases) {
        const std::string temp = Temp("named");
        const Download d = Get("1.4.2", c.name, temp, static_cast<int64_t>(c.body.size()));
        EXPECT_TRUE(d.ok) << c.name << ": " << d.error;
        EXPECT_EQ(d.error, "untouched");
        EXPECT_EQ(ReadAll(temp), c.body) << c.name;
    }
    const auto requests = test_server::Requests();
    ASSERT_EQ(requests.size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(requests[i].path, cases[i].path);
        EXPECT_EQ(requests[i].headers.find("Content-Type"), std::string::npos);
        EXPECT_EQ(requests[i].body, "");
    }
}

// The server sends the body in pieces of 64 KiB with pauses, so that each read returns one
// full block: progress is then reported once per block with the running total.
TEST_F(DownloadTest, ReportsTheRunningTotalAfterEachBlock) {
    const std::string data = Pattern(65536 + 65536 + 100);
    test_server::PutFile("download/3.0/three.bin", data);
    test_server::SetRule("/download/3.0/three.bin", "trickle=65536:300");
    const std::string temp = Temp("three");
    const Download d = Get("3.0", "three.bin", temp, static_cast<int64_t>(data.size()));
    ASSERT_TRUE(d.ok) << d.error;
    EXPECT_EQ(d.progress, (std::vector<uint64_t>{65536, 131072, 131172}));
    EXPECT_TRUE(ReadAll(temp) == data);
}

TEST_F(DownloadTest, AnEmptyBodyGivesAnEmptyFileAndNoProgress) {
    test_server::PutFile("download/3.0/empty.dat", "");
    const std::string temp = Temp("empty");
    const Download d = Get("3.0", "empty.dat", temp, 0);
    EXPECT_TRUE(d.ok) << d.error;
    EXPECT_TRUE(d.progress.empty());
    ASSERT_TRUE(Exists(temp));
    EXPECT_EQ(ReadAll(temp), "");
}

// The body of any other answer is not the file: nothing of it is written (not even of a 500
// whose body never ends), and a leftover temporary file goes too.
TEST_F(DownloadTest, AnotherStatusNamesTheFileAndLeavesNoFile) {
    test_server::PutFile("download/3.0/gone file.bin", "error page the sink wrote to the file");
    test_server::SetRule("/download/3.0/gone%20file.bin", "status=404");
    test_server::SetRule("/download/3.0/broken.bin", "status=500");
    test_server::SetRule("/download/3.0/none.bin", "status=204");
    test_server::SetRule("/download/3.0/endless.bin", "status=500 endless=1");
    const struct {
        std::string name;
        std::string error;
    } cases[] = {
        {"gone file.bin", "HTTP 404 przy gone file.bin"},
        {"broken.bin", "HTTP 500 przy broken.bin"},
        {"none.bin", "HTTP 204 przy none.bin"},
        {"endless.bin", "HTTP 500 przy endless.bin"},
    };
    for (const auto& c : cases) {
        const std::string temp = Temp("status");
        ASSERT_TRUE(testbot::WriteText(temp, "left by a killed pass"));
        const Download d = Get("3.0", c.name, temp, 1 << 20);
        EXPECT_FALSE(d.ok) << c.name;
        EXPECT_EQ(d.error, c.error);
        EXPECT_TRUE(d.progress.empty()) << c.name << ": " << d.progress.back() << " bytes written";
        EXPECT_FALSE(Exists(temp)) << c.name;
    }
    // The endless body was not read on: far from the 256 MiB the server would send.
    EXPECT_TRUE(
        testbot::WaitFor([] { return test_server::SentBytes("/download/3.0/endless.bin") > 0; }, 5000));
    EXPECT_LT(test_server::SentBytes("/download/3.0/endless.bin"), 16u << 20);
}

TEST_F(DownloadTest, AnUnwritableTemporaryPathSendsNoRequest) {
    test_server::PutFile("download/3.0/a.bin", "data");
    const std::string temp = test_server::ScratchDir() + "\\no such dir\\a.bin.download";
    const Download d = Get("3.0", "a.bin", temp, 4);
    EXPECT_FALSE(d.ok);
    EXPECT_EQ(d.error, "nie moge zapisac " + temp);
    EXPECT_TRUE(test_server::Requests().empty());
}

// A full disk is the disk's failure, not the server's: the message names the temporary
// file (where the plain reading of the status would blame "HTTP 200").
TEST_F(DownloadTest, AFailedWriteIsReportedAsSuchAndLeavesNoFile) {
    test_server::PutFile("download/3.0/large.bin", Pattern(400000));
    const std::string temp = test_server::FullDiskDir() + "\\large.bin.download";
    const Download d = Get("3.0", "large.bin", temp, 400000);
    EXPECT_FALSE(d.ok);
    EXPECT_EQ(d.error, "nie moge zapisac " + temp);
    EXPECT_FALSE(Exists(temp));
    EXPECT_LT(d.progress.size(), 7u);  // the transfer stopped once the stream failed
}

TEST_F(DownloadTest, TransportFailuresKeepTheClientsTextAndLeaveNoFile) {
    test_server::PutFile("download/3.0/a.bin", Pattern(300000));
    const std::string temp = Temp("transport");

    test_server::SetTls("untrusted");
    Download d = Get("3.0", "a.bin", temp, 300000);
    EXPECT_FALSE(d.ok);
    EXPECT_EQ(d.error, "blad sieci 12157");
    EXPECT_FALSE(Exists(temp));  // it had been created empty before the request

    test_server::SetTls("good");
    test_server::SetRule("/download/3.0/a.bin", "garbage=100000");
    d = Get("3.0", "a.bin", temp, 300000);
    EXPECT_FALSE(d.ok);
    EXPECT_EQ(d.error, "przerwane pobieranie");
    EXPECT_FALSE(d.progress.empty());
    EXPECT_FALSE(Exists(temp));
}

// A body that passes the manifest's size is stopped at once, never fills the disk: a server
// that never ends, and one whose file is longer than declared.
TEST_F(DownloadTest, ABodyPastTheDeclaredSizeIsStoppedAndLeavesNoFile) {
    const std::string data = Pattern(200000);
    test_server::PutFile("download/3.0/endless.bin", data);
    test_server::SetRule("/download/3.0/endless.bin", "endless=1");
    test_server::PutFile("download/3.0/longer.bin", data + "x");
    // The rest of kept bytes is stopped at the size as well: 80,000 bytes were kept, and the
    // answer to the range (206, the right Content-Range) goes on past the file's end.
    test_server::PutFile("download/3.0/endless rest.bin", data);
    test_server::SetRule("/download/3.0/endless%20rest.bin", "cutat=80000");
    PartialDownload kept;
    Download d = Get("3.0", "endless rest.bin", Temp("endless rest.bin"), 200000, &kept);
    ASSERT_EQ(kept.bytes, 80000u) << d.error;
    test_server::SetRule("/download/3.0/endless%20rest.bin", "endless=1");
    for (const std::string name : {"endless.bin", "longer.bin", "endless rest.bin"}) {
        const std::string temp = Temp(name);
        PartialDownload partial = name == "endless rest.bin" ? kept : PartialDownload();
        d = Get("3.0", name, temp, 200000, &partial);
        EXPECT_FALSE(d.ok) << name;
        EXPECT_EQ(d.error, "Plik " + name + " jest wiekszy niz podaje manifest");
        ASSERT_FALSE(d.progress.empty());
        EXPECT_LE(d.progress.back(), 200000u);
        EXPECT_EQ(partial.bytes, 0u);
        EXPECT_FALSE(Exists(temp)) << name;
    }
    const auto requests = test_server::Requests();
    EXPECT_NE(requests.back().headers.find("Range: bytes=80000-"), std::string::npos);
    // The server stopped sending soon after: far from the 256 MiB it would send.
    for (const char* path : {"/download/3.0/endless.bin", "/download/3.0/endless%20rest.bin"}) {
        EXPECT_TRUE(testbot::WaitFor([&] { return test_server::SentBytes(path) > 80000; }, 5000)) << path;
        EXPECT_LT(test_server::SentBytes(path), 16u << 20) << path;
    }
}

// A transfer whose progress stays below the floor is ended, whether its bytes come one by
// one or not at all between blocks; a slow one above the floor completes unless it passes
// the bound on its length. The limits are shortened here; the fault matrix has the real-time
// run of the floor, transfer_rules_test the bound on a driven clock.
TEST_F(DownloadTest, ATrickleIsEndedAndASlowTransferCompletes) {
    const TransferPaceLimits saved = TransferPace;
    TransferPace.windowMs = 2000;
    TransferPace.floorBytes = 8192;
    // 30 bytes, one each 400 ms: without the rule the whole file would arrive after 12 s.
    test_server::PutFile("download/3.0/trickle.bin", Pattern(30));
    test_server::SetRule("/download/3.0/trickle.bin", "trickle=1:400");
    const std::string temp = Temp("slow");
    const DWORD start = GetTickCount();
    Download d = Get("3.0", "trickle.bin", temp, 30);
    const DWORD elapsed = GetTickCount() - start;
    EXPECT_FALSE(d.ok);
    EXPECT_EQ(d.error, "przerwane pobieranie (serwer wysyla dane zbyt wolno)");
    EXPECT_GE(elapsed, 1900u);
    EXPECT_LT(elapsed, 8000u);
    EXPECT_FALSE(Exists(temp));

    const std::string data = Pattern(100000);
    test_server::PutFile("download/3.0/slow.bin", data);
    test_server::SetRule("/download/3.0/slow.bin", "trickle=5000:250");  // 20 KB/s
    d = Get("3.0", "slow.bin", temp, 100000);
    EXPECT_TRUE(d.ok) << d.error;
    EXPECT_TRUE(ReadAll(temp) == data);

    // The same transfer under a bound it cannot keep (100,000 bytes at 50 KB/s plus 1 s: 3 s)
    // is ended by it, though it keeps the floor; what arrived is kept for the next attempt.
    TransferPace.averageFloorBytesPerSecond = 50000;
    TransferPace.allowanceMs = 1000;
    PartialDownload partial;
    const DWORD boundStart = GetTickCount();
    d = Get("3.0", "slow.bin", temp, 100000, &partial);
    const DWORD boundElapsed = GetTickCount() - boundStart;
    TransferPace = saved;
    EXPECT_FALSE(d.ok);
    EXPECT_EQ(d.error, "przerwane pobieranie (serwer wysyla dane zbyt wolno)");
    EXPECT_GE(boundElapsed, 2900u);
    EXPECT_LT(boundElapsed, 4900u);
    EXPECT_GT(partial.bytes, 0u);
    EXPECT_LT(partial.bytes, 100000u);
}

// What an early end keeps, and when it is continued: only the exact rest under the same
// validator is appended; a server that ignores the range, or whose file changed, gives
// the whole file, which replaces the kept bytes.
TEST_F(DownloadTest, AnEarlyEndKeepsItsBytesAndOnlyTheExactRestIsAppended) {
    const std::string data = Pattern(300000);
    const std::string path = "/download/3.0/cut.bin";
    test_server::PutFile("download/3.0/cut.bin", data);
    const std::string temp = Temp("cut");
    const auto cutAt = [&](size_t offset) {
        test_server::SetRule(path, "cutat=" + std::to_string(offset));
        PartialDownload partial;
        const Download d = Get("3.0", "cut.bin", temp, 300000, &partial);
        // Wine reads the closed connection as the end; the size shows it was not.
        EXPECT_FALSE(d.ok);
        EXPECT_EQ(d.error, "przerwane pobieranie");
        EXPECT_EQ(partial.bytes, offset);
        EXPECT_EQ(partial.validator.front(), '"');  // the strong ETag
        EXPECT_TRUE(ReadAll(temp) == data.substr(0, offset));
        return partial;
    };

    PartialDownload partial = cutAt(100000);
    test_server::SetRule(path, "status=200");
    Download d = Get("3.0", "cut.bin", temp, 300000, &partial);
    ASSERT_TRUE(d.ok) << d.error;
    EXPECT_TRUE(ReadAll(temp) == data);
    ASSERT_FALSE(d.progress.empty());
    EXPECT_GT(d.progress.front(), 100000u);  // counted from the kept bytes on
    auto requests = test_server::Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_NE(requests[1].headers.find("Range: bytes=100000-"), std::string::npos) << requests[1].headers;
    EXPECT_NE(requests[1].headers.find("If-Range: " + partial.validator), std::string::npos);
    EXPECT_TRUE(testbot::WaitFor([&] { return test_server::SentBytes(path) == 300000u; }, 5000))
        << test_server::SentBytes(path);

    // The whole file instead of the rest: written from the start, not after the kept bytes.
    partial = cutAt(150000);
    test_server::SetRule(path, "ranges=ignore");
    d = Get("3.0", "cut.bin", temp, 300000, &partial);
    ASSERT_TRUE(d.ok) << d.error;
    EXPECT_TRUE(ReadAll(temp) == data);

    // Replaced on the server (same size): the validator no longer matches, the new file comes whole.
    partial = cutAt(200000);
    const std::string replaced = Pattern(300001).substr(1);
    test_server::PutFile("download/3.0/cut.bin", replaced);
    test_server::SetRule(path, "status=200");
    d = Get("3.0", "cut.bin", temp, 300000, &partial);
    ASSERT_TRUE(d.ok) << d.error;
    EXPECT_TRUE(ReadAll(temp) == replaced);

    // No answer at all while continuing: the kept bytes stay as they were.
    test_server::PutFile("download/3.0/cut.bin", data);
    partial = cutAt(50000);
    test_server::SetTls("untrusted");
    const PartialDownload before = partial;
    d = Get("3.0", "cut.bin", temp, 300000, &partial);
    EXPECT_FALSE(d.ok);
    EXPECT_EQ(partial.bytes, before.bytes);
    EXPECT_EQ(partial.validator, before.validator);
    EXPECT_TRUE(ReadAll(temp) == data.substr(0, 50000));

    // An error status while continuing (a 503 whose body never ends, a 404): nothing of its
    // body is written and the kept bytes stay for a later attempt.
    test_server::SetTls("good");
    for (const char* rule : {"status=503 endless=1", "status=404"}) {
        test_server::SetRule(path, rule);
        d = Get("3.0", "cut.bin", temp, 300000, &partial);
        EXPECT_FALSE(d.ok) << rule;
        EXPECT_EQ(d.error, std::string("HTTP ") + (rule[7] == '5' ? "503" : "404") + " przy cut.bin");
        EXPECT_TRUE(d.progress.empty()) << rule;
        EXPECT_EQ(partial.bytes, before.bytes) << rule;
        EXPECT_EQ(partial.validator, before.validator) << rule;
        EXPECT_TRUE(ReadAll(temp) == data.substr(0, 50000)) << rule;
    }

    // Without a partial to continue (the plain call), an early end keeps nothing.
    test_server::SetTls("good");
    test_server::SetRule(path, "cutat=120000");
    d = Get("3.0", "cut.bin", temp, 300000);
    EXPECT_FALSE(d.ok);
    EXPECT_FALSE(Exists(temp));
}
