#include <gtest/gtest.h>

#include "../common/wycheproof_vectors.h"

// The same vectors the host runs through OpenSSL, here through CNG under Wine.
// Wine 8's CNG (over GnuTLS) refuses one valid vector: tcId 204, "point duplication
// during verification", where the verifier's intermediate sum doubles a point. It is a
// refusal of a good signature, never an acceptance of a bad one, and real Windows is not
// affected. Any other disagreement fails; a Wine whose CNG also accepts tcId 204 passes.
TEST(Wycheproof, CngPrimitiveAgreesWithEveryVectorButWinesKnownRefusal) {
    std::vector<WycheproofVector> vectors;
    ASSERT_TRUE(LoadWycheproofVectors(VORLANE_WYCHEPROOF_LINES, vectors)) << VORLANE_WYCHEPROOF_LINES;
    EXPECT_GT(vectors.size(), 200u);
    const std::vector<int> wrong = WycheproofDisagreements(vectors);
    std::string ids;
    for (int id : wrong) {
        ids += std::to_string(id) + " ";
        for (const auto& v : vectors) {
            if (v.id == id) {
                EXPECT_EQ(v.result, "valid") << "CNG accepted an invalid signature, tcId " << id;
            }
        }
    }
    EXPECT_TRUE(wrong.empty() || wrong == std::vector<int>{204}) << "disagreeing tcIds: " << ids;
}
