#include <gtest/gtest.h>

#include "../common/wycheproof_vectors.h"

TEST(Wycheproof, OpenSslPrimitiveAgreesWithEveryVector) {
    std::vector<WycheproofVector> vectors;
    ASSERT_TRUE(LoadWycheproofVectors(VORLANE_WYCHEPROOF_LINES, vectors)) << VORLANE_WYCHEPROOF_LINES;
    size_t valid = 0;
    for (const auto& v : vectors) {
        valid += v.result == "valid";
    }
    EXPECT_GT(valid, 100u);
    EXPECT_GT(vectors.size() - valid, 50u);
    const std::vector<int> wrong = WycheproofDisagreements(vectors);
    EXPECT_TRUE(wrong.empty()) << "first disagreeing tcId: " << wrong.front() << " of " << wrong.size();
}
