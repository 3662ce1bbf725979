// FetchReleaseManifest against the local server: status, signature and content checks in
// their order, and the body limit.
#include <gtest/gtest.h>

#include "manifest/manifest_fetch.h"
#include "test_server.h"

namespace {

const std::string kDigest(64, 'c');
const std::string kText = "VLR1\nversion=2.1.0\ndate=2024-05-01\nfile=Vorlane.exe|1234|" + kDigest + "|0\n";

struct Result {
    bool ok = false;
    std::string error = "untouched";
    ReleaseManifest manifest;
};

Result FetchManifest() {
    Result r;
    r.manifest.version = "stale";
    r.ok = FetchReleaseManifest(r.manifest, r.error);
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
    EXPECT_EQ(requests[0].path, "/vlr/latest.txt");
}
