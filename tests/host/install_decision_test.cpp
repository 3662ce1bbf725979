#include <gtest/gtest.h>

#include "update/install_decision.h"

namespace {

const std::string kDigest(64, 'a');

ManifestFile Entry(bool onlyIfMissing, const std::string& sha256 = kDigest) {
    ManifestFile f;
    f.name = "data/x.dat";
    f.size = 10;
    f.sha256 = sha256;
    f.onlyIfMissing = onlyIfMissing;
    return f;
}

// A local digest that counts how often it is asked for.
struct FakeDigest {
    bool ok = true;
    std::string digest = kDigest;
    int calls = 0;
    LocalDigestFn Fn() {
        return [this](std::string& out) {
            ++calls;
            out = digest;
            return ok;
        };
    }
};

}  // namespace

TEST(InstallDecision, OnlyIfMissingSkipsAnythingPresentWithoutHashing) {
    FakeDigest local;
    local.digest = std::string(64, 'b');
    EXPECT_EQ(DecideInstall(Entry(true), true, local.Fn()), InstallReason::SkippedPresent);
    local.ok = false;  // even a folder or an unreadable file counts as present
    EXPECT_EQ(DecideInstall(Entry(true), true, local.Fn()), InstallReason::SkippedPresent);
    EXPECT_EQ(local.calls, 0);
    // Once it is missing, it is installed like any other entry.
    EXPECT_EQ(DecideInstall(Entry(true), false, local.Fn()), InstallReason::Missing);
    EXPECT_EQ(local.calls, 0);
    EXPECT_FALSE(NeedsInstall(InstallReason::SkippedPresent));
    EXPECT_TRUE(NeedsInstall(InstallReason::Missing));
}

TEST(InstallDecision, ComparesTheDigestByteForByte) {
    FakeDigest local;
    EXPECT_EQ(DecideInstall(Entry(false), true, local.Fn()), InstallReason::UpToDate);
    EXPECT_EQ(local.calls, 1);
    // An upper-case manifest digest never matches the lowercase local one.
    std::string upper(64, 'A');
    EXPECT_EQ(DecideInstall(Entry(false, upper), true, local.Fn()), InstallReason::DigestDiffers);
    // A prefix is not equal.
    EXPECT_EQ(DecideInstall(Entry(false, std::string(63, 'a')), true, local.Fn()),
              InstallReason::DigestDiffers);
    local.ok = false;
    EXPECT_EQ(DecideInstall(Entry(false), true, local.Fn()), InstallReason::Unreadable);
    EXPECT_EQ(DecideInstall(Entry(false), true, LocalDigestFn()), InstallReason::Unreadable);
    EXPECT_FALSE(NeedsInstall(InstallReason::UpToDate));
    EXPECT_TRUE(NeedsInstall(InstallReason::Unreadable));
    EXPECT_TRUE(NeedsInstall(InstallReason::DigestDiffers));
}

TEST(InstallDecision, TwoEmptyDigestsAreEqual) {
    FakeDigest local;
    local.digest = "";
    EXPECT_EQ(DecideInstall(Entry(false, ""), true, local.Fn()), InstallReason::UpToDate);
}
