#include <gtest/gtest.h>

#include "../common/signed_manifest_vectors.h"

// Manifests signed by the fixtures with fresh keys verify through CNG, and no single
// changed byte of the signed text or the signature gets through. The other build runs
// the same check, so both are held to the same decisions.
TEST(SignedManifests, VerifyAndRefuseEverySingleByteChange) {
    ExpectVectorsVerifyAndRefuseChanges(VORLANE_SIGNED_VECTORS);
}
