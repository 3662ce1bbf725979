// deltas: binary deltas of a new release's files from the same files of older published
// versions, listed in the unsigned manifest so that the signature covers them.
#include <openssl/sha.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <ostream>
#include <set>

#include "manifest/manifest_parser.h"
#include "tools/atomic_file.h"
#include "tools/cli_args.h"
#include "tools/commands.h"
#include "tools/delta_maker.h"
#include "tools/delta_records.h"
#include "tools/manifest_writer.h"

extern const char kDeltasHelp[] =
    "Usage: vorlane-release deltas --release-dir DIR --from OLD_ROOT --out DELTA_DIR\n"
    "                              [--versions N] [--max-ratio R] [--max-size BYTES]\n"
    "                              [--level L] UNSIGNED_MANIFEST\n"
    "\n"
    "Makes a delta of each file of the release in DIR (as UNSIGNED_MANIFEST lists it) from\n"
    "the same-named file of each of the last N versions under OLD_ROOT/download/ (a staged\n"
    "or published tree; dotted-numeric order of the folder names, newest first, only versions\n"
    "before the new one; default N 3). A base identical to the new file, or one whose digest\n"
    "had a delta already, is skipped. A delta is kept when it is below R of the file's size\n"
    "(default 0.5); files above BYTES (default 67108864, at most 67108864) get none. Deltas are\n"
    "zstd frames as \"zstd --patch-from=BASE NEW\" makes them (level L, default 19; window\n"
    "twice the larger file, at most 128 MiB).\n"
    "Writes each into DELTA_DIR/.delta/<base sha256>/<name>.zst (DELTA_DIR must be new or\n"
    "empty) and appends a record per delta to UNSIGNED_MANIFEST:\n"
    "  delta=<name>|<base sha256>|<delta size>|<delta sha256>|<base version>\n"
    "Then: sign as always (the records are signed with the files), and\n"
    "\"stage --deltas DELTA_DIR\" puts the deltas beside the files; publish carries them.\n"
    "Updaters that do not apply deltas skip the records and fetch whole files.\n";

namespace fs = std::filesystem;

namespace {

std::string Sha256Hex(const std::string& bytes) {
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), digest);
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    for (unsigned char b : digest) {
        out.push_back(kHex[b >> 4]);
        out.push_back(kHex[b & 15]);
    }
    return out;
}

std::string Percent(uint64_t part, uint64_t whole) {
    char text[32];
    std::snprintf(text, sizeof(text), "%.1f %%", whole > 0 ? 100.0 * part / whole : 0.0);
    return text;
}

}  // namespace

int RunDeltas(const Args& argv, CommandIo& io) {
    const char* cmd = "deltas";
    ParsedArgs args;
    std::string error;
    std::string releaseDir;
    std::string oldRoot;
    std::string outDir;
    std::string versionsText;
    std::string ratioText;
    std::string maxSizeText;
    std::string levelText;
    if (!ParseArgs(argv, {"release-dir", "from", "out", "versions", "max-ratio", "max-size", "level"}, args,
                   error)) {
        return UsageError(io, cmd, error);
    }
    if (args.help) {
        io.out << kDeltasHelp;
        return 0;
    }
    if (!SingleValue(args, "release-dir", true, releaseDir, error) ||
        !SingleValue(args, "from", true, oldRoot, error) || !SingleValue(args, "out", true, outDir, error) ||
        !SingleValue(args, "versions", false, versionsText, error) ||
        !SingleValue(args, "max-ratio", false, ratioText, error) ||
        !SingleValue(args, "max-size", false, maxSizeText, error) ||
        !SingleValue(args, "level", false, levelText, error)) {
        return UsageError(io, cmd, error);
    }
    if (args.positionals.size() != 1) {
        return UsageError(io, cmd, "give exactly one UNSIGNED_MANIFEST");
    }
    size_t versions = 3;
    double maxRatio = kDeltaDefaultMaxRatio;
    uint64_t maxSize = kDeltaDefaultMaxSize;
    int level = kDeltaDefaultLevel;
    char* end = nullptr;
    if (!versionsText.empty()) {
        const long n = std::strtol(versionsText.c_str(), &end, 10);
        if (*end || n < 1 || n > 100) {
            return UsageError(io, cmd, "--versions takes a number from 1 to 100");
        }
        versions = static_cast<size_t>(n);
    }
    if (!ratioText.empty()) {
        maxRatio = std::strtod(ratioText.c_str(), &end);
        if (*end || !(maxRatio > 0 && maxRatio <= 1)) {
            return UsageError(io, cmd, "--max-ratio takes a share above 0 and at most 1, such as 0.5");
        }
    }
    if (!maxSizeText.empty()) {
        const unsigned long long n = std::strtoull(maxSizeText.c_str(), &end, 10);
        if (*end || maxSizeText[0] == '-' || n > kDeltaDefaultMaxSize) {
            return UsageError(io, cmd, "--max-size takes a byte count of at most 67108864");
        }
        maxSize = n;
    }
    if (!levelText.empty()) {
        const long n = std::strtol(levelText.c_str(), &end, 10);
        if (*end || n < 1 || n > 22) {
            return UsageError(io, cmd, "--level takes a zstd level from 1 to 22");
        }
        level = static_cast<int>(n);
    }
    const std::string& manifestPath = args.positionals[0];
    std::string text;
    if (!ReadWholeFile(manifestPath, text, error)) {
        return Fail(io, cmd, error);
    }
    std::vector<std::string> problems = FindManifestProblems(text);
    if (!DeltaRecordsOf(text).empty() || text.find("\ndelta=") != std::string::npos) {
        problems.push_back(
            "holds delta records already (make them once, from the manifest \"manifest\" wrote)");
    }
    ReleaseManifest m;
    if (problems.empty() && !ParseManifestText(text, m, error)) {
        problems.push_back(error);
    }
    if (!problems.empty()) {
        for (std::string& p : problems) {
            p = manifestPath + ": " + p;
        }
        return Refuse(io, cmd, problems);
    }
    std::error_code ec;
    if (fs::exists(outDir, ec) && !(fs::is_directory(outDir, ec) && fs::is_empty(outDir, ec))) {
        return Fail(io, cmd, outDir + ": exists and is not an empty folder (nothing was written)");
    }
    std::vector<std::string> folders;
    const fs::path download = fs::path(oldRoot) / "download";
    for (fs::directory_iterator it(download, ec), stop; !ec && it != stop; it.increment(ec)) {
        if (it->is_directory()) {
            folders.push_back(it->path().filename().string());
        }
    }
    if (ec) {
        return Fail(io, cmd, download.string() + ": " + ec.message() + " (nothing was written)");
    }
    const std::vector<std::string> bases = ChooseBaseVersions(folders, m.version, versions);
    io.out << "Bases: "
           << (bases.empty() ? std::string("none (no older version under ") + download.string() + ")" : "");
    for (size_t i = 0; i < bases.size(); ++i) {
        io.out << (i ? ", " : "") << bases[i];
    }
    io.out << "\n";

    std::vector<DeltaRecord> made;
    std::vector<std::string> deltaBytes;
    std::set<std::string> seenNames;
    for (const ManifestFile& f : m.files) {
        if (!seenNames.insert(f.name).second) {
            continue;
        }
        std::string next;
        if (!ReadWholeFile(releaseDir + "/" + f.name, next, error)) {
            return Fail(io, cmd, error + " (nothing was written)");
        }
        if (Sha256Hex(next) != f.sha256) {
            return Fail(io, cmd,
                        releaseDir + "/" + f.name +
                            ": its SHA-256 is not the manifest's (changed since the manifest was "
                            "made?); nothing was written");
        }
        std::set<std::string> doneBases;
        for (const std::string& v : bases) {
            const std::string basePath = (download / v / f.name).string();
            struct stat st;
            if (stat(basePath.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
                continue;  // the file is new since that version
            }
            if (!DeltaSizesAllowed(static_cast<uint64_t>(st.st_size), next.size(), maxSize)) {
                io.out << "no delta: " << f.name << " from " << v << ": above " << maxSize << " bytes\n";
                continue;
            }
            std::string base;
            if (!ReadWholeFile(basePath, base, error)) {
                return Fail(io, cmd, error + " (nothing was written)");
            }
            const std::string baseDigest = Sha256Hex(base);
            if (baseDigest == f.sha256 || !doneBases.insert(baseDigest).second) {
                continue;  // unchanged since then, or the same bytes as a newer base
            }
            std::string delta;
            if (!MakeDelta(base, next, level, delta, error)) {
                return Fail(io, cmd, basePath + ": " + error + " (nothing was written)");
            }
            if (!DeltaWorthKeeping(delta.size(), next.size(), maxRatio)) {
                io.out << "no delta: " << f.name << " from " << v << ": "
                       << Percent(delta.size(), next.size()) << " of the file, not below "
                       << Percent(static_cast<uint64_t>(maxRatio * 1000), 1000) << "\n";
                continue;
            }
            DeltaRecord r{f.name, baseDigest, static_cast<int64_t>(delta.size()), Sha256Hex(delta), v};
            io.out << DescribeDelta(r, f.size) << "\n";
            made.push_back(r);
            deltaBytes.push_back(std::move(delta));
        }
    }
    std::string withDeltas = text;
    for (const DeltaRecord& r : made) {
        withDeltas += FormatDeltaRecord(r);
    }
    problems = FindManifestProblems(withDeltas);  // the size limit, with the records
    if (!problems.empty()) {
        for (std::string& p : problems) {
            p = manifestPath + ": " + p;
        }
        return Refuse(io, cmd, problems);
    }
    fs::create_directories(outDir, ec);
    for (size_t i = 0; i < made.size() && !ec; ++i) {
        const fs::path target = fs::path(outDir) / DeltaServedName(made[i]);
        fs::create_directories(target.parent_path(), ec);
        if (ec || !WriteFileExclusive(target.string(), deltaBytes[i], 0644, error)) {
            return Fail(
                io, cmd,
                (ec ? target.string() + ": " + ec.message() : error) + " (the manifest was not changed)");
        }
    }
    if (ec) {
        return Fail(io, cmd, outDir + ": " + ec.message() + " (the manifest was not changed)");
    }
    if (!WriteFileReplacing(manifestPath, withDeltas, 0644, error)) {
        return Fail(io, cmd, error);
    }
    uint64_t total = 0;
    for (const DeltaRecord& r : made) {
        total += static_cast<uint64_t>(r.size);
    }
    io.out << made.size() << " deltas (" << FormatBytes(total) << ") under " << outDir
           << "/.delta/, listed in " << manifestPath << "\n";
    return 0;
}
