// probe's judgements beyond the first server: the manifest's cache lifetime, mirror URLs and
// hosts that disagree on the serial.
#include <gtest/gtest.h>

#include "tools/probe_sources.h"

namespace {

TEST(ProbeSources, ManifestCacheLifetime) {
    for (const char* fresh : {"no-cache", "No-Store", "private, max-age=86400", "public, max-age=300",
                              "max-age=86400, s-maxage=60", "max-age=\"0\""}) {
        EXPECT_EQ(ManifestCacheWarning(fresh), "") << fresh;
    }
    // A CDN takes s-maxage before max-age; none at all leaves the lifetime to the CDN.
    for (const char* stale :
         {"public, max-age=301", "max-age=60, s-maxage=3600", "", "public", "max-age=soon"}) {
        EXPECT_NE(ManifestCacheWarning(stale), "") << stale;
    }
}

TEST(ProbeSources, MirrorsAndSerials) {
    EXPECT_EQ(MirrorRecords("VLR1\nversion=1\nmirror=https://a/x\nfile=m|1|0|0\nmirror=b\n"),
              (std::vector<std::string>{"https://a/x", "b"}));
    std::string origin;
    std::string prefix;
    std::string error;
    ASSERT_TRUE(SplitMirrorUrl("https://cdn.example.net:8443/vorlane/", origin, prefix, error));
    EXPECT_EQ(origin, "https://cdn.example.net:8443");
    EXPECT_EQ(prefix, "/vorlane");
    for (const char* bad : {"http://a/", "https:///x", "https://u@a/", "https://a/?q", "https://a b/"}) {
        EXPECT_FALSE(SplitMirrorUrl(bad, origin, prefix, error)) << bad;
    }
    HostManifest a{"https://a", true, "2.0", true, 200};
    HostManifest b{"https://b", true, "2.0", true, 200};
    HostManifest down{"https://c", false, "", false, 0};
    EXPECT_EQ(SerialDisagreement({a, b, down}), "");
    b.serial = 100;
    b.version = "1.0";
    EXPECT_NE(SerialDisagreement({a, down, b}).find("https://b serial 100 (version 1.0)"), std::string::npos);
    b.hasSerial = false;
    b.serial = 200;
    EXPECT_NE(SerialDisagreement({a, b}), "");
}

}  // namespace
