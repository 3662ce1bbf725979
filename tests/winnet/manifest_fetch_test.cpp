// FetchReleaseManifest against the local server: status, signature and content checks in
// their order, and the body limit.
#include <gtest/gtest.h>

#include <windows.h>

#include "manifest/manifest_fetch.h"
#include "net/server_address.h"
#include "test_server.h"

namespace {

const std::string kDigest(64, 'c');
const std::string kText = "VLR1\nversion=2.1.0\ndate=2024-05-01\nfile=Vorlane.exe|1234|" + kDigest + "|0\n";

struct Result {
    bool ok = false;
    std::string error = "untouched";
    ReleaseManifest manifest;
};

// A signed text of exactly `size` bytes (the server adds the 133-byte signature line):
// many file records, and notes that fill what is left.
std::string TextOfSize(size_t size) {
    std::string text = "VLR1\nversion=9.9.9\n";
    for (int i = 0; text.size() < size - 2000; ++i) {
        text += "file=data/part" + std::to_string(100000 + i) + ".bin|4096|" + kDigest + "|0\n";
    }
    const size_t notes = size - text.size() - std::string("notes=\n").size();
    text += "notes=" + std::string(notes, 'n') + "\n";
    return text;
}

Result FetchManifest() {
    Result r;
    r.manifest.version = "stale";
    ManifestReply reply;
    r.ok = FetchReleaseManifest(0, BuildManifestPath(), r.manifest, reply, r.error);
    return r;
}

}  // namespace

using ManifestFetchTest = ServerTest;

TEST_F(ManifestFetchTest, AcceptsAManifestSignedByTheBuildKey) {
    test_server::ServeSignedManifest(kText);
    const Result r = FetchManifest();
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.error, "untouched");
    EXPECT_EQ(r.manifest.version, "2.1.0");
    ASSERT_EQ(r.manifest.files.size(), 1u);
    EXPECT_EQ(r.manifest.files[0].sha256, kDigest);
    const auto requests = test_server::Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].path, test_server::ManifestPath());
}

TEST_F(ManifestFetchTest, OtherStatusesAreNoRelease) {
    test_server::ServeSignedManifest(kText);
    for (const int status : {404, 500, 204}) {
        test_server::SetRule(test_server::ManifestPath(), "sign=dev status=" + std::to_string(status));
        const Result r = FetchManifest();
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.error, "brak wydania na serwerze (HTTP " + std::to_string(status) + ")");
        EXPECT_EQ(r.manifest.version, "");  // reset before the request
    }
}

TEST_F(ManifestFetchTest, ChecksTheSignatureBeforeTheContent) {
    const std::string path = test_server::ManifestPath().substr(1);
    const struct {
        std::string text;
        std::string rule;
        std::string error;
    } cases[] = {
        {"", "", "manifest bez podpisu"},
        {kText, "", "manifest bez podpisu"},
        {kText, "sign=other", "podpis manifestu sie nie zgadza"},
        {kText + "sig=" + std::string(128, 'a') + "\n", "", "podpis manifestu sie nie zgadza"},
        // Wrong magic and missing content are only told apart once the signature holds.
        {"VLR1\r\nversion=2.1.0\r\nfile=a.txt|1|" + kDigest + "|0\r\n", "sign=dev",
         "nieznany format manifestu"},
        {"VLR2\nversion=2.1.0\n", "sign=other", "podpis manifestu sie nie zgadza"},
        {"VLR1\nversion=2.1.0\n", "sign=dev", "pusty manifest"},
    };
    for (const auto& c : cases) {
        test_server::PutFile(path, c.text);
        test_server::SetRule(test_server::ManifestPath(), c.rule.empty() ? "status=200" : c.rule);
        const Result r = FetchManifest();
        EXPECT_FALSE(r.ok) << c.error;
        EXPECT_EQ(r.error, c.error);
    }
}

TEST_F(ManifestFetchTest, TakesAManifestUpToTheLimitWhole) {
    test_server::ServeSignedManifest(TextOfSize(524288 - 133));
    const Result r = FetchManifest();
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.manifest.version, "9.9.9");
    EXPECT_GT(r.manifest.files.size(), 5000u);

    // A longer one is cut after the block that reaches the limit, before its signature.
    test_server::ServeSignedManifest(TextOfSize(600000 - 133));
    const Result cut = FetchManifest();
    EXPECT_FALSE(cut.ok);
    EXPECT_EQ(cut.error, "manifest bez podpisu");
}

TEST_F(ManifestFetchTest, TransportFailuresKeepTheClientsText) {
    test_server::ServeSignedManifest(kText);
    test_server::SetTls("untrusted");
    Result r = FetchManifest();
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, "blad sieci 12157");
    EXPECT_EQ(r.manifest.version, "");
    test_server::SetTls("good");

    // Under Wine a stall in the middle of the body fails the read after the manifest's
    // 12 s receive time-out (the server would hold the connection for 20 s).
    test_server::SetRule(test_server::ManifestPath(), "sign=dev stall=20 hold=20");
    const DWORD start = GetTickCount();
    r = FetchManifest();
    const DWORD elapsed = GetTickCount() - start;
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, "przerwane pobieranie");
    EXPECT_GE(elapsed, 11000u);
    EXPECT_LT(elapsed, 19000u);
}
