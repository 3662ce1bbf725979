// manifest: scan a release folder and write its unsigned manifest.
#include <fnmatch.h>

#include <filesystem>
#include <ostream>

#include "tools/atomic_file.h"
#include "tools/cli_args.h"
#include "tools/commands.h"
#include "tools/folder_hasher.h"
#include "tools/manifest_writer.h"
#include "tools/name_rules.h"
#include "tools/release_scan.h"

extern const char kManifestHelp[] =
    "Usage: vorlane-release manifest --version V [--date D] [--notes-file F]\n"
    "                                [--only-if-missing PATTERN]... [--out FILE] RELEASE_DIR\n"
    "\n"
    "Scans RELEASE_DIR and writes the unsigned manifest: the magic line, the version, the\n"
    "date, the notes and one file record per file (name relative to RELEASE_DIR with \"/\"\n"
    "between folders, size, lowercase SHA-256, flag), sorted by name, LF line ends.\n"
    "--version V        shown to users and used in download paths: letters, digits and\n"
    "                   -._~!$&'()*+,;=:@ only\n"
    "--date D           free text on one line; no date record without it\n"
    "--notes-file F     release notes, one \"notes\" record per line (line breaks become\n"
    "                   backslash-n); a literal backslash-n in the notes is refused\n"
    "--only-if-missing PATTERN\n"
    "                   files whose name matches are installed only where missing (for\n"
    "                   settings the user edits); shell wildcards, \"*\" does not cross \"/\";\n"
    "                   may be given more than once\n"
    "--out FILE         where to write (standard output without it)\n"
    "Names the updater would drop or mangle are refused, each with its reason, and\n"
    "nothing is written; so are an empty folder and a manifest over 524288 bytes signed.\n";

namespace {

bool IsInside(const std::string& path, const std::string& folder) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const std::string p = fs::weakly_canonical(fs::absolute(path, ec), ec).string();
    const std::string f = fs::weakly_canonical(fs::absolute(folder, ec), ec).string();
    return !ec && p.size() > f.size() && p.compare(0, f.size(), f) == 0 && p[f.size()] == '/';
}

// Everything that can be judged before a byte is hashed.
std::vector<std::string> FindReleaseProblems(const std::string& folder,
                                             const std::vector<ReleaseFile>& files) {
    std::vector<std::string> problems;
    std::vector<std::string> names;
    for (const ReleaseFile& f : files) {
        std::string reason;
        if (!CheckReleaseName(f.name, reason)) {
            problems.push_back(folder + ": " + QuoteName(f.name) + ": " + reason);
        }
        names.push_back(f.name);
    }
    for (const std::string& clash : FindCaseClashes(names)) {
        problems.push_back(folder + ": " + clash);
    }
    return problems;
}

}  // namespace

int RunManifest(const Args& argv, CommandIo& io) {
    const char* cmd = "manifest";
    ParsedArgs args;
    std::string error;
    ManifestDraft draft;
    std::string notesFile;
    std::string outPath;
    if (!ParseArgs(argv, {"version", "date", "notes-file", "only-if-missing", "out"}, args, error)) {
        return UsageError(io, cmd, error);
    }
    if (args.help) {
        io.out << kManifestHelp;
        return 0;
    }
    if (!SingleValue(args, "version", true, draft.version, error) ||
        !SingleValue(args, "date", false, draft.date, error) ||
        !SingleValue(args, "notes-file", false, notesFile, error) ||
        !SingleValue(args, "out", false, outPath, error)) {
        return UsageError(io, cmd, error);
    }
    if (args.positionals.size() != 1) {
        return UsageError(io, cmd, "needs exactly one RELEASE_DIR");
    }
    const std::string folder = args.positionals[0];
    const std::vector<std::string> patterns = args.values["only-if-missing"];

    std::vector<std::string> problems;
    std::string reason;
    if (!CheckVersionText(draft.version, reason)) {
        problems.push_back(reason);
    }
    if (!CheckDateText(draft.date, reason)) {
        problems.push_back(reason);
    }
    if (!notesFile.empty()) {
        std::string notes;
        if (!ReadWholeFile(notesFile, notes, error)) {
            problems.push_back(error);
        } else if (!EncodeNotes(notes, draft.notes, reason)) {
            problems.push_back(notesFile + ": " + reason);
        }
    }
    if (!outPath.empty() && IsInside(outPath, folder)) {
        problems.push_back(outPath + ": lies inside the release folder, so it would list itself");
    }
    std::vector<ReleaseFile> files;
    ScanReleaseFolder(folder, files, problems);
    if (files.empty() && problems.empty()) {
        problems.push_back(folder + ": holds no files; a release needs at least one");
    }
    for (const std::string& p : FindReleaseProblems(folder, files)) {
        problems.push_back(p);
    }
    if (!problems.empty()) {
        return Refuse(io, cmd, problems);
    }

    std::vector<std::string> paths;
    uint64_t total = 0;
    for (const ReleaseFile& f : files) {
        paths.push_back(f.path);
        total += static_cast<uint64_t>(f.size);
    }
    std::vector<std::string> digests;
    ProgressLine progress(io, "hashing", files.size(), total);
    if (!HashFiles(
            paths, digests, [&](uint64_t n, uint64_t bytes) { progress.Update(n, bytes); }, error)) {
        return Fail(io, cmd, error + " (nothing was written)");
    }
    progress.Finish();

    std::vector<bool> patternUsed(patterns.size(), false);
    for (size_t i = 0; i < files.size(); ++i) {
        ManifestFile entry{files[i].name, files[i].size, digests[i], false};
        for (size_t k = 0; k < patterns.size(); ++k) {
            if (fnmatch(patterns[k].c_str(), entry.name.c_str(), FNM_PATHNAME) == 0) {
                entry.onlyIfMissing = true;
                patternUsed[k] = true;
            }
        }
        draft.files.push_back(std::move(entry));
    }
    for (size_t k = 0; k < patterns.size(); ++k) {
        if (!patternUsed[k]) {
            io.err << "warning: --only-if-missing " << patterns[k] << " matches no file\n";
        }
    }
    // The last gate: whatever the text holds must read back as written (and fit).
    const std::string text = FormatManifestText(draft);
    problems = FindManifestProblems(text);
    if (!problems.empty()) {
        return Refuse(io, cmd, problems);
    }
    if (outPath.empty()) {
        io.out << text << std::flush;
    } else if (!WriteFileReplacing(outPath, text, 0644, error)) {
        return Fail(io, cmd, error);
    }
    io.err << "Manifest of version " << draft.version << ": " << files.size() << " files, "
           << FormatBytes(total) << (outPath.empty() ? "" : " -> " + outPath) << "\n";
    return 0;
}
