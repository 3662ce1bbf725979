// DownloadReleaseFile against the local server: request paths, progress, the temporary
// file on every outcome.
#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "net/file_digest.h"
#include "net/file_download.h"
#include "test_server.h"

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

Download Get(const std::string& version, const std::string& name, const std::string& tempPath) {
    ReleaseManifest manifest;
    manifest.version = version;
    ManifestFile file;
    file.name = name;
    Download d;
    d.ok = DownloadReleaseFile(
        manifest, file, tempPath, [&d](uint64_t done) { d.progress.push_back(done); }, d.error);
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
        const Download d = Get("1.4.2", c.name, temp);
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
    const Download d = Get("3.0", "three.bin", temp);
    ASSERT_TRUE(d.ok) << d.error;
    EXPECT_EQ(d.progress, (std::vector<uint64_t>{65536, 131072, 131172}));
    EXPECT_TRUE(ReadAll(temp) == data);
}

TEST_F(DownloadTest, AnEmptyBodyGivesAnEmptyFileAndNoProgress) {
    test_server::PutFile("download/3.0/empty.dat", "");
    const std::string temp = Temp("empty");
    const Download d = Get("3.0", "empty.dat", temp);
    EXPECT_TRUE(d.ok) << d.error;
    EXPECT_TRUE(d.progress.empty());
    ASSERT_TRUE(Exists(temp));
    EXPECT_EQ(ReadAll(temp), "");
}

TEST_F(DownloadTest, AnotherStatusNamesTheFileAndLeavesNoFile) {
    test_server::PutFile("download/3.0/gone file.bin", "error page the sink wrote to the file");
    test_server::SetRule("/download/3.0/gone%20file.bin", "status=404");
    test_server::SetRule("/download/3.0/broken.bin", "status=500");
    test_server::SetRule("/download/3.0/none.bin", "status=204");
    const struct {
        std::string name;
        std::string error;
    } cases[] = {
        {"gone file.bin", "HTTP 404 przy gone file.bin"},
        {"broken.bin", "HTTP 500 przy broken.bin"},
        {"none.bin", "HTTP 204 przy none.bin"},
    };
    for (const auto& c : cases) {
        const std::string temp = Temp("status");
        const Download d = Get("3.0", c.name, temp);
        EXPECT_FALSE(d.ok) << c.name;
        EXPECT_EQ(d.error, c.error);
        EXPECT_FALSE(Exists(temp)) << c.name;
    }
}

TEST_F(DownloadTest, AnUnwritableTemporaryPathSendsNoRequest) {
    test_server::PutFile("download/3.0/a.bin", "data");
    const std::string temp = test_server::ScratchDir() + "\\no such dir\\a.bin.download";
    const Download d = Get("3.0", "a.bin", temp);
    EXPECT_FALSE(d.ok);
    EXPECT_EQ(d.error, "nie moge zapisac " + temp);
    EXPECT_TRUE(test_server::Requests().empty());
}

// A full disk is the disk's failure, not the server's: the message names the temporary
// file (where the plain reading of the status would blame "HTTP 200").
TEST_F(DownloadTest, AFailedWriteIsReportedAsSuchAndLeavesNoFile) {
    test_server::PutFile("download/3.0/large.bin", Pattern(400000));
    const std::string temp = test_server::FullDiskDir() + "\\large.bin.download";
    const Download d = Get("3.0", "large.bin", temp);
    EXPECT_FALSE(d.ok);
    EXPECT_EQ(d.error, "nie moge zapisac " + temp);
    EXPECT_FALSE(Exists(temp));
    EXPECT_LT(d.progress.size(), 7u);  // the transfer stopped once the stream failed
}

TEST_F(DownloadTest, TransportFailuresKeepTheClientsTextAndLeaveNoFile) {
    test_server::PutFile("download/3.0/a.bin", Pattern(300000));
    const std::string temp = Temp("transport");

    test_server::SetTls("untrusted");
    Download d = Get("3.0", "a.bin", temp);
    EXPECT_FALSE(d.ok);
    EXPECT_EQ(d.error, "blad sieci 12157");
    EXPECT_FALSE(Exists(temp));  // it had been created empty before the request

    test_server::SetTls("good");
    test_server::SetRule("/download/3.0/a.bin", "garbage=100000");
    d = Get("3.0", "a.bin", temp);
    EXPECT_FALSE(d.ok);
    EXPECT_EQ(d.error, "przerwane pobieranie");
    EXPECT_FALSE(d.progress.empty());
    EXPECT_FALSE(Exists(temp));
}

// On Windows a connection closed before the announced length fails the read; Wine's
// WinHTTP reads it as the end of the body, so the download "succeeds" with a short file
// and it is the digest check after it that refuses the file.
TEST_F(DownloadTest, ABodyCutUnderWineIsCaughtByTheDigestOnly) {
    const std::string data = Pattern(300000);
    test_server::PutFile("download/3.0/cut.bin", data);
    test_server::SetRule("/download/3.0/cut.bin", "cut=150000");
    const std::string temp = Temp("cut");
    const Download d = Get("3.0", "cut.bin", temp);
    EXPECT_TRUE(d.ok) << d.error;
    EXPECT_EQ(ReadAll(temp).size(), 150000u);

    const std::string full = Temp("full");
    test_server::SetRule("/download/3.0/cut.bin", "status=200");
    ASSERT_TRUE(Get("3.0", "cut.bin", full).ok);
    std::string cutDigest, fullDigest;
    ASSERT_TRUE(Sha256FileHex(temp, cutDigest));
    ASSERT_TRUE(Sha256FileHex(full, fullDigest));
    EXPECT_NE(cutDigest, fullDigest);
}
