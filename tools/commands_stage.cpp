// stage: lay out a signed release as the files of a static HTTPS update server.
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <ostream>
#include <vector>

#include "tools/atomic_file.h"
#include "tools/cli_args.h"
#include "tools/commands.h"
#include "tools/delta_records.h"
#include "tools/folder_hasher.h"
#include "tools/manifest_writer.h"
#include "tools/release_freshness.h"
#include "tools/rollout_records.h"
#include "tools/updater_key.h"

extern const char kStageHelp[] =
    "Usage: vorlane-release stage --release-dir DIR --signed SIGNED_MANIFEST --out ROOT\n"
    "                             [--public FILE] [--next-key PUBLIC_FILE] [--channel C]\n"
    "                             [--deltas DELTA_DIR]\n"
    "\n"
    "Lays out ROOT as the update server's document root:\n"
    "  ROOT/download/<version>/<name>  every file of the manifest, copied from DIR\n"
    "  ROOT<manifest path>             the signed manifest (the path the updater requests)\n"
    "Each staged copy is hashed and compared with the manifest before anything is put in\n"
    "place; the files go in first and the manifest last. A version already staged under\n"
    "ROOT is refused: a published version never changes. With --public the signature is\n"
    "verified first. Upload in the same order: the download folder, then the manifest.\n"
    "The release's VorlanePatcher.exe must trust the key that signs the manifest, and the\n"
    "manifest must verify with the key of the updater that the release now staged under\n"
    "ROOT ships: otherwise installations could never update again. --next-key FILE is a\n"
    "key rotation: the release's updater must then trust exactly that next key, and must\n"
    "not be marked only-if-missing (no installation would ever take it).\n"
    "A manifest whose serial is not higher than that of the manifest already under ROOT is\n"
    "refused: installations that took the staged one would refuse it.\n"
    "--channel C stages channel C's release: the manifest goes to ROOT<manifest path with C/\n"
    "before the file name> and must be signed for C (sign --channel C); the files go to\n"
    "ROOT/download/<version>/ as every channel's do. Without it, or with \"stable\", the default\n"
    "channel: a manifest signed for another channel is refused.\n"
    "--deltas DELTA_DIR (what \"deltas --out\" wrote): the manifest's delta records go to\n"
    "ROOT/download/<version>/.delta/<base sha256>/<name>.zst, each checked against its\n"
    "record's size and SHA-256. A manifest with delta records is refused without it.\n";

namespace fs = std::filesystem;

namespace {

// Copies every listed file into `partial` and checks each copy against the manifest.
bool CopyAndCheck(CommandIo& io,
                  const ReleaseManifest& m,
                  const std::string& releaseDir,
                  const fs::path& partial,
                  const std::vector<DeltaRecord>& deltas,
                  const std::string& deltaDir,
                  std::vector<std::string>& problems) {
    // A name listed twice is one file; each of its records must match it.
    std::map<std::string, std::vector<const ManifestFile*>> records;
    uint64_t total = 0;
    for (const ManifestFile& f : m.files) {
        std::vector<const ManifestFile*>& list = records[f.name];
        if (list.empty()) {
            total += f.size > 0 ? static_cast<uint64_t>(f.size) : 0;
        }
        list.push_back(&f);
    }
    std::vector<std::string> staged;
    for (const auto& [name, list] : records) {
        const fs::path target = partial / name;
        std::error_code ec;
        fs::create_directories(target.parent_path(), ec);
        if (ec || !fs::copy_file(fs::path(releaseDir) / name, target, ec)) {
            problems.push_back(releaseDir + "/" + name + ": cannot copy: " + ec.message());
            return false;
        }
        staged.push_back(target.string());
    }
    // Each delta is checked against its own record, as the updater will check it.
    std::vector<ManifestFile> deltaFiles;
    for (const DeltaRecord& d : deltas) {
        const std::string name = DeltaServedName(d);
        const fs::path target = partial / name;
        std::error_code ec;
        fs::create_directories(target.parent_path(), ec);
        if (ec || !fs::copy_file(fs::path(deltaDir) / name, target, ec)) {
            problems.push_back(deltaDir + "/" + name + ": cannot copy: " + ec.message());
            return false;
        }
        staged.push_back(target.string());
        deltaFiles.push_back({name, d.size, d.sha256, false});
        total += static_cast<uint64_t>(d.size);
    }
    std::vector<std::string> digests;
    std::string error;
    ProgressLine progress(io, "checking the staged files", staged.size(), total);
    if (!HashFiles(
            staged, digests, [&](uint64_t n, uint64_t b) { progress.Update(n, b); }, error)) {
        problems.push_back(error);
        return false;
    }
    progress.Finish();
    size_t i = 0;
    for (const auto& [name, list] : records) {
        std::error_code ec;
        const auto size = fs::file_size(staged[i], ec);
        for (const ManifestFile* f : list) {
            if (digests[i] != f->sha256) {
                problems.push_back(
                    releaseDir + "/" + name +
                    ": its SHA-256 is not the manifest's (changed since the manifest was made?)");
            } else if (ec || static_cast<int64_t>(size) != f->size) {
                problems.push_back(releaseDir + "/" + name + ": its size is not the manifest's " +
                                   std::to_string(f->size));
            }
        }
        ++i;
    }
    for (const ManifestFile& d : deltaFiles) {
        std::error_code ec;
        const auto size = fs::file_size(staged[i], ec);
        if (ec || static_cast<int64_t>(size) != d.size) {
            problems.push_back(deltaDir + "/" + d.name + ": its size is not the delta record's " +
                               std::to_string(d.size));
        } else if (digests[i] != d.sha256) {
            problems.push_back(deltaDir + "/" + d.name + ": its SHA-256 is not the delta record's");
        }
        ++i;
    }
    return problems.empty();
}

// Installations that took the release now staged under ROOT run the updater it shipped;
// the new manifest must verify with the key that updater trusts, or they never update again.
void CheckAgainstStagedRelease(const fs::path& root,
                               const std::string& manifestRelative,
                               const LoadedManifest& next,
                               std::vector<std::string>& notes,
                               std::vector<std::string>& problems) {
    const fs::path current = root / manifestRelative;
    std::error_code ec;
    if (!fs::exists(current, ec)) {
        return;  // the first release under ROOT
    }
    LoadedManifest staged;
    std::string error;
    if (!LoadSignedManifest(current.string(), nullptr, staged, error)) {
        notes.push_back(current.string() + ": " + error +
                        "; the key of the installed updaters was not checked");
        return;
    }
    for (const ManifestFile& f : staged.manifest.files) {
        if (!IsUpdaterEntryName(f.name)) {
            continue;
        }
        const std::string exe = (root / "download" / staged.manifest.version / f.name).string();
        std::string bytes;
        PublicKeyHex trusted;
        if (!ReadWholeFile(exe, bytes, error) || !FindUpdaterKey(bytes, trusted, error)) {
            notes.push_back(exe + ": " + error + "; the key of the installed updaters was not checked");
        } else if (!VerifyManifestSignatureWithKey(next.split.signedText, next.split.signatureText,
                                                   trusted.x.c_str(), trusted.y.c_str())) {
            problems.push_back("installations updated to version " + staged.manifest.version +
                               " (staged under " + root.string() + ") run an updater that trusts the key " +
                               ShortKey(trusted) +
                               "; this manifest is not signed with it, so they would refuse it and never "
                               "update again. A key rotation signs with the current key (see --next-key)");
        } else {
            notes.push_back("the updater of version " + staged.manifest.version + " trusts the key " +
                            ShortKey(trusted) + ", which signs this manifest");
        }
        return;
    }
    notes.push_back("version " + staged.manifest.version + " staged under " + root.string() + " ships no " +
                    kUpdaterFileName + "; the key of the installed updaters was not checked");
}

}  // namespace

int RunStage(const Args& argv, CommandIo& io) {
    const char* cmd = "stage";
    ParsedArgs args;
    std::string error;
    std::string releaseDir;
    std::string signedPath;
    std::string root;
    std::string keyPath;
    std::string nextKeyPath;
    std::string channelOption;
    std::string channel;
    std::string deltaDir;
    if (!ParseArgs(argv, {"release-dir", "signed", "out", "public", "next-key", "channel", "deltas"}, args,
                   error)) {
        return UsageError(io, cmd, error);
    }
    std::string manifestRelative;
    std::string pathError;
    const bool havePath = ManifestPathUnderRoot(manifestRelative, pathError);
    if (args.help) {
        io.out << kStageHelp << "The manifest path of this build: ROOT/" << manifestRelative << "\n";
        return 0;
    }
    if (!SingleValue(args, "release-dir", true, releaseDir, error) ||
        !SingleValue(args, "signed", true, signedPath, error) ||
        !SingleValue(args, "out", true, root, error) || !SingleValue(args, "public", false, keyPath, error) ||
        !SingleValue(args, "next-key", false, nextKeyPath, error) ||
        !SingleValue(args, "channel", false, channelOption, error) ||
        !SingleValue(args, "deltas", false, deltaDir, error) ||
        (args.values.count("channel") && !ParseChannelOption(channelOption, channel, error))) {
        return UsageError(io, cmd, error);
    }
    manifestRelative = ChannelManifestPath(manifestRelative, channel);
    if (!args.positionals.empty()) {
        return UsageError(io, cmd, "unexpected argument " + args.positionals.front());
    }
    PublicKeyHex key;
    PublicKeyHex next;
    if ((!keyPath.empty() && !ReadPublicKey(keyPath, key, error)) ||
        (!nextKeyPath.empty() && !ReadPublicKey(nextKeyPath, next, error))) {
        return Fail(io, cmd, error);
    }
    LoadedManifest loaded;
    if (!LoadSignedManifest(signedPath, keyPath.empty() ? nullptr : &key, loaded, error)) {
        return Fail(io, cmd, signedPath + ": " + error + " (nothing was staged)");
    }
    std::vector<std::string> problems = FindManifestProblems(loaded.split.signedText);
    std::vector<uint8_t> signature;
    if (!HexToBytes(loaded.split.signatureText, signature) || signature.size() != 64) {
        problems.push_back("the sig= line does not hold 128 hex digits");
    }
    const std::string channelProblem = ChannelProblem(loaded.split.signedText, channel);
    if (!channelProblem.empty()) {
        problems.push_back(channelProblem);
    }
    for (std::string& p : problems) {
        p = signedPath + ": " + p;
    }
    if (!havePath) {
        problems.push_back(pathError);
    }
    const std::vector<DeltaRecord> deltas = DeltaRecordsOf(loaded.split.signedText);
    if (!deltas.empty() && deltaDir.empty()) {
        problems.push_back(signedPath + ": lists " + std::to_string(deltas.size()) +
                           " deltas; give the folder \"deltas --out\" wrote them to (--deltas DELTA_DIR)");
    }
    const ReleaseManifest& m = loaded.manifest;
    const fs::path versionDir = fs::path(root) / "download" / m.version;
    std::error_code ec;
    if (fs::exists(fs::symlink_status(versionDir, ec))) {
        problems.push_back(
            versionDir.string() + ": version " + m.version +
            " is staged already; a published version must not change (remove it or use a new version)");
    }
    std::vector<std::string> notes;
    if (problems.empty()) {
        // The updater is read where the manifest's digest of it holds: the bytes then staged.
        const SigningKeyFacts signer{
            [&](const PublicKeyHex& k) {
                return VerifyManifestSignatureWithKey(loaded.split.signedText, loaded.split.signatureText,
                                                      k.x.c_str(), k.y.c_str());
            },
            keyPath.empty() ? std::string("a key not given (--public names it)") : ShortKey(key)};
        CheckUpdaterKey(loaded.manifest, releaseDir, signer, nextKeyPath.empty() ? nullptr : &next, notes,
                        problems);
    }
    if (havePath && problems.empty()) {
        CheckAgainstStagedRelease(root, manifestRelative, loaded, notes, problems);
        const std::string current = (fs::path(root) / manifestRelative).string();
        std::string currentBody;
        if (fs::exists(current, ec) && ReadWholeFile(current, currentBody, error)) {
            CheckFollowsCurrentManifest(currentBody, current, loaded, NowSeconds(), notes, problems);
        }
    }
    if (!problems.empty()) {
        return Refuse(io, cmd, problems);
    }

    // Folders this run makes are removed again if it fails, so a refusal leaves nothing.
    const fs::path downloadDir = versionDir.parent_path();
    const bool hadRoot = fs::exists(root, ec);
    const bool hadDownload = fs::exists(downloadDir, ec);
    auto removeMadeFolders = [&] {
        std::error_code ignored;
        if (!hadDownload) {
            fs::remove(downloadDir, ignored);
        }
        if (!hadRoot) {
            fs::remove(root, ignored);
        }
    };
    fs::create_directories(downloadDir, ec);
    std::string tmpl = (downloadDir / ".stage-XXXXXX").string();
    if (ec || !mkdtemp(tmpl.data())) {
        removeMadeFolders();
        return Fail(io, cmd, downloadDir.string() + ": cannot create a folder there");
    }
    const fs::path partial(tmpl);
    if (!CopyAndCheck(io, m, releaseDir, partial, deltas, deltaDir, problems)) {
        fs::remove_all(partial, ec);
        removeMadeFolders();
        return Refuse(io, cmd, problems);
    }
    chmod(partial.c_str(), 0755);  // mkdtemp makes it private; the server must read it
    // The files first: a manifest must never name files the server does not have yet.
    if (rename(partial.c_str(), versionDir.c_str()) != 0) {
        fs::remove_all(partial, ec);
        return Fail(io, cmd, versionDir.string() + ": cannot move the staged files into place");
    }
    const fs::path manifestPath = fs::path(root) / manifestRelative;
    fs::create_directories(manifestPath.parent_path(), ec);
    if (ec || !WriteFileReplacing(manifestPath.string(), loaded.body, 0644, error)) {
        return Fail(io, cmd,
                    (ec ? manifestPath.parent_path().string() + ": " + ec.message() : error) +
                        " (the files are staged under " + versionDir.string() + ")");
    }
    io.out << "Staged version " << m.version << ": " << m.files.size() << " files"
           << (deltas.empty() ? std::string() : " and " + std::to_string(deltas.size()) + " deltas") << " under "
           << versionDir.string() << "\nManifest: " << manifestPath.string() << "\n";
    for (const std::string& note : notes) {
        io.out << "updater: " << note << "\n";
    }
    return 0;
}
