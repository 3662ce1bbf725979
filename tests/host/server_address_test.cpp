#include <gtest/gtest.h>

#include "net/server_address.h"

// The one place that says which server the tables must give; tools/server_address.py
// writes the tables for another server.
TEST(ServerAddress, TablesGiveTheChosenHostAndPath) {
    const std::u16string host = BuildServerHost();
    EXPECT_EQ(host.size(), 16u);
    EXPECT_EQ(host, u"upd.vorlane.test");
    const std::u16string path = BuildManifestPath();
    EXPECT_EQ(path.size(), 15u);
    EXPECT_EQ(path, u"/vlr/latest.txt");
}
