#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <iterator>
#include <vector>

#include "manifest/manifest_parser.h"
#include "manifest/utc_time.h"

namespace {

struct ParseResult {
    bool ok;
    ReleaseManifest manifest;
    std::string error;
};

ParseResult Parse(const std::string& text) {
    ParseResult r;
    r.error = "untouched";
    r.ok = ParseManifestText(text, r.manifest, r.error);
    return r;
}

const std::string kDigest(64, 'a');

}  // namespace

TEST(ManifestParser, RefusesAnythingButTheExactMagicLine) {
    for (const std::string& text :
         {std::string(""), std::string("\n"), std::string("VLR2\n"), std::string("vlr1\n"),
          std::string("VLR1 \n"), std::string("VLR1\r\n"), std::string("\xEF\xBB\xBFVLR1\n"),
          std::string("\nVLR1\n"), std::string("VLR1version=1\n")}) {
        ParseResult r = Parse(text + "version=1\nfile=a|1|" + kDigest + "|0\n");
        EXPECT_FALSE(r.ok) << text;
        EXPECT_EQ(r.error, "nieznany format manifestu") << text;
    }
    // CR LF line ends: the magic line is five bytes long.
    ParseResult crlf = Parse("VLR1\r\nversion=1\r\nfile=a|1|" + kDigest + "|0\r\n");
    EXPECT_EQ(crlf.error, "nieznany format manifestu");
}

TEST(ManifestParser, NeedsAVersionAndAnAcceptedFile) {
    EXPECT_EQ(Parse("VLR1\n").error, "pusty manifest");
    EXPECT_EQ(Parse("VLR1\nfile=a|1|d|0\n").error, "pusty manifest");
    EXPECT_EQ(Parse("VLR1\nversion=1\n").error, "pusty manifest");
    // Two bars only: the record is dropped.
    EXPECT_EQ(Parse("VLR1\nversion=1\nfile=a|1|d\n").error, "pusty manifest");
    EXPECT_TRUE(Parse("VLR1\nversion=1\nfile=a|1|d|0\n").ok);
    // An empty version set late wins over an earlier one.
    EXPECT_EQ(Parse("VLR1\nversion=1\nversion=\nfile=a|1|d|0\n").error, "pusty manifest");
    ParseResult ok = Parse("VLR1\nversion=\nversion=2.0\nfile=a|1|d|0\n");
    ASSERT_TRUE(ok.ok);
    EXPECT_EQ(ok.error, "untouched");
    EXPECT_EQ(ok.manifest.version, "2.0");
}

TEST(ManifestParser, KeysAreExactAndUnknownLinesAreSkipped) {
    ParseResult r = Parse(
        "VLR1\n\nVersion=9\nversion =8\n version=7\nnonsense\n=x\nversion=1.2=3\ndate=2026-01-02\n"
        "date=later\nfile=a|1|d|0\nFILE=b|1|d|0\nnotes=\n");
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.manifest.version, "1.2=3");
    EXPECT_EQ(r.manifest.date, "later");
    ASSERT_EQ(r.manifest.files.size(), 1u);
    EXPECT_EQ(r.manifest.files[0].name, "a");
}

// The records that guard against old and expired manifests, and those that stage a release
// (share, critical mark, channel): read when well formed, and a malformed one refuses the
// manifest rather than being skipped (which would drop the guard).
TEST(ManifestParser, SerialAndExpiryRecords) {
    const std::string files = "version=1\nfile=a|1|d|0\n";
    ParseResult plain = Parse("VLR1\n" + files);
    ASSERT_TRUE(plain.ok);
    EXPECT_FALSE(plain.manifest.hasSerial);
    EXPECT_FALSE(plain.manifest.hasExpires);
    ParseResult r = Parse("VLR1\nserial=1765314000\nexpires=2038-01-19T03:14:08Z\n" + files);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_TRUE(r.manifest.hasSerial);
    EXPECT_EQ(r.manifest.serial, 1765314000);
    EXPECT_TRUE(r.manifest.hasExpires);
    EXPECT_EQ(r.manifest.expires, 2147483648);
    EXPECT_EQ(Parse("VLR1\nserial=999999999999999999\n" + files).manifest.serial, 999999999999999999);
    for (const char* serial : {"", " 5", "5 ", "+5", "-1", "5\r", "0x10", "1000000000000000000"}) {
        EXPECT_EQ(Parse(std::string("VLR1\nserial=") + serial + "\n" + files).error,
                  "nieprawidlowy numer wydania w manifescie")
            << serial;
    }
    for (const char* when :
         {"", "2038-01-19", "2038-01-19T03:14:08", "2038-01-19t03:14:08Z", "2038-01-19 03:14:08Z",
          "2027-02-29T00:00:00Z", "2026-12-09T24:00:00Z", "1969-12-31T23:59:59Z", "2038-1-19T03:14:08Z"}) {
        EXPECT_EQ(Parse(std::string("VLR1\nexpires=") + when + "\n" + files).error,
                  "nieprawidlowy termin waznosci manifestu")
            << when;
    }
    // Keys are exact here too: these are unknown records, skipped as before.
    EXPECT_FALSE(Parse("VLR1\nSerial=x\nserial =1\n" + files).manifest.hasSerial);

    // Rollout share, critical mark and channel: absent means everyone, not critical, default.
    EXPECT_FALSE(plain.manifest.hasRollout);
    EXPECT_EQ(plain.manifest.rolloutPerMille, 1000);
    EXPECT_FALSE(plain.manifest.critical);
    EXPECT_EQ(plain.manifest.channel, "");
    ParseResult staged = Parse("VLR1\nrollout=0050\ncritical=1\nchannel=beta-2\n" + files);
    ASSERT_TRUE(staged.ok) << staged.error;
    EXPECT_TRUE(staged.manifest.hasRollout);
    EXPECT_EQ(staged.manifest.rolloutPerMille, 50);
    EXPECT_TRUE(staged.manifest.critical);
    EXPECT_EQ(staged.manifest.channel, "beta-2");
    EXPECT_EQ(Parse("VLR1\nrollout=0\n" + files).manifest.rolloutPerMille, 0);
    EXPECT_EQ(Parse("VLR1\nrollout=1000\n" + files).manifest.rolloutPerMille, 1000);
    for (const char* share : {"", "1001", "9999", "00500", "-1", "+5", " 5", "5 ", "5\r", "50%", "2.5"}) {
        EXPECT_EQ(Parse(std::string("VLR1\nrollout=") + share + "\n" + files).error,
                  "nieprawidlowy udzial wydania w manifescie")
            << share;
    }
    for (const char* mark : {"", "0", "01", "1 ", "true", "1\r"}) {
        EXPECT_EQ(Parse(std::string("VLR1\ncritical=") + mark + "\n" + files).error,
                  "nieprawidlowy znacznik krytycznego wydania w manifescie")
            << mark;
    }
    EXPECT_TRUE(Parse("VLR1\nchannel=abcdefghijklmnop\n" + files).ok);
    for (const char* channel : {"", "stable", "download", "Beta", "1beta", "-beta", "beta ", "beta\r",
                                "be_ta", "be/ta", "abcdefghijklmnopq", ".."}) {
        EXPECT_EQ(Parse(std::string("VLR1\nchannel=") + channel + "\n" + files).error,
                  "nieprawidlowy kanal w manifescie")
            << channel;
    }
}

// Mirrors only add places to fetch from: every usable record is kept in order, and one that
// names no usable HTTPS base (or a mirror already listed, or one past the eighth) is skipped
// without refusing the manifest.
TEST(ManifestParser, MirrorRecords) {
    const std::string files = "version=1\nfile=a|1|d|0\n";
    std::string text = "VLR1\nmirror=https://m1.example.net/rel/\nmirror=https://cdn.example.com:8443\n"
                       "mirror=https://m1.example.net/rel\nmirror=https://M1.example.net/x\n" + files;
    const char* bad[] = {"http://m.example.net/r", "https://localhost/r", "https://u@m.example.net/r",
                         "https://m.example.net/r?x=1", "https://m.example.net/r#f", "https://m.example.net:0/r",
                         "https://m.example.net:65536/r", "https://m.example.net:08443/r",
                         "https://m.example.net:/r", "https://m.example.net/a/../b", "https://m.example.net//r",
                         "https://m.example.net/r r", "https://-m.example.net/r", "https://m..example.net/r",
                         "https://m.example.net/r%2f", "HTTPS://m.example.net/r", "https://m.example.net\\r",
                         "https://[::1]/r", "https://m.example.net:443:1/r"};
    for (const char* value : bad) {
        text += std::string("mirror=") + value + "\n";
    }
    ParseResult r = Parse(text);
    ASSERT_TRUE(r.ok) << r.error;
    ASSERT_EQ(r.manifest.mirrors.size(), 2u);
    EXPECT_EQ(r.manifest.mirrors[0].url, "https://m1.example.net/rel");
    EXPECT_EQ(r.manifest.mirrors[0].host, "m1.example.net");
    EXPECT_EQ(r.manifest.mirrors[0].port, 443);
    EXPECT_EQ(r.manifest.mirrors[0].path, "/rel");
    EXPECT_EQ(r.manifest.mirrors[1].url, "https://cdn.example.com:8443");
    EXPECT_EQ(r.manifest.mirrors[1].port, 8443);
    EXPECT_EQ(r.manifest.mirrors[1].path, "");
    ASSERT_EQ(r.manifest.skippedMirrors.size(), 2u + std::size(bad));
    EXPECT_EQ(r.manifest.skippedMirrors[0], "https://m1.example.net/rel");
    EXPECT_EQ(r.manifest.skippedMirrors.back(), bad[std::size(bad) - 1]);

    // Eight at most, in the order written; the ninth is skipped.
    std::string many = "VLR1\n";
    for (int i = 1; i <= 9; ++i) {
        many += "mirror=https://m" + std::to_string(i) + ".example.net:" + std::to_string(8000 + i) + "/r-_.~9\n";
    }
    ParseResult eight = Parse(many + files);
    ASSERT_EQ(eight.manifest.mirrors.size(), 8u);
    EXPECT_EQ(eight.manifest.mirrors[7].url, "https://m8.example.net:8008/r-_.~9");
    EXPECT_EQ(eight.manifest.skippedMirrors, std::vector<std::string>{"https://m9.example.net:8009/r-_.~9"});
    EXPECT_TRUE(Parse("VLR1\n" + files).manifest.mirrors.empty());
}

// Calendar arithmetic both ways, leap days and the turn of centuries included.
TEST(UtcTime, ReadsBackWhatItWrites) {
    const std::pair<const char*, int64_t> known[] = {{"1970-01-01T00:00:00Z", 0},
                                                     {"2000-02-29T12:34:56Z", 951827696},
                                                     {"2100-03-01T00:00:00Z", 4107542400},
                                                     {"2024-12-31T23:59:59Z", 1735689599}};
    for (const auto& [text, seconds] : known) {
        int64_t parsed = -1;
        EXPECT_TRUE(ParseUtcTimestamp(text, parsed)) << text;
        EXPECT_EQ(parsed, seconds) << text;
        EXPECT_EQ(FormatUtcTimestamp(seconds), text);
    }
    int64_t ignored = 0;
    EXPECT_TRUE(ParseUtcTimestamp("2024-02-29T00:00:00Z", ignored));
    EXPECT_FALSE(ParseUtcTimestamp("2100-02-29T00:00:00Z", ignored));
}

TEST(ManifestParser, DecodesNotes) {
    EXPECT_EQ(Parse("VLR1\nversion=1\nfile=a|1|d|0\nnotes=a\nnotes=b\n").manifest.notes, "ab");
    EXPECT_EQ(DecodeNotesValue("a\\nb"), "a\nb");
    EXPECT_EQ(DecodeNotesValue("\\\\n"), "\\\n");
    EXPECT_EQ(DecodeNotesValue("end\\"), "end\\");
    EXPECT_EQ(DecodeNotesValue("\\t\\x"), "\\t\\x");
    EXPECT_EQ(DecodeNotesValue("\\n\\n"), "\n\n");
    // Values keep CR and blanks: nothing is trimmed.
    EXPECT_EQ(Parse("VLR1\nversion=1 \r\nfile=a|1|d|0\n").manifest.version, "1 \r");
}

TEST(ManifestParser, FileRecordFields) {
    ManifestFile f;
    ASSERT_TRUE(ParseFileRecord("a|12x|d|1", f));
    EXPECT_EQ(f.size, 12);
    EXPECT_TRUE(f.onlyIfMissing);
    ASSERT_TRUE(ParseFileRecord("a||d|", f));
    EXPECT_EQ(f.size, 0);
    EXPECT_FALSE(f.onlyIfMissing);
    ASSERT_TRUE(ParseFileRecord("a|-5|d|0", f));
    EXPECT_EQ(f.size, -5);
    ASSERT_TRUE(ParseFileRecord("a| +7|UPPER|1|x", f));
    EXPECT_EQ(f.size, 7);
    EXPECT_EQ(f.sha256, "UPPER");
    EXPECT_FALSE(f.onlyIfMissing);  // the flag text is "1|x"
    ASSERT_TRUE(ParseFileRecord("a|99999999999999999999999|d|01", f));
    EXPECT_EQ(f.size, INT64_MAX);
    EXPECT_FALSE(f.onlyIfMissing);
    ASSERT_TRUE(ParseFileRecord("a|-99999999999999999999999|d|1 ", f));
    EXPECT_EQ(f.size, INT64_MIN);
    EXPECT_FALSE(f.onlyIfMissing);
    EXPECT_FALSE(ParseFileRecord("a|1", f));
    EXPECT_FALSE(ParseFileRecord("a|1|d", f));
}

TEST(ManifestParser, FileNameRules) {
    ManifestFile f;
    for (const char* refused : {"../x", "a/../b", "a..b", "/abs", "C:/x", "x:y", ""}) {
        EXPECT_FALSE(ParseFileRecord(std::string(refused) + "|1|d|0", f)) << refused;
    }
    // A zero byte would end the name in every file call: this one names the installed bot.
    using namespace std::string_literals;
    EXPECT_FALSE(ParseFileRecord("Vorlane.exe\0x|1|d|0"s, f));
    EXPECT_FALSE(ParseFileRecord("\0|1|d|0"s, f));
    for (const char* accepted : {"sub/dir/f.dat", "\\lead", "a.b", "my file.txt", "VorlanePatcher.exe"}) {
        ASSERT_TRUE(ParseFileRecord(std::string(accepted) + "|1|d|0", f)) << accepted;
        EXPECT_EQ(f.name, accepted);
    }
}

TEST(ManifestParser, KeepsDuplicateFilesInOrder) {
    ParseResult r = Parse("VLR1\nfile=x|1|d1|0\nversion=1\nfile=bad/../y|1|d|0\nfile=x|2|d2|1\n");
    ASSERT_TRUE(r.ok);
    ASSERT_EQ(r.manifest.files.size(), 2u);
    EXPECT_EQ(r.manifest.files[0].sha256, "d1");
    EXPECT_EQ(r.manifest.files[1].sha256, "d2");
    EXPECT_TRUE(r.manifest.files[1].onlyIfMissing);
}

TEST(ManifestParser, UpdaterEntryNameIgnoresCase) {
    EXPECT_TRUE(IsUpdaterEntryName("VorlanePatcher.exe"));
    EXPECT_TRUE(IsUpdaterEntryName("vorlanepatcher.EXE"));
    EXPECT_FALSE(IsUpdaterEntryName("sub/VorlanePatcher.exe"));
    EXPECT_FALSE(IsUpdaterEntryName("VorlanePatcher.exe "));
    EXPECT_FALSE(IsUpdaterEntryName("VorlanePatcher.new.exe"));
}

TEST(ManifestParser, LargeManifestParsesInOnePass) {
    std::string text = "VLR1\nversion=3.1.4\n";
    int count = 0;
    while (text.size() < 512 * 1024 - 200) {
        char line[200];
        std::snprintf(line, sizeof(line), "file=data/folder%03d/file%05d.bin|%d|%064x|0\n", count % 100,
                      count, count * 17, count);
        text += line;
        ++count;
    }
    ReleaseManifest m;
    std::string error;
    ASSERT_TRUE(ParseManifestText(text, m, error));
    ASSERT_EQ(m.files.size(), static_cast<size_t>(count));
    EXPECT_GT(count, 4000);
    EXPECT_EQ(m.files.back().size, (count - 1) * 17);
}
