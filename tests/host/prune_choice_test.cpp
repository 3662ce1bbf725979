// Which version folders prune removes, and the order of versions it keeps the newest by.
#include <gtest/gtest.h>

#include "tools/prune_choice.h"

namespace {

TEST(PruneChoice, DottedNumericOrder) {
    EXPECT_TRUE(VersionBefore("1.9", "1.10"));
    EXPECT_TRUE(VersionBefore("1.10", "2.0"));
    EXPECT_TRUE(VersionBefore("1.0", "1.0.1"));
    EXPECT_TRUE(VersionBefore("99999999999999999999.1", "100000000000000000000.0"));
    EXPECT_TRUE(VersionBefore("2.0", "2.0-beta"));  // digits before other text
    EXPECT_FALSE(VersionBefore("1.10", "1.9"));
    EXPECT_FALSE(VersionBefore("3", "3"));
    // Equal by value, other by text: still one strict order.
    EXPECT_NE(VersionBefore("1.01", "1.1"), VersionBefore("1.1", "1.01"));
}

TEST(PruneChoice, KeepsTheLiveAndTheNewest) {
    const PruneChoice c = ChoosePrune({"2.0", "1.10", "1.9", "1.2", "0.5"}, {"1.2"}, 2);
    EXPECT_EQ(c.remove, (std::vector<std::string>{"0.5", "1.9"}));
    EXPECT_EQ(c.keep, (std::vector<std::string>{"1.2", "1.10", "2.0"}));
    EXPECT_TRUE(ChoosePrune({"1.0", "2.0"}, {}, 5).remove.empty());
    EXPECT_EQ(ChoosePrune({"1.0", "2.0"}, {"2.0"}, 1).remove, std::vector<std::string>{"1.0"});
}

}  // namespace
