#include <gtest/gtest.h>

#include "manifest/manifest_fetch.h"
#include "manifest/manifest_public_key.h"
#include "signing_helpers.h"

namespace {

const std::string kDigest(64, 'a');
const std::string kText = "VLR1\nversion=2.0\nfile=Vorlane.exe|10|" + kDigest + "|0\n";

// The development key that this build carries, or a skipped test.
bool DevKey(TestKey& key) {
    key.pem = DevPrivateKeyPem();
    std::string error;
    return !key.pem.empty() && PublicKeyFromPrivatePem(key.pem, key.pub, error) &&
           key.pub.x == kManifestPublicKeyX;
}

std::string Judge(uint32_t status, const std::string& body, ReleaseManifest& manifest) {
    std::string error = "untouched";
    manifest = ReleaseManifest();
    AcceptManifestResponse(status, body, manifest, error);
    return error;
}

}  // namespace

TEST(AcceptManifestResponse, ChecksInTheirFixedOrder) {
    TestKey dev;
    if (!DevKey(dev)) {
        GTEST_SKIP() << "this build carries a publisher key, not the development key";
    }
    ReleaseManifest m;
    const std::string good = SignBody(dev, kText);
    // Transport failures keep the client's own text.
    EXPECT_EQ(Judge(0, good, m), "untouched");
    EXPECT_EQ(Judge(404, good, m), "brak wydania na serwerze (HTTP 404)");
    EXPECT_EQ(Judge(500, "", m), "brak wydania na serwerze (HTTP 500)");
    EXPECT_EQ(Judge(204, good, m), "brak wydania na serwerze (HTTP 204)");
    EXPECT_EQ(Judge(200, "", m), "manifest bez podpisu");
    EXPECT_EQ(Judge(200, kText, m), "manifest bez podpisu");
    EXPECT_EQ(Judge(200, SignBody(MakeTestKey(), kText), m), "podpis manifestu sie nie zgadza");
    EXPECT_EQ(Judge(200, kText + "sig=" + std::string(128, '0') + "\n", m),
              "podpis manifestu sie nie zgadza");
    // Magic and content are judged only once the signature holds.
    EXPECT_EQ(Judge(200,
                    "VLR2\nversion=1\n"
                    "sig=00\n",
                    m),
              "podpis manifestu sie nie zgadza");
    EXPECT_EQ(Judge(200, SignBody(dev, "VLR1\r\nversion=2.0\r\n"), m), "nieznany format manifestu");
    EXPECT_EQ(Judge(200, SignBody(dev, "VLR1\nversion=2.0\n"), m), "pusty manifest");
}

TEST(AcceptManifestResponse, SuccessFillsTheManifestAndKeepsTheText) {
    TestKey dev;
    if (!DevKey(dev)) {
        GTEST_SKIP() << "this build carries a publisher key, not the development key";
    }
    ReleaseManifest m;
    std::string error = "earlier text";
    ASSERT_TRUE(AcceptManifestResponse(200, SignBody(dev, kText, "\r\n"), m, error));
    EXPECT_EQ(error, "earlier text");
    EXPECT_EQ(m.version, "2.0");
    ASSERT_EQ(m.files.size(), 1u);
    EXPECT_EQ(m.files[0].name, "Vorlane.exe");
}
