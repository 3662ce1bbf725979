#include "signed_manifest_vectors.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "manifest/manifest_signature.h"

bool LoadSignedManifestVectors(const std::string& path, std::vector<SignedManifestVector>& out) {
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        SignedManifestVector v;
        std::string bodyHex;
        std::vector<uint8_t> body;
        if (!(fields >> v.x >> v.y >> bodyHex) || !HexToBytes(bodyHex, body)) {
            return false;
        }
        v.body.assign(body.begin(), body.end());
        out.push_back(std::move(v));
    }
    return !out.empty();
}

bool VerifySignedBody(const SignedManifestVector& v, const std::string& body) {
    SplitManifest split;
    return SplitManifestSignature(body, split) &&
           VerifyManifestSignatureWithKey(split.signedText, split.signatureText, v.x.c_str(), v.y.c_str());
}

std::vector<size_t> AcceptedSingleByteChanges(const SignedManifestVector& v) {
    std::vector<size_t> accepted;
    const size_t end = v.body.size() - 1;  // the final LF after the digits is not covered
    for (size_t i = 0; i < end; ++i) {
        std::string changed = v.body;
        changed[i] = static_cast<char>(changed[i] ^ 0x04);
        if (VerifySignedBody(v, changed)) {
            accepted.push_back(i);
        }
    }
    return accepted;
}

void ExpectVectorsVerifyAndRefuseChanges(const char* path) {
    std::vector<SignedManifestVector> vectors;
    ASSERT_TRUE(LoadSignedManifestVectors(path, vectors)) << path;
    for (const auto& v : vectors) {
        EXPECT_TRUE(VerifySignedBody(v, v.body));
        const std::vector<size_t> accepted = AcceptedSingleByteChanges(v);
        EXPECT_TRUE(accepted.empty()) << "a change at byte " << accepted.front() << " verified";
    }
}
