#include <gtest/gtest.h>

#include <string>

#include "net/server_address.h"

// The tables generated at configure time give back the hosts and path this build was
// configured with (VORLANE_UPDATE_HOST, one name or several joined by ",";
// VORLANE_MANIFEST_PATH), whatever they are, and nothing past the last host.
TEST(ServerAddress, TablesGiveTheConfiguredHostsAndPath) {
    const std::string hosts = VORLANE_CONFIGURED_HOST;
    const std::string path = VORLANE_CONFIGURED_PATH;
    std::u16string joined;
    for (size_t i = 0; i < ServerHostCount(); ++i) {
        const std::u16string host = BuildServerHost(i);
        EXPECT_FALSE(host.empty()) << i;
        joined += (i == 0 ? u"" : u",") + host;
    }
    EXPECT_EQ(joined, std::u16string(hosts.begin(), hosts.end()));
    EXPECT_EQ(BuildServerHost(ServerHostCount()), u"");
    EXPECT_EQ(BuildServerHost(), BuildServerHost(0));
    EXPECT_EQ(BuildManifestPath(), std::u16string(path.begin(), path.end()));
}
