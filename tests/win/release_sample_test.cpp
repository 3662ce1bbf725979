#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "manifest/manifest_parser.h"
#include "manifest/manifest_signature.h"
#include "net/file_digest.h"

namespace {

std::string ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::string KeyLine(const std::string& keyFile, const std::string& prefix) {
    std::istringstream in(keyFile);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(prefix, 0) == 0) {
            return line.substr(prefix.size());
        }
    }
    return {};
}

}  // namespace

// The sample release that vorlane-release signed on Linux: its signature verifies through
// CNG, its records parse, and CNG's file digests match every entry the tool wrote.
TEST(ReleaseSample, ToolSignedManifestVerifiesAndMatchesUnderCng) {
    const std::string root = std::string(VORLANE_SOURCE_DIR_WINE) + "\\tests\\fixtures\\release_sample\\";
    const std::string body = ReadWhole(root + "latest.txt");
    const std::string key = ReadWhole(root + "public.key");
    const std::string x = KeyLine(key, "x=");
    const std::string y = KeyLine(key, "y=");
    ASSERT_EQ(x.size(), 64u);
    ASSERT_EQ(y.size(), 64u);

    SplitManifest split;
    ASSERT_TRUE(SplitManifestSignature(body, split));
    EXPECT_TRUE(VerifyManifestSignatureWithKey(split.signedText, split.signatureText, x.c_str(), y.c_str()));
    std::string changed = split.signedText;
    changed[changed.find("version=") + 8] ^= 1;
    EXPECT_FALSE(VerifyManifestSignatureWithKey(changed, split.signatureText, x.c_str(), y.c_str()));

    ReleaseManifest manifest;
    std::string error;
    ASSERT_TRUE(ParseManifestText(split.signedText, manifest, error)) << error;
    EXPECT_EQ(manifest.files.size(), 5u);
    for (const ManifestFile& f : manifest.files) {
        std::string local = root + "release\\" + f.name;
        for (char& c : local) {
            c = c == '/' ? '\\' : c;
        }
        std::string digest;
        ASSERT_TRUE(Sha256FileHex(local, digest)) << local;
        EXPECT_EQ(digest, f.sha256) << f.name;
    }
}
