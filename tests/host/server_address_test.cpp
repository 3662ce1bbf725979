#include <gtest/gtest.h>

#include <string>

#include "net/server_address.h"

// The tables generated at configure time give back the host and path this build was
// configured with (VORLANE_UPDATE_HOST, VORLANE_MANIFEST_PATH), whatever they are.
TEST(ServerAddress, TablesGiveTheConfiguredHostAndPath) {
    const std::string host = VORLANE_CONFIGURED_HOST;
    const std::string path = VORLANE_CONFIGURED_PATH;
    EXPECT_EQ(BuildServerHost(), std::u16string(host.begin(), host.end()));
    EXPECT_EQ(BuildManifestPath(), std::u16string(path.begin(), path.end()));
}
