// The publisher's tool: what it refuses to write, and that what it writes reads back.
#include <gtest/gtest.h>

#include "manifest/manifest_parser.h"
#include "tools/delta_records.h"
#include "tools/manifest_writer.h"
#include "tools/name_rules.h"
#include "tools/rollout_records.h"

namespace {

const std::string kDigest = "9c6cf5a0546fa53c1356eece5366e80f0b32e7d880e2d38c481b819c3f619e94";

std::string Reason(const std::string& name) {
    std::string reason;
    return CheckReleaseName(name, reason) ? "accepted" : reason;
}

std::string Text(const std::string& records) {
    return "VLR1\nversion=1.0\n" + records;
}

bool Mentions(const std::vector<std::string>& problems, const std::string& part) {
    for (const std::string& p : problems) {
        if (p.find(part) != std::string::npos) {
            return true;
        }
    }
    return false;
}

}  // namespace

TEST(ReleaseNames, AcceptsWhatTheUpdaterKeeps) {
    for (const char* name : {"VorlanePatcher.exe", "vorlanepatcher.EXE", "data/my file.txt", "a.b/c.d",
                             "CONSOLE.txt", "COM10", "com0", "LPT", "x/.hidden", " lead/x", "a~b+c%d(e)!&'",
                             "sub/dir/f.dat", "logs/VorlanePatcher.log", "VorlanePatcher.log.txt"}) {
        EXPECT_EQ(Reason(name), "accepted") << name;
    }
}

TEST(ReleaseNames, RefusesWhatTheUpdaterDropsOrMangles) {
    const std::pair<const char*, const char*> cases[] = {
        {"", "empty"},
        {"a|b", "\"|\""},
        {"C:/x", "\":\""},
        {"x:y", "\":\""},
        {"a..b", "\"..\""},
        {"../x", "\"..\""},
        {"/abs", "begins with \"/\""},
        {"\\lead", "begins with a backslash"},
        {"a\\b", "holds a backslash"},
        {"name.", "ends in a dot"},
        {"name ", "ends in a blank"},
        {"dir./f", "\"dir.\" ends in a dot"},
        {"dir /f", "ends in a blank"},
        {"caf\xC3\xA9", "0xC3"},
        {"tab\there", "0x09"},
        {"del\x7F", "0x7F"},
        {"CON", "reserved"},
        {"sub/nul.txt", "\"nul.txt\" is a reserved"},
        {"Aux.tar.gz", "reserved"},
        {"com1", "reserved"},
        {"LPT9.log", "reserved"},
        {"con .txt", "reserved"},
        {"a//b", "empty folder level"},
        {"dir/", "empty folder level"},
        {"what?.txt", "\"?\""},
        {"a*b", "\"*\""},
        {"VorlanePatcher.log", "updater's own log"},
        {"vorlanepatcher.OLD.log", "updater's own log"},
        {"VorlanePatcher.Partial", "interrupted download"},
        {"VorlanePatcher.id", "installation's own"},
        {"vorlanepatcher.CHANNEL", "installation's own"},
        {"VorlanePatcher.from", "installation's own"},
        {"VorlanePatcher.beta.serial", "installation's own"},
        {".delta/x", "release's deltas"},
        {".DELTA", "release's deltas"},
    };
    for (const auto& [name, part] : cases) {
        const std::string reason = Reason(name);
        EXPECT_NE(reason, "accepted") << name;
        EXPECT_NE(reason.find(part), std::string::npos) << name << " -> " << reason;
    }
}

TEST(ReleaseNames, FindsNamesThatWindowsTakesForOneFile) {
    EXPECT_TRUE(FindCaseClashes({"a.txt", "b/a.txt", "B2/x", "b2/y"}).empty());
    // A name listed twice is one file, not two names in different letter case.
    EXPECT_TRUE(FindCaseClashes({"a.txt", "b/c", "a.txt"}).empty());
    const auto same = FindCaseClashes({"Data/x.dll", "data/X.DLL"});
    ASSERT_EQ(same.size(), 1u);
    EXPECT_NE(same[0].find("\"Data/x.dll\" and \"data/X.DLL\""), std::string::npos);
    const auto fileAndFolder = FindCaseClashes({"Plugins", "plugins/a.dll"});
    ASSERT_EQ(fileAndFolder.size(), 1u);
    EXPECT_NE(fileAndFolder[0].find("needs a folder"), std::string::npos);
}

TEST(ReleaseVersion, MustStandUnencodedInOnePathSegment) {
    std::string reason;
    for (const char* ok : {"1.4.2", "2024-05-01_rc1+build.7", "v1~beta", "1:2@x"}) {
        EXPECT_TRUE(CheckVersionText(ok, reason)) << ok << ": " << reason;
    }
    for (const char* bad : {"", "1 0", "1/2", "1%20", "1?x", "1#2", "1\\2", ".", "..", "1\xE9", "1\n"}) {
        EXPECT_FALSE(CheckVersionText(bad, reason)) << bad;
    }
    EXPECT_FALSE(CheckDateText("2024\nfile=x|1|d|0", reason));
    EXPECT_TRUE(CheckDateText("9 maja 2024", reason));
}

TEST(ReleaseNotes, DecodeToTheNotesFileLines) {
    const std::pair<std::string, std::string> cases[] = {
        {"one line", "one line"},
        {"first\r\nsecond\n\nfourth\n\n", "first\nsecond\n\nfourth"},
        {"ends in a backslash\\\nnext", "ends in a backslash\\\nnext"},
        {"C:\\Program Files", "C:\\Program Files"},  // a backslash before anything but "n"
        {"", ""},
    };
    for (const auto& [file, shown] : cases) {
        std::vector<std::string> values;
        std::string reason;
        ASSERT_TRUE(EncodeNotes(file, values, reason)) << file;
        std::string decoded;
        for (const std::string& v : values) {
            EXPECT_EQ(v.find('\n'), std::string::npos);
            decoded += DecodeNotesValue(v);
        }
        EXPECT_EQ(decoded, shown) << file;
    }
    std::vector<std::string> values;
    std::string reason;
    EXPECT_FALSE(EncodeNotes("ok\nsee C:\\new\n", values, reason));
    EXPECT_NE(reason.find("line 2"), std::string::npos) << reason;
    EXPECT_FALSE(EncodeNotes("two \\\\n backslashes", values, reason));
}

TEST(ManifestWriter, TheParserReadsBackExactlyWhatWasWritten) {
    ManifestDraft draft;
    draft.version = "1.4.2";
    draft.date = "2026-12-09";
    std::string reason;
    ASSERT_TRUE(EncodeNotes("Nowa wersja\nPoprawki", draft.notes, reason));
    draft.files = {{"VorlanePatcher.exe", 8, kDigest, false},
                   {"data/my file.txt", 0, std::string(64, '0'), false},
                   {"plugins/settings.ini", 1234567890123, std::string(64, 'f'), true}};
    const std::string text = FormatManifestText(draft);
    EXPECT_TRUE(FindManifestProblems(text).empty());

    ReleaseManifest m;
    std::string error;
    ASSERT_TRUE(ParseManifestText(text, m, error)) << error;
    EXPECT_EQ(m.version, draft.version);
    EXPECT_EQ(m.date, draft.date);
    EXPECT_EQ(m.notes, "Nowa wersja\nPoprawki");
    ASSERT_EQ(m.files.size(), draft.files.size());
    for (size_t i = 0; i < m.files.size(); ++i) {
        EXPECT_EQ(m.files[i].name, draft.files[i].name);
        EXPECT_EQ(m.files[i].size, draft.files[i].size);
        EXPECT_EQ(m.files[i].sha256, draft.files[i].sha256);
        EXPECT_EQ(m.files[i].onlyIfMissing, draft.files[i].onlyIfMissing);
    }
    EXPECT_TRUE(IsUpdaterEntryName(m.files[0].name));
}

TEST(ManifestProblems, CatchRecordsTheUpdaterWouldSkipOrMisread) {
    const std::string file = "file=a.txt|3|" + kDigest + "|0\n";
    EXPECT_TRUE(FindManifestProblems(Text(file)).empty());
    EXPECT_TRUE(FindManifestProblems(Text("file=a.txt|999999999999999999|" + kDigest + "|0\n")).empty());
    const std::pair<std::string, std::string> cases[] = {
        {"VLR1\r\nversion=1\r\n" + file, "first line"},
        {Text(file + "notes=x\r\n"), "line 4: ends in CR"},
        {Text("Version=2\n" + file), "the updater skips it"},
        {Text(file + "no equals sign\n"), "line 4"},
        {Text("file=a.txt|3|" + std::string(64, 'A') + "|0\n"), "64 lowercase"},
        {Text("file=a.txt|12x|" + kDigest + "|0\n"), "decimal"},
        {Text("file=a.txt|-5|" + kDigest + "|0\n"), "decimal"},
        // 19 digits may pass the updater's 64-bit limit, where it clamps the size.
        {Text("file=a.txt|9999999999999999999|" + kDigest + "|0\n"), "decimal"},
        {Text("file=a.txt|3|" + kDigest + "|1|x\n"), "neither 0 nor 1"},
        {Text("file=a.txt|3|" + kDigest + "\n"), "name|size|sha256|flag"},
        {Text("file=a..b|3|" + kDigest + "|0\n"), "\"..\""},
        {Text(file + "file=A.TXT|3|" + kDigest + "|0\n"), "letter case"},
        {Text(file + "sig=00\n"), "signed already"},
        {"VLR1\n" + file, "no version"},
        {Text("version=1 2\n" + file), "URL path"},
        {Text(""), "no file record"},
        {Text(file).substr(0, Text(file).size() - 1), "line feed"},
        // The guard records: the updater refuses a manifest where one is malformed.
        {Text("rollout=1001\n" + file), "0 to 1000 per mille"},
        {Text("rollout=+5\n" + file), "0 to 1000 per mille"},
        {Text("rollout=5 \n" + file), "0 to 1000 per mille"},
        {Text("rollout=5\nrollout=6\n" + file), "a second rollout record"},
        {Text("critical=yes\n" + file), "only \"1\""},
        {Text("channel=Beta\n" + file), "only a-z"},
        {Text("channel=stable\n" + file), "no channel record"},
        {Text("channel=download\n" + file), "release files' folder"},
    };
    for (const auto& [text, part] : cases) {
        const auto problems = FindManifestProblems(text);
        EXPECT_TRUE(Mentions(problems, part)) << text << "\nexpected: " << part;
    }
}

TEST(ManifestProblems, DeltaRecordsOnlyForListedFilesAndTheUpdaterSkipsThem) {
    const std::string file = "file=a.txt|3|" + kDigest + "|0\n";
    const std::string base(64, 'b');
    const std::string delta = "delta=a.txt|" + base + "|12|" + kDigest + "|1.0\n";
    EXPECT_TRUE(FindManifestProblems(Text(file + delta)).empty());
    // The updater of today reads the same release with or without them.
    ReleaseManifest with;
    ReleaseManifest without;
    std::string error;
    ASSERT_TRUE(ParseManifestText(Text(file + delta), with, error));
    ASSERT_TRUE(ParseManifestText(Text(file), without, error));
    ASSERT_EQ(with.files.size(), 1u);
    EXPECT_EQ(with.files[0].name, without.files[0].name);
    const std::vector<DeltaRecord> read = DeltaRecordsOf(Text(file + delta));
    ASSERT_EQ(read.size(), 1u);
    EXPECT_EQ(FormatDeltaRecord(read[0]), delta);
    EXPECT_EQ(DeltaServedName(read[0]), ".delta/" + base + "/a.txt.zst");
    const std::pair<std::string, std::string> cases[] = {
        {Text(file + "delta=b.txt|" + base + "|12|" + kDigest + "|1.0\n"), "no file record lists"},
        {Text(file + delta + delta), "a second delta"},
        {Text(file + "delta=a.txt|" + base + "|12|" + kDigest + "\n"), "base version"},
        {Text(file + "delta=a.txt|" + std::string(64, 'B') + "|12|" + kDigest + "|1.0\n"), "64 lowercase"},
        {Text(file + "delta=a.txt|" + base + "|-1|" + kDigest + "|1.0\n"), "decimal"},
    };
    for (const auto& [text, part] : cases) {
        EXPECT_TRUE(Mentions(FindManifestProblems(text), part)) << text << "\nexpected: " << part;
        EXPECT_TRUE(DeltaRecordsOf(text).size() != 1 || part == "no file record lists") << text;
    }
    EXPECT_EQ(ChooseBaseVersions({"1.9", "1.10", ".stage-x", "2.0", "1.2", "1.9.1"}, "2.0", 3),
              (std::vector<std::string>{"1.10", "1.9.1", "1.9"}));
}

TEST(ManifestProblems, TheSignedManifestMustFitTheUpdatersLimit) {
    const std::string base = Text("file=a.txt|3|" + kDigest + "|0\n");
    // Pad with a notes record so that the signed manifest is exactly the limit.
    const size_t pad =
        kManifestByteLimit - kSignatureLineLength - base.size() - std::string("notes=\n").size();
    const std::string fits = base + "notes=" + std::string(pad, 'x') + "\n";
    ASSERT_EQ(fits.size() + kSignatureLineLength, kManifestByteLimit);
    EXPECT_TRUE(FindManifestProblems(fits).empty());
    EXPECT_TRUE(Mentions(FindManifestProblems(fits + "\n"), "524288"));
}

// The share and channel options as sign, stage, publish, probe and rollout take them, the
// records as they read them back, and where a channel's manifest lies.
TEST(RolloutRecords, SharesChannelsAndTheirPlaces) {
    const std::pair<std::string, int> shares[] = {
        {"0", 0},   {"5", 50},    {"2.5", 25},      {"100", 1000}, {"100.0", 1000},
        {"7%", 70}, {"25pm", 25}, {"1000pm", 1000}, {"0pm", 0},    {"3\xE2\x80\xB0", 3}};
    for (const auto& [option, perMille] : shares) {
        int value = -1;
        std::string error;
        EXPECT_TRUE(ParseShareOption(option, value, error)) << option << ": " << error;
        EXPECT_EQ(value, perMille) << option;
    }
    for (const char* bad : {"", "101", "100.1", "2.55", "-1", "+5", ".5", "5.", "1,5", "1001pm", "12345pm",
                            "pm", "5 %", "five"}) {
        int value = 0;
        std::string error;
        EXPECT_FALSE(ParseShareOption(bad, value, error)) << bad;
        EXPECT_NE(error.find("percentage from 0 to 100"), std::string::npos) << error;
    }
    std::string channel = "x";
    std::string error;
    EXPECT_TRUE(ParseChannelOption("stable", channel, error));
    EXPECT_EQ(channel, "");
    EXPECT_TRUE(ParseChannelOption("beta-2", channel, error));
    EXPECT_EQ(channel, "beta-2");
    for (const char* bad :
         {"", "Beta", "2beta", "-beta", "beta_1", "download", "abcdefghijklmnopq", "b/c", ".."}) {
        EXPECT_FALSE(ParseChannelOption(bad, channel, error)) << bad;
    }
    EXPECT_EQ(ChannelManifestPath("vlr/latest.txt", "beta"), "vlr/beta/latest.txt");
    EXPECT_EQ(ChannelManifestPath("/a/b/latest.txt", "beta"), "/a/b/beta/latest.txt");
    EXPECT_EQ(ChannelManifestPath("latest.txt", "beta"), "beta/latest.txt");
    EXPECT_EQ(ChannelManifestPath("vlr/latest.txt", ""), "vlr/latest.txt");

    RolloutRecords r;
    ASSERT_TRUE(ReadRolloutRecords(Text("serial=5\nrollout=250\ncritical=1\nchannel=beta\nnotes=rollout=9\n"),
                                   r, error))
        << error;
    EXPECT_TRUE(r.hasRollout);
    EXPECT_EQ(r.rollout, 250);
    EXPECT_TRUE(r.critical);
    EXPECT_EQ(r.channel, "beta");
    ASSERT_TRUE(ReadRolloutRecords(Text("file=a|1|" + kDigest + "|0\n"), r, error));
    EXPECT_FALSE(r.hasRollout || r.critical);
    EXPECT_EQ(r.rollout, kFullShare);
    EXPECT_EQ(r.channel, "");
    EXPECT_FALSE(ReadRolloutRecords(Text("rollout=1001\n"), r, error));
    EXPECT_FALSE(ReadRolloutRecords(Text("critical=0\n"), r, error));
    EXPECT_FALSE(ReadRolloutRecords(Text("channel=beta\nchannel=beta\n"), r, error));

    // A manifest may go to a channel only when it was signed for it.
    EXPECT_EQ(ChannelProblem(Text("channel=beta\n"), "beta"), "");
    EXPECT_EQ(ChannelProblem(Text(""), ""), "");
    EXPECT_NE(ChannelProblem(Text("channel=beta\n"), ""), "");
    EXPECT_NE(ChannelProblem(Text(""), "beta"), "");
    EXPECT_NE(ChannelProblem(Text("channel=gamma\n"), "beta"), "");

    EXPECT_EQ(ShareText(25), "2.5 %");
    EXPECT_EQ(ShareText(1000), "100 %");
    EXPECT_EQ(ShareText(0), "0 % (halted)");
}
