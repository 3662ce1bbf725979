// verify and check: what the updater makes of a signed manifest, and what it would
// install into a given folder.
#include <sys/stat.h>

#include <cstdio>
#include <ostream>

#include "manifest/channel_name.h"
#include "net/file_digest.h"
#include "tools/atomic_file.h"
#include "tools/cli_args.h"
#include "tools/commands.h"
#include "tools/delta_records.h"
#include "tools/manifest_writer.h"
#include "tools/release_freshness.h"
#include "tools/rollout_records.h"
#include "tools/updater_key.h"
#include "update/install_decision.h"
#include "update/installation_id.h"
#include "update/release_guard.h"
#include "update/rollout_rule.h"

extern const char kVerifyHelp[] =
    "Usage: vorlane-release verify --public FILE SIGNED_MANIFEST\n"
    "\n"
    "Takes the updater's own decisions on SIGNED_MANIFEST (size limit, signature line,\n"
    "signature by the key in FILE, format) and prints the version, date, notes and files\n"
    "the updater would read. Otherwise prints the message the updater would show\n"
    "(\"manifest bez podpisu\", \"podpis manifestu sie nie zgadza\", \"nieznany format\n"
    "manifestu\", \"pusty manifest\") and exits with 1. Records the updater would skip or\n"
    "misread are listed as warnings. Shows the serial and the expiry; a manifest whose expiry\n"
    "is more than a day past, which updaters refuse, exits with 1 too. Shows the channel, the\n"
    "share of installations that take the release by themselves, and whether it is critical;\n"
    "a malformed rollout, critical or channel record, which updaters refuse, exits with 1.\n"
    "Lists each delta: \"delta: NAME from VERSION (SIZE, SHARE OF THE FILE)\".\n";

extern const char kCheckHelp[] =
    "Usage: vorlane-release check --public FILE [--release-dir DIR] SIGNED_MANIFEST INSTALL_DIR\n"
    "\n"
    "Verifies SIGNED_MANIFEST as \"verify\" does, then decides for every file, as the\n"
    "updater's check does, whether it would be installed into INSTALL_DIR and why:\n"
    "missing, digest differs, unreadable; or left alone: up to date, or present and\n"
    "marked only-if-missing. Ends with the total to download and the updater's status,\n"
    "and which key the installed updater trusts (and, with --release-dir, the release's).\n"
    "Exits with 1 when the release's updater trusts another key but is marked\n"
    "only-if-missing: no installation would ever take it.\n"
    "The serial is judged against the one INSTALL_DIR has accepted (its VorlanePatcher.serial):\n"
    "a manifest the updater would refuse as older, or as expired, exits with 1.\n"
    "Shows the manifest's channel, share and critical mark, the channel INSTALL_DIR follows\n"
    "(its VorlanePatcher.channel) and, for a staged release, INSTALL_DIR's bucket (from its\n"
    "VorlanePatcher.id) and whether it is inside the share. The accepted serial is the\n"
    "record of the manifest's channel.\n"
    "Lists the deltas as verify does, and under a file whose installed digest is one delta's\n"
    "base: \"the updater can fetch the delta from VERSION\".\n";

namespace {

// The file beside the updater that names the channel an installation follows.
const std::string kChannelRecordName = "VorlanePatcher.channel";

bool LoadForInspection(const char* cmd,
                       const ParsedArgs& args,
                       size_t positionals,
                       CommandIo& io,
                       LoadedManifest& loaded,
                       PublicKeyHex& key,
                       RolloutRecords& marks,
                       int& exitCode) {
    std::string error;
    std::string keyPath;
    if (!SingleValue(args, "public", true, keyPath, error)) {
        exitCode = UsageError(io, cmd, error);
        return false;
    }
    if (args.positionals.size() != positionals) {
        exitCode = UsageError(io, cmd, "wrong number of arguments");
        return false;
    }
    if (!ReadPublicKey(keyPath, key, error)) {
        exitCode = Fail(io, cmd, error);
        return false;
    }
    if (!LoadSignedManifest(args.positionals[0], &key, loaded, error)) {
        exitCode = Fail(io, cmd, args.positionals[0] + ": " + error);
        return false;
    }
    for (const std::string& p : FindManifestProblems(loaded.split.signedText)) {
        io.err << "warning: " << p << "\n";
    }
    if (!ReadRolloutRecords(loaded.split.signedText, marks, error)) {
        exitCode = Fail(io, cmd, args.positionals[0] + ": " + error);
        return false;
    }
    return true;
}

const char* Verdict(InstallReason reason) {
    switch (reason) {
        case InstallReason::SkippedPresent:
            return "skip     present, only if missing";
        case InstallReason::UpToDate:
            return "current  digest matches";
        case InstallReason::Missing:
            return "install  missing";
        case InstallReason::Unreadable:
            return "install  cannot be read";
        case InstallReason::DigestDiffers:
            return "install  digest differs";
    }
    return "?";
}

// The channel the installation follows, as its VorlanePatcher.channel names it.
std::string FollowedChannelLine(const std::string& installDir, const RolloutRecords& marks) {
    std::string text;
    std::string error;
    std::string followed;
    if (ReadWholeFile(installDir + kChannelRecordName, text, error)) {
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
            text.pop_back();
        }
        if (!ParseChannelOption(text, followed, error)) {
            return "followed channel: stable (" + kChannelRecordName + " is malformed)\n";
        }
    }
    return "followed channel: " + ChannelText(followed) +
           (followed == marks.channel ? ""
                                      : " (this manifest is for another channel; the installation asks "
                                        "for its own channel's manifest and refuses this one)") +
           "\n";
}

// Where the installation stands in a staged release: its bucket from VorlanePatcher.id, as
// the updater derives it, or why it has none.
std::string RolloutBucketLine(const std::string& installDir, const ReleaseManifest& m) {
    // A full share, a halt and a critical release treat every installation alike.
    if (m.rolloutPerMille >= 1000 || m.rolloutPerMille <= 0 || m.critical) {
        return "";
    }
    std::string text;
    std::string error;
    std::string id;
    int32_t bucket = 0;
    if (!ReadWholeFile(installDir + kInstallationIdName, text, error) || !ParseInstallationIdFile(text, id)) {
        return std::string("rollout bucket: none yet (") + kInstallationIdName +
               " is drawn at the first pass that meets a staged release)\n";
    }
    if (!RolloutBucket(id, m.version, bucket)) {
        return "rollout bucket: cannot be computed (OpenSSL cannot hash)\n";
    }
    return "rollout bucket: " + std::to_string(bucket) + " of 1000, " +
           (IsInsideShare(bucket, m.rolloutPerMille)
                ? "inside the share: an --auto start installs it"
                : "outside the share: only a start by hand installs it") +
           "\n";
}

// One line per delta the manifest lists for one of its files.
std::string DeltaLines(const LoadedManifest& loaded) {
    std::string lines;
    for (const DeltaRecord& d : DeltaRecordsOf(loaded.split.signedText)) {
        for (const ManifestFile& f : loaded.manifest.files) {
            if (f.name == d.name) {
                lines += DescribeDelta(d, f.size) + "\n";
                break;
            }
        }
    }
    return lines;
}

}  // namespace

int RunVerify(const Args& argv, CommandIo& io) {
    const char* cmd = "verify";
    ParsedArgs args;
    std::string error;
    if (!ParseArgs(argv, {"public"}, args, error)) {
        return UsageError(io, cmd, error);
    }
    if (args.help) {
        io.out << kVerifyHelp;
        return 0;
    }
    LoadedManifest loaded;
    PublicKeyHex key;
    RolloutRecords marks;
    int exitCode = 0;
    if (!LoadForInspection(cmd, args, 1, io, loaded, key, marks, exitCode)) {
        return exitCode;
    }
    const ReleaseManifest& m = loaded.manifest;
    const int64_t now = NowSeconds();
    io.out << "signature: good\nversion: " << m.version << "\ndate: " << m.date << "\n"
           << FreshnessLines(m, now) << RolloutLines(marks) << "notes:\n";
    size_t start = 0;
    while (start < m.notes.size()) {
        size_t lf = m.notes.find('\n', start);
        lf = lf == std::string::npos ? m.notes.size() : lf;
        io.out << "  | " << m.notes.substr(start, lf - start) << "\n";
        start = lf + 1;
    }
    int64_t total = 0;
    for (const ManifestFile& f : m.files) {
        total += f.size;
    }
    io.out << "files: " << m.files.size() << ", " << total << " bytes\n";
    for (const ManifestFile& f : m.files) {
        io.out << "  " << f.sha256 << " " << f.size << " " << f.name
               << (f.onlyIfMissing ? "  (only if missing)" : "") << "\n";
    }
    io.out << DeltaLines(loaded);
    if (!JudgeManifestFreshness(m, SerialRecord(), now, error)) {
        return Fail(io, cmd, args.positionals[0] + ": the updater reports \"" + error + "\"");
    }
    return 0;
}

int RunCheck(const Args& argv, CommandIo& io) {
    const char* cmd = "check";
    ParsedArgs args;
    std::string error;
    std::string releaseDir;
    if (!ParseArgs(argv, {"public", "release-dir"}, args, error)) {
        return UsageError(io, cmd, error);
    }
    if (args.help) {
        io.out << kCheckHelp;
        return 0;
    }
    if (!SingleValue(args, "release-dir", false, releaseDir, error)) {
        return UsageError(io, cmd, error);
    }
    LoadedManifest loaded;
    PublicKeyHex key;
    RolloutRecords marks;
    int exitCode = 0;
    if (!LoadForInspection(cmd, args, 2, io, loaded, key, marks, exitCode)) {
        return exitCode;
    }
    std::string installDir = args.positionals[1];
    struct stat st;
    if (stat(installDir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        return Fail(io, cmd, installDir + ": not a folder");
    }
    if (installDir.back() != '/') {
        installDir += '/';
    }
    const ReleaseManifest& m = loaded.manifest;
    std::string record;
    // Each channel keeps a serial record of its own.
    const std::string recordPath = installDir + ChannelSerialRecordName(m.channel);
    const SerialRecord stored =
        ReadWholeFile(recordPath, record, error) ? ParseSerialRecord(record) : SerialRecord();
    // Counted as the updater counts it: a record far ahead of the clock as the time it was written.
    const SerialRecord accepted =
        CountedSerialRecord(stored, stat(recordPath.c_str(), &st) == 0 ? st.st_mtime : -1, NowSeconds());
    io.out << FreshnessLines(m, NowSeconds()) << "accepted serial: "
           << (accepted.known ? std::to_string(accepted.serial) +
                                    InParentheses(SerialAheadText(accepted.serial, NowSeconds()))
                              : std::string("none"))
           << "\n"
           << RolloutLines(marks) << RolloutBucketLine(installDir, m)
           << FollowedChannelLine(installDir, marks);
    if (!JudgeManifestFreshness(m, accepted, NowSeconds(), error)) {
        io.out << "updater: Serwer aktualizacji: " << error << "\n";
        return kExitFailed;
    }
    io.out << DeltaLines(loaded);
    const std::vector<DeltaRecord> deltas = DeltaRecordsOf(loaded.split.signedText);
    int64_t total = 0;
    size_t count = 0;
    for (const ManifestFile& f : m.files) {
        // The updater's local path: both separators lead into folders on Windows.
        std::string local = installDir + f.name;
        for (char& c : local) {
            c = c == '\\' ? '/' : c;
        }
        const bool exists = stat(local.c_str(), &st) == 0;
        std::string installed;
        const InstallReason reason = DecideInstall(f, exists, [&](std::string& digest) {
            const bool read = Sha256FileHex(local, digest);
            installed = read ? digest : "";
            return read;
        });
        if (NeedsInstall(reason)) {
            total += f.size;
            ++count;
        }
        io.out << Verdict(reason) << "  " << f.size << "  " << f.name << "\n";
        if (reason != InstallReason::DigestDiffers) {
            continue;
        }
        // A delta applies only to the exact bytes it was made from.
        for (const DeltaRecord& d : deltas) {
            if (d.name == f.name && d.baseSha256 == installed) {
                io.out << "         the updater can fetch the delta from " << d.baseVersion << " ("
                       << FormatBytes(static_cast<uint64_t>(d.size)) << ")\n";
                break;
            }
        }
    }
    io.out << count << " of " << m.files.size() << " files to install, " << total << " bytes ("
           << FormatBytes(total < 0 ? 0 : static_cast<uint64_t>(total)) << ")\n";
    io.out << "updater: " << (count == 0 ? "Masz najnowsza wersje" : "Dostepna aktualizacja") << "\n";
    const SigningKeyFacts signer{[&](const PublicKeyHex& k) { return SameKey(k, key); }, ShortKey(key)};
    io.out << DescribeUpdaterKey("installed updater", installDir + kUpdaterFileName, signer) << "\n";
    for (const ManifestFile& f : m.files) {
        if (!releaseDir.empty() && IsUpdaterEntryName(f.name)) {
            io.out << DescribeUpdaterKey("release updater", releaseDir + "/" + f.name, signer) << "\n";
            break;
        }
    }
    std::vector<std::string> problems;
    if (!releaseDir.empty()) {
        CheckOnlyIfMissingUpdater(m, releaseDir, signer, false, problems);
    }
    for (const std::string& p : problems) {
        Fail(io, cmd, p);
    }
    return problems.empty() ? 0 : kExitFailed;
}
