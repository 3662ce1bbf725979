// The publisher's tool on real files: scanning, hashing, writing, and a whole release
// run through its commands in-process.
#include <gtest/gtest.h>
#include <openssl/sha.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "manifest/manifest_parser.h"
#include "manifest/manifest_signature.h"
#include "net/file_digest.h"
#include "net/server_address.h"
#include "signing_helpers.h"
#include "tools/atomic_file.h"
#include "tools/cli_args.h"
#include "tools/commands.h"
#include "tools/folder_hasher.h"
#include "tools/manifest_writer.h"
#include "tools/release_scan.h"
#include "tools/updater_key.h"

namespace fs = std::filesystem;

namespace {

// A fresh folder for one test, removed afterwards.
class TempFolder {
  public:
    TempFolder() {
        std::string tmpl = (fs::temp_directory_path() / "vorlane-release-XXXXXX").string();
        path_ = mkdtemp(tmpl.data());
    }
    ~TempFolder() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

void WriteFile(const std::string& path, const std::string& data) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << data;
}

std::string OneShotHex(const std::string& data) {
    uint8_t digest[32];
    SHA256(reinterpret_cast<const uint8_t*>(data.data()), data.size(), digest);
    return HexLower(digest);
}

struct ToolRun {
    int code;
    std::string out;
    std::string err;
};

// A stand-in updater: the key texts as the real build holds them, among other bytes.
std::string UpdaterBytes(const PublicKeyHex& key, size_t padding = 3) {
    return std::string("MZ\x90\0updater\0", 12) + key.x + std::string(1 + padding, '\0') + key.y +
           std::string("\0tail", 5);
}

// The manifest path of this build as narrow text.
std::string ManifestPathText() {
    const std::u16string wide = BuildManifestPath();
    return std::string(wide.begin(), wide.end());
}

ToolRun Tool(const Args& args, const std::string& input = "") {
    std::ostringstream out;
    std::ostringstream err;
    std::istringstream in(input);
    CommandIo io{out, err, in, false};
    ToolRun r;
    r.code = RunTool(args, io);
    r.out = out.str();
    r.err = err.str();
    return r;
}

}  // namespace

TEST(FolderHasher, GivesEachFilesSha256InOrder) {
    TempFolder dir;
    std::vector<std::string> contents = {"", "abc", std::string(3 * 1024 * 1024 + 17, 'x'),
                                         std::string(1 << 20, 'y')};
    std::vector<std::string> paths;
    for (size_t i = 0; i < contents.size(); ++i) {
        paths.push_back(dir / std::string(1, static_cast<char>('a' + i)));
        WriteFile(paths.back(), contents[i]);
    }
    for (unsigned threads : {1u, 2u, 5u}) {
        std::vector<std::string> digests;
        std::string error;
        uint64_t lastBytes = 0;
        ASSERT_TRUE(HashFiles(
            paths, digests, [&](uint64_t, uint64_t b) { lastBytes = b; }, error, threads))
            << error;
        ASSERT_EQ(digests.size(), contents.size());
        for (size_t i = 0; i < contents.size(); ++i) {
            EXPECT_EQ(digests[i], OneShotHex(contents[i])) << "file " << i << ", " << threads << " threads";
        }
        EXPECT_EQ(lastBytes, 4u * 1024 * 1024 + 20);
    }
    paths.insert(paths.begin() + 1, dir / "missing");
    std::vector<std::string> digests;
    std::string error;
    EXPECT_FALSE(HashFiles(paths, digests, nullptr, error));
    EXPECT_NE(error.find(dir / "missing"), std::string::npos) << error;
    // A folder cannot be read as a file.
    EXPECT_FALSE(HashFiles({dir.path()}, digests, nullptr, error));
}

TEST(ReleaseScan, ListsFilesSortedAndRefusesWhatIsNoFile) {
    TempFolder dir;
    const std::string rel = dir / "rel";
    WriteFile(rel + "/b.txt", "bb");
    WriteFile(rel + "/a/z.bin", "z");
    WriteFile(rel + "/a b/c", "ccc");
    WriteFile(dir / "outside.txt", "link target");
    fs::create_directories(rel + "/empty/folder");
    fs::create_symlink(dir / "outside.txt", rel + "/link.txt");
    std::vector<ReleaseFile> files;
    std::vector<std::string> problems;
    ASSERT_TRUE(ScanReleaseFolder(rel, files, problems));
    std::vector<std::string> names;
    for (const ReleaseFile& f : files) {
        names.push_back(f.name);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"a b/c", "a/z.bin", "b.txt", "link.txt"}));
    EXPECT_EQ(files[3].size, 11);

    fs::create_directory_symlink(dir / "rel/a", rel + "/dirlink");
    mkfifo((rel + "/pipe").c_str(), 0600);
    fs::create_symlink(dir / "nowhere", rel + "/dangling");
    files.clear();
    EXPECT_FALSE(ScanReleaseFolder(rel, files, problems));
    ASSERT_EQ(problems.size(), 3u);
    std::string all;
    for (const std::string& p : problems) {
        all += p + "\n";
    }
    EXPECT_NE(all.find("\"dirlink\": a link to a folder"), std::string::npos) << all;
    EXPECT_NE(all.find("\"pipe\": not a regular file"), std::string::npos) << all;
    EXPECT_NE(all.find("\"dangling\": a link that leads to no file"), std::string::npos) << all;
}

TEST(AtomicFile, ReplacesWholeAndNeverOverwritesAnExclusiveFile) {
    TempFolder dir;
    std::string error;
    const std::string path = dir / "out.txt";
    ASSERT_TRUE(WriteFileReplacing(path, "first", 0644, error)) << error;
    ASSERT_TRUE(WriteFileReplacing(path, "second", 0644, error)) << error;
    std::string content;
    ASSERT_TRUE(ReadWholeFile(path, content, error));
    EXPECT_EQ(content, "second");

    const std::string key = dir / "private.pem";
    ASSERT_TRUE(WriteFileExclusive(key, "secret", 0600, error)) << error;
    struct stat st;
    ASSERT_EQ(stat(key.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_FALSE(WriteFileExclusive(key, "other", 0600, error));
    ASSERT_TRUE(ReadWholeFile(key, content, error));
    EXPECT_EQ(content, "secret");
    // No temporary file is left behind by any of it.
    size_t count = 0;
    for (const auto& e : fs::directory_iterator(dir.path())) {
        (void)e;
        ++count;
    }
    EXPECT_EQ(count, 2u);
    EXPECT_FALSE(WriteFileReplacing(dir / "no/such/folder/x", "x", 0644, error));
}

TEST(CliArgs, TakesBothValueFormsAndRefusesUnknownOptions) {
    ParsedArgs args;
    std::string error;
    ASSERT_TRUE(ParseArgs(
        {"--version=1.0", "dir", "--only-if-missing", "*.ini", "--only-if-missing=a/*", "-", "--", "--out"},
        {"version", "only-if-missing", "out"}, args, error))
        << error;
    EXPECT_EQ(args.values["version"], std::vector<std::string>{"1.0"});
    EXPECT_EQ(args.values["only-if-missing"], (std::vector<std::string>{"*.ini", "a/*"}));
    EXPECT_EQ(args.positionals, (std::vector<std::string>{"dir", "-", "--out"}));
    std::string value;
    EXPECT_FALSE(SingleValue(args, "only-if-missing", false, value, error));
    EXPECT_FALSE(SingleValue(args, "out", true, value, error));
    EXPECT_TRUE(SingleValue(args, "out", false, value, error));

    ParsedArgs bad;
    EXPECT_FALSE(ParseArgs({"--verison", "1"}, {"version"}, bad, error));
    EXPECT_NE(error.find("--verison"), std::string::npos);
    EXPECT_FALSE(ParseArgs({"--version"}, {"version"}, bad, error));
    EXPECT_FALSE(ParseArgs({"-v"}, {"version"}, bad, error));

    // A flag takes no value: the word after it stays a positional, and "--critical=1" is refused.
    ParsedArgs flagged;
    ASSERT_TRUE(
        ParseArgs({"--critical", "m.txt", "--rollout", "5"}, {"rollout"}, {"critical"}, flagged, error));
    EXPECT_TRUE(HasFlag(flagged, "critical"));
    EXPECT_EQ(flagged.positionals, std::vector<std::string>{"m.txt"});
    EXPECT_FALSE(HasFlag(flagged, "rollout"));
    EXPECT_FALSE(ParseArgs({"--critical=1"}, {}, {"critical"}, bad, error));
    EXPECT_NE(error.find("takes no value"), std::string::npos);
    EXPECT_FALSE(ParseArgs({"--critical"}, {}, bad, error));
}

// keygen, manifest, sign, verify, stage, check on a sample release: the updater's
// parser reads back exactly the files of the folder.
TEST(ReleaseRoundTrip, TheUpdaterReadsBackEveryFileOfTheRelease) {
    TempFolder dir;
    const std::string rel = dir / "release";
    ASSERT_EQ(Tool({"keygen", "--out", dir / "keys"}).code, 0);
    PublicKeyHex pub;
    std::string error;
    ASSERT_TRUE(ReadPublicKey(dir / "keys/public.key", pub, error));
    const std::map<std::string, std::string> files = {
        {"Vorlane.exe", "MZ bot"},
        {"VorlanePatcher.exe", UpdaterBytes(pub)},
        {"data/my file.txt", "blank in the name"},
        {"data/deep/er/x.dat", std::string(200000, '\x07')},
        {"config/user.ini", "edited by the user"},
        {"empty.bin", ""},
    };
    for (const auto& [name, data] : files) {
        WriteFile(rel + "/" + name, data);
    }
    WriteFile(dir / "notes.txt", "Nowa wersja\nPoprawki\n");
    const std::string signedPath = dir / "latest.txt";

    ToolRun manifest =
        Tool({"manifest", "--version", "2.0.1", "--date", "2026-12-09", "--notes-file", dir / "notes.txt",
              "--only-if-missing", "config/*.ini", "--out", signedPath, rel});
    ASSERT_EQ(manifest.code, 0) << manifest.err;
    std::string pem;
    ASSERT_TRUE(ReadWholeFile(dir / "keys/private.pem", pem, error));
    ToolRun sign =
        Tool({"sign", "--key", "-", "--release-dir", rel, signedPath}, pem);  // the key from standard input
    ASSERT_EQ(sign.code, 0) << sign.err;
    ToolRun verify = Tool({"verify", "--public", dir / "keys/public.key", signedPath});
    ASSERT_EQ(verify.code, 0) << verify.err;
    EXPECT_EQ(verify.err, "");  // no warnings about the tool's own output

    std::string body;
    ASSERT_TRUE(ReadWholeFile(signedPath, body, error));
    SplitManifest split;
    ASSERT_TRUE(SplitManifestSignature(body, split));
    EXPECT_TRUE(
        VerifyManifestSignatureWithKey(split.signedText, split.signatureText, pub.x.c_str(), pub.y.c_str()));
    ReleaseManifest m;
    ASSERT_TRUE(ParseManifestText(split.signedText, m, error)) << error;
    EXPECT_EQ(m.version, "2.0.1");
    EXPECT_EQ(m.date, "2026-12-09");
    EXPECT_EQ(m.notes, "Nowa wersja\nPoprawki");
    ASSERT_EQ(m.files.size(), files.size());
    auto expected = files.begin();  // the manifest lists the names sorted byte for byte
    for (const ManifestFile& f : m.files) {
        EXPECT_EQ(f.name, expected->first);
        EXPECT_EQ(f.size, static_cast<int64_t>(expected->second.size()));
        EXPECT_EQ(f.sha256, OneShotHex(expected->second));
        EXPECT_EQ(f.onlyIfMissing, f.name == "config/user.ini");
        ++expected;
    }

    ToolRun stage = Tool({"stage", "--release-dir", rel, "--signed", signedPath, "--out", dir / "www",
                          "--public", dir / "keys/public.key"});
    ASSERT_EQ(stage.code, 0) << stage.err;
    std::string served;
    ASSERT_TRUE(ReadWholeFile(dir / ("www" + ManifestPathText()), served, error)) << error;
    EXPECT_EQ(served, body);
    for (const auto& [name, data] : files) {
        std::string copy;
        ASSERT_TRUE(ReadWholeFile(dir / ("www/download/2.0.1/" + name), copy, error)) << error;
        EXPECT_EQ(copy, data) << name;
    }

    // An installation with the bot current, the user's settings edited and the rest missing.
    WriteFile(dir / "install/Vorlane.exe", "MZ bot");
    WriteFile(dir / "install/config/user.ini", "mine");
    ToolRun check = Tool({"check", "--public", dir / "keys/public.key", signedPath, dir / "install"});
    ASSERT_EQ(check.code, 0) << check.err;
    EXPECT_NE(check.out.find("current  digest matches  6  Vorlane.exe"), std::string::npos) << check.out;
    EXPECT_NE(check.out.find("skip     present, only if missing  18  config/user.ini"), std::string::npos);
    EXPECT_NE(check.out.find("install  missing  17  data/my file.txt"), std::string::npos);
    EXPECT_NE(check.out.find("4 of 6 files to install, " +
                             std::to_string(200017 + files.at("VorlanePatcher.exe").size()) + " bytes"),
              std::string::npos)
        << check.out;
    EXPECT_NE(check.out.find("updater: Dostepna aktualizacja"), std::string::npos);
}

// verify names the updater's own message for each manifest the updater refuses.
TEST(ReleaseVerify, ShowsTheUpdatersMessage) {
    TempFolder dir;
    const TestKey key = MakeTestKey();
    WriteFile(dir / "public.key", FormatPublicKeyFile(key.pub));
    const std::string file = "file=a.txt|1|" + std::string(64, 'a') + "|0\n";
    const std::string fits = "VLR1\nversion=1\n" + file + "notes=";
    const size_t pad = kManifestByteLimit - fits.size() - 1 - kSignatureLineLength;
    const std::pair<std::string, std::string> cases[] = {
        {"VLR1\nversion=1\n" + file, "manifest bez podpisu"},
        {SignBody(key, "VLR1\r\nversion=1\r\n" + file), "nieznany format manifestu"},
        {SignBody(key, "VLR1\nversion=1\n"), "pusty manifest"},
        {SignBody(key, "VLR1\nversion=1\nfile=/abs|1|d|0\n"), "pusty manifest"},
        {SignBody(key, "VLR1\nversion=1\n" + file).replace(5, 9, "version=2"),
         "podpis manifestu sie nie zgadza"},
        {SignBody(key, fits + std::string(pad + 1, 'x') + "\n"), "the updater reads at most 524288"},
    };
    for (const auto& [body, message] : cases) {
        WriteFile(dir / "m.txt", body);
        ToolRun r = Tool({"verify", "--public", dir / "public.key", dir / "m.txt"});
        EXPECT_EQ(r.code, 1) << message;
        EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
    }
    // Exactly at the limit the updater receives it whole.
    WriteFile(dir / "m.txt", SignBody(key, fits + std::string(pad, 'x') + "\n"));
    ToolRun r = Tool({"verify", "--public", dir / "public.key", dir / "m.txt"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("files: 1, 1 bytes\n  " + std::string(64, 'a') + " 1 a.txt\n"), std::string::npos)
        << r.out;
    // A record the updater drops is a warning, not a failure: the updater reads the rest.
    WriteFile(dir / "m.txt",
              SignBody(key, "VLR1\nversion=1\n" + file + "file=a\\b|1|" + std::string(64, 'b') + "|0\n"));
    r = Tool({"verify", "--public", dir / "public.key", dir / "m.txt"});
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.err.find("warning: line 4: \"a\\b\": holds a backslash"), std::string::npos) << r.err;
}

// The key an updater trusts is found only where it stands as the build puts it: two
// adjacent NUL-terminated texts of 64 hex digits that form a P-256 point, in either order.
TEST(UpdaterKey, FoundOnlyAsTwoAdjacentTextsThatFormAPoint) {
    const TestKey a = MakeTestKey();
    const TestKey b = MakeTestKey();
    PublicKeyHex found;
    std::string error;
    ASSERT_TRUE(FindUpdaterKey(UpdaterBytes(a.pub), found, error)) << error;
    EXPECT_TRUE(SameKey(found, a.pub));
    // Y placed first by the linker; another 64-digit text just before the pair.
    const std::string noise = std::string(64, 'e') + '\0';
    ASSERT_TRUE(FindUpdaterKey(noise + UpdaterBytes(PublicKeyHex{a.pub.y, a.pub.x}), found, error)) << error;
    EXPECT_TRUE(SameKey(found, a.pub));

    const std::pair<std::string, std::string> refused[] = {
        {"MZ no key at all", "no recognisable publisher key"},
        {UpdaterBytes(a.pub, 100), "no recognisable publisher key"},                      // not adjacent
        {UpdaterBytes(PublicKeyHex{a.pub.x, b.pub.y}), "no recognisable publisher key"},  // not a point
        {UpdaterBytes(a.pub) + UpdaterBytes(b.pub), "2 different publisher keys"},
        // X part of a longer run of hex digits.
        {std::string("MZ\0f", 4) + a.pub.x + '\0' + a.pub.y + '\0', "no recognisable publisher key"},
    };
    for (const auto& [bytes, message] : refused) {
        EXPECT_FALSE(FindUpdaterKey(bytes, found, error));
        EXPECT_NE(error.find(message), std::string::npos) << error;
    }
    // The same key twice (as two builds of one header could leave it) is one key.
    EXPECT_TRUE(FindUpdaterKey(UpdaterBytes(a.pub) + UpdaterBytes(a.pub), found, error)) << error;
}
