// The parts of the rclone destination that need no rclone: DEST's form, the cache headers
// and the reading of rclone lsjson's output (as rclone 1.60 writes it against S3).
#include <gtest/gtest.h>

#include <algorithm>

#include "tools/rclone_destination.h"

namespace {

TEST(RcloneDestination, FormOfDest) {
    std::string remote;
    std::string error;
    ASSERT_TRUE(ParseRcloneDestination("rclone:r2:bucket/site/", remote, error));
    EXPECT_EQ(remote, "r2:bucket/site");
    EXPECT_EQ(RcloneObject(remote, "download/1.0/a b.txt"), "r2:bucket/site/download/1.0/a b.txt");
    ASSERT_TRUE(ParseRcloneDestination("rclone:my-s3:", remote, error));
    EXPECT_EQ(RcloneObject(remote, "vlr/latest.txt"), "my-s3:vlr/latest.txt");
    // No remote, one rclone would read as an option, or none at all.
    for (const char* bad :
         {"rclone:bucket/site", "rclone::bucket", "rclone:-x:bucket", "rclone:a/b:c", "r2:b"}) {
        EXPECT_FALSE(ParseRcloneDestination(bad, remote, error)) << bad;
    }
    EXPECT_TRUE(IsRcloneDestination("rclone:r2:b"));
    EXPECT_FALSE(IsRcloneDestination("host:/srv/rclone:x"));
}

TEST(RcloneDestination, CacheHeadersAndTheirArguments) {
    int seconds = -1;
    std::string error;
    EXPECT_EQ(ManifestCacheControl(0), "no-cache");
    ASSERT_TRUE(ParseManifestMaxAge("300", seconds, error));
    EXPECT_EQ(ManifestCacheControl(seconds), "public, max-age=300");
    for (const char* bad : {"301", "-1", "", "60s", "1000"}) {
        EXPECT_FALSE(ParseManifestMaxAge(bad, seconds, error)) << bad;
    }
    // The header travels with the upload, and every name comes after "--".
    const auto files =
        RcloneUploadFilesArgs("st/download/1.0", "r2:b/download/1.0", "/tmp/names", kImmutableCacheControl);
    const auto dash = std::find(files.begin(), files.end(), "--");
    ASSERT_NE(dash, files.end());
    EXPECT_EQ(std::vector<std::string>(dash + 1, files.end()),
              (std::vector<std::string>{"st/download/1.0", "r2:b/download/1.0"}));
    EXPECT_NE(std::find(files.begin(), dash, "Cache-Control: public, max-age=31536000, immutable"), dash);
    EXPECT_NE(std::find(files.begin(), dash, "--ignore-existing"), dash);
    const auto one = RcloneUploadOneArgs("-odd", "r2:b/vlr/latest.txt", "no-cache");
    EXPECT_EQ(one[0], "copyto");
    EXPECT_EQ(*(std::find(one.begin(), one.end(), "--") + 1), "-odd");
    EXPECT_NE(std::find(one.begin(), one.end(), "Cache-Control: no-cache"), one.end());
}

TEST(RcloneDestination, ListingAsRcloneWritesIt) {
    const std::string json =
        "[\n"
        "{\"Path\":\"data/a b+c.txt\",\"Name\":\"a b+c.txt\",\"Size\":15,\"MimeType\":\"text/plain\","
        "\"ModTime\":\"2026-12-11T16:11:47.1Z\",\"IsDir\":false,\"Hashes\":{\"md5\":\"b19\"},"
        "\"Tier\":\"STANDARD\",\"Metadata\":{\"cache-control\":\"public, max-age=31536000, immutable\"}},\n"
        "{\"Path\":\"data\",\"Name\":\"data\",\"Size\":-1,\"MimeType\":\"inode/directory\",\"IsDir\":true},\n"
        "{\"Path\":\"q\\\"\\u00f3\\ud83d\\ude00\\\\x\",\"Size\":3000000000,\"IsDir\":false}\n"
        "]\n";
    std::vector<RcloneEntry> entries;
    std::string error;
    ASSERT_TRUE(ParseRcloneListing(json, entries, error)) << error;
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].path, "data/a b+c.txt");
    EXPECT_EQ(entries[0].size, 15);
    EXPECT_FALSE(entries[0].isFolder);
    EXPECT_TRUE(entries[1].isFolder);
    EXPECT_EQ(entries[2].path, "q\"\xC3\xB3\xF0\x9F\x98\x80\\x");
    EXPECT_EQ(entries[2].size, 3000000000);
    ASSERT_TRUE(ParseRcloneListing("[\n]\n", entries, error));
    EXPECT_TRUE(entries.empty());
    // A listing cut short, an entry without its name or kind, or text after the list: refused,
    // never read as fewer objects.
    for (const char* bad :
         {"[\n{\"Path\":\"a\",\"Size\":1,\"IsDir\":false},\n{\"Path\":\"b\"", "",
          "[{\"Size\":1,\"IsDir\":false}]", "[{\"Path\":\"a\",\"Size\":1}]",
          "[{\"Path\":\"a\",\"Size\":1,\"IsDir\":false}] x", "[{\"Path\":\"a\\ud800\",\"IsDir\":true}]"}) {
        EXPECT_FALSE(ParseRcloneListing(bad, entries, error)) << bad;
        EXPECT_TRUE(entries.empty());
    }
    std::string text;
    EXPECT_TRUE(RcloneFilesFromText({"a b", "#c"}, text, error));
    EXPECT_EQ(text, "a b\n#c\n");
    EXPECT_FALSE(RcloneFilesFromText({"a\nb"}, text, error));
}

}  // namespace
