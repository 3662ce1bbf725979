#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>

#include "manifest/manifest_public_key.h"
#include "manifest/manifest_signature.h"
#include "signing_helpers.h"

namespace {

bool VerifyBody(const TestKey& key, const std::string& body) {
    SplitManifest split;
    return SplitManifestSignature(body, split) &&
           VerifyManifestSignatureWithKey(split.signedText, split.signatureText, key.pub.x.c_str(),
                                          key.pub.y.c_str());
}

const std::string kText = "VLR1\nversion=1.0\nfile=a.txt|3|" + std::string(64, 'b') + "|0\n";

}  // namespace

TEST(ManifestSplit, FindsTheFirstSignatureLine) {
    SplitManifest s;
    EXPECT_FALSE(SplitManifestSignature("", s));
    EXPECT_FALSE(SplitManifestSignature("\nsig", s));
    EXPECT_FALSE(SplitManifestSignature("sig=00\n", s));  // a first line is not preceded by LF
    EXPECT_FALSE(SplitManifestSignature("VLR1\nversion=1\n", s));
    ASSERT_TRUE(SplitManifestSignature("\nsig=", s));
    EXPECT_EQ(s.signedText, "\n");
    EXPECT_EQ(s.signatureText, "");
    ASSERT_TRUE(SplitManifestSignature("VLR1\nsig=ab\r\n\n\r\nsig=cd\n\r", s));
    EXPECT_EQ(s.signedText, "VLR1\n");
    EXPECT_EQ(s.signatureText, "ab\r\n\n\r\nsig=cd");
    ASSERT_TRUE(SplitManifestSignature("VLR1\nsig=ab \n", s));
    EXPECT_EQ(s.signatureText, "ab ");
}

TEST(HexToBytes, FollowsStrtolPairs) {
    std::vector<uint8_t> out = {9, 9};
    EXPECT_TRUE(HexToBytes("", out));
    EXPECT_TRUE(out.empty());
    ASSERT_TRUE(HexToBytes("00ff7Fa0", out));
    EXPECT_EQ(out, (std::vector<uint8_t>{0x00, 0xFF, 0x7F, 0xA0}));
    EXPECT_FALSE(HexToBytes("abc", out));
    EXPECT_FALSE(HexToBytes("0g", out));
    EXPECT_FALSE(HexToBytes("g0", out));
    EXPECT_FALSE(HexToBytes("a ", out));  // strtol stops at the blank
    // A blank or a sign before one digit is consumed whole by strtol.
    ASSERT_TRUE(HexToBytes(" f+a", out));
    EXPECT_EQ(out, (std::vector<uint8_t>{0x0F, 0x0A}));
    // "-1" is consumed whole; its low 8 bits are kept.
    ASSERT_TRUE(HexToBytes("-1", out));
    EXPECT_EQ(out, (std::vector<uint8_t>{0xFF}));
}

TEST(ManifestSignature, VerifiesWhateverTheLineEndsAfterTheDigits) {
    TestKey key = MakeTestKey();
    for (const char* tail : {"", "\n", "\r\n", "\n\n\r\n"}) {
        EXPECT_TRUE(VerifyBody(key, SignBody(key, kText, tail))) << "tail length " << strlen(tail);
    }
    std::string body = SignBody(key, kText, "");
    std::string upper = body;
    std::transform(upper.begin() + kText.size() + 4, upper.end(), upper.begin() + kText.size() + 4,
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    EXPECT_TRUE(VerifyBody(key, upper));
    EXPECT_FALSE(VerifyBody(key, body + " "));                // odd length
    EXPECT_FALSE(VerifyBody(key, body + "0"));                // 129 digits
    EXPECT_FALSE(VerifyBody(key, body + "00"));               // 65 bytes
    EXPECT_FALSE(VerifyBody(key, body.substr(0, body.size() - 1)));  // 127 digits
    EXPECT_FALSE(VerifyBody(key, body + "\nsig=" + body.substr(kText.size() + 4)));
    // Another key does not verify it.
    EXPECT_FALSE(VerifyBody(MakeTestKey(), body));
}

TEST(ManifestSignature, RefusesEveryFlippedByte) {
    TestKey key = MakeTestKey();
    const std::string body = SignBody(key, kText, "\n");
    ASSERT_TRUE(VerifyBody(key, body));
    const size_t digitsEnd = body.size() - 1;
    for (size_t i = 0; i < digitsEnd; ++i) {
        std::string changed = body;
        changed[i] = static_cast<char>(changed[i] ^ 0x01);
        EXPECT_FALSE(VerifyBody(key, changed)) << "byte " << i;
    }
}

TEST(ManifestSignature, BuiltInKeyIsTheDevelopmentKeyOfThisBuild) {
    const std::string pem = DevPrivateKeyPem();
    if (pem.empty()) {
        GTEST_SKIP() << "this build carries a publisher key, not a development key";
    }
    TestKey dev{pem, {}};
    std::string error;
    ASSERT_TRUE(PublicKeyFromPrivatePem(pem, dev.pub, error)) << error;
    if (dev.pub.x != kManifestPublicKeyX) {
        GTEST_SKIP() << "this build carries a publisher key, not the development key";
    }
    SplitManifest split;
    ASSERT_TRUE(SplitManifestSignature(SignBody(dev, kText), split));
    EXPECT_TRUE(VerifyManifestSignature(split.signedText, split.signatureText));
    EXPECT_FALSE(VerifyManifestSignature(split.signedText + "x", split.signatureText));
}
