#include <gtest/gtest.h>

#include "../common/signed_manifest_vectors.h"

// Manifests signed by the fixtures with fresh keys verify here, and no single changed
// byte of the signed text or the signature gets through. The same file is checked by
// the other build, so OpenSSL and CNG are held to the same decisions.
TEST(SignedManifests, VerifyAndRefuseEverySingleByteChange) {
    std::vector<SignedManifestVector> vectors;
    ASSERT_TRUE(LoadSignedManifestVectors(VORLANE_SIGNED_VECTORS, vectors)) << VORLANE_SIGNED_VECTORS;
    for (const auto& v : vectors) {
        EXPECT_TRUE(VerifySignedBody(v, v.body));
        const std::vector<size_t> accepted = AcceptedSingleByteChanges(v);
        EXPECT_TRUE(accepted.empty()) << "a change at byte " << accepted.front() << " verified";
    }
}
