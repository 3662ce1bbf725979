// publish: upload a staged release so that no client ever sees a manifest whose files
// are not all on the server: the version's files first, checked where they arrived, and
// only then the manifest, under a temporary name renamed into place.
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <ostream>
#include <set>

#include "net/server_address.h"
#include "tools/atomic_file.h"
#include "tools/cli_args.h"
#include "tools/commands.h"
#include "tools/delta_records.h"
#include "tools/folder_hasher.h"
#include "tools/manifest_writer.h"
#include "tools/publish_steps.h"
#include "tools/rclone_destination.h"
#include "tools/rclone_publish.h"
#include "tools/release_freshness.h"
#include "tools/rollout_records.h"
#include "tools/rsync_destination.h"
#include "tools/updater_key.h"

extern const char kPublishHelp[] =
    "Usage: vorlane-release publish --staged ROOT [--public FILE] [--channel C] [--manifest-max-age S]\n"
    "       DEST\n"
    "\n"
    "Uploads the release staged in ROOT (by \"stage\") to DEST, the update server's\n"
    "document root: a local folder, or an rsync destination such as\n"
    "user@host:/srv/vorlane (over ssh; RSYNC_RSH chooses another remote shell) or\n"
    "rsync://host/module. In this order:\n"
    "  1. the staged files are checked against the manifest (sizes and SHA-256);\n"
    "  2. a version folder DEST/download/<version>/ that holds other files, or files the\n"
    "     manifest does not list, is refused: a published version never changes (the\n"
    "     deltas its delta records name, under .delta/, are listed files like the others);\n"
    "  3. the version's files are copied (files already there and equal are kept);\n"
    "  4. what arrived is checked: every size, and on a local DEST every SHA-256;\n"
    "  5. the copies are made durable: rsync's --fsync where the rsync on DEST has it,\n"
    "     otherwise \"sync\" run there through the same remote shell (the output says which);\n"
    "  6. only then the manifest goes in place under a temporary name and is renamed,\n"
    "     so that a client sees the old manifest or the new one, never one whose files\n"
    "     are missing.\n"
    "DEST follows rsync's rule: a colon before the first \"/\" names a host, and\n"
    "user@host: is that user's home folder; write a local folder such as rel:1 as ./rel:1.\n"
    "Links on DEST on the way to download/<version>/ and to the manifest's folder (a linked\n"
    "DEST or download/) are followed: rsync is handed the folder they lead to and writes\n"
    "through no link. A link inside a version folder, and links in ROOT, are refused.\n"
    "Temporary files an interrupted rsync left in the version folder are ignored.\n"
    "A manifest whose serial is not higher than that of the manifest DEST serves now is\n"
    "refused (installations that took that one would refuse it), unless it is that very\n"
    "manifest again.\n"
    "With --public the manifest's signature is verified first. Needs rsync.\n"
    "--channel C publishes channel C's release (staged with stage --channel C): its manifest\n"
    "goes to the channel's path (the manifest path with C/ before the file name) and must be\n"
    "signed for C; its files go to download/<version>/ as every channel's do. Without it, or\n"
    "with \"stable\", the default channel: a manifest signed for another channel is refused.\n";

namespace fs = std::filesystem;

namespace {

const char kCmd[] = "publish";

std::string Join(const std::string& folder, const std::string& name) {
    return folder.empty() || folder.back() == '/' ? folder + name : folder + "/" + name;
}

// The first symbolic link on the way from `root` to `relative` ("" when there is none):
// rsync copies no links, so such a file would be missing on the server.
std::string FindLinkBelow(const std::string& root, const std::string& relative) {
    std::string path = root;
    size_t from = 0;
    while (from <= relative.size()) {
        const size_t slash = std::min(relative.find('/', from), relative.size());
        path = Join(path, relative.substr(from, slash - from));
        struct stat st;
        if (lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
            return path;
        }
        from = slash + 1;
    }
    return "";
}

// Sizes and digests of `paths` against the manifest records of `names` (same order).
void CheckFiles(CommandIo& io,
                const char* what,
                const std::vector<std::string>& paths,
                const std::vector<const ManifestFile*>& records,
                uint64_t total,
                std::vector<std::string>& problems) {
    for (size_t i = 0; i < paths.size(); ++i) {
        struct stat st;
        if (stat(paths[i].c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
            problems.push_back(paths[i] + ": missing");
        } else if (st.st_size != records[i]->size) {
            problems.push_back(paths[i] + ": " + std::to_string(st.st_size) + " bytes, the manifest says " +
                               std::to_string(records[i]->size));
        }
    }
    if (!problems.empty()) {
        return;
    }
    std::vector<std::string> digests;
    std::string error;
    ProgressLine progress(io, what, paths.size(), total);
    if (!HashFiles(
            paths, digests, [&](uint64_t n, uint64_t b) { progress.Update(n, b); }, error)) {
        problems.push_back(error);
        return;
    }
    progress.Finish();
    for (size_t i = 0; i < paths.size(); ++i) {
        if (digests[i] != records[i]->sha256) {
            problems.push_back(paths[i] + ": its SHA-256 is not the manifest's");
        }
    }
}

// DEST's entries at and under `name` (relative to DEST, under place.relative), listed in
// the real folder place.folder and named relative to DEST again.
bool ListThere(const DestinationFolder& place,
               const std::string& name,
               std::map<std::string, DestinationEntry>& entries,
               std::string& error) {
    std::map<std::string, DestinationEntry> inFolder;
    if (!ListDestination(place.folder, NameInFolder(place, name), inFolder, error)) {
        return false;
    }
    entries.clear();
    for (const auto& [n, entry] : inFolder) {
        entries[NameInDestination(place, n)] = entry;
    }
    return true;
}

std::vector<std::string> NamesThere(const DestinationFolder& place, const std::vector<std::string>& names) {
    std::vector<std::string> out;
    for (const std::string& n : names) {
        out.push_back(NameInFolder(place, n));
    }
    return out;
}

}  // namespace

bool ReadDestinationManifest(const std::string& dest,
                             const DestinationFolder& place,
                             const std::string& relative,
                             std::string& body,
                             bool& present,
                             std::string& error) {
    std::map<std::string, DestinationEntry> entries;
    if (!ListThere(place, relative, entries, error)) {
        return false;
    }
    const auto it = entries.find(relative);
    present = it != entries.end() && !it->second.isFolder;
    if (!present) {
        return true;
    }
    if (IsLocalDestination(dest)) {
        return ReadWholeFile(Join(dest, relative), body, error);
    }
    const char* tmp = getenv("TMPDIR");
    std::string folder = std::string(tmp && *tmp ? tmp : "/tmp") + "/vorlane-current-XXXXXX";
    if (!mkdtemp(folder.data())) {
        error = folder + ": cannot make a temporary folder";
        return false;
    }
    const std::string copy = folder + "/current-manifest";
    const bool ok = FetchFromDestination(place.folder, NameInFolder(place, relative), copy, error) &&
                    ReadWholeFile(copy, body, error);
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    return ok;
}

bool PutDestinationManifest(const std::string& root,
                            const std::string& dest,
                            const DestinationFolder& place,
                            const std::string& relative,
                            const std::string& body,
                            Durability how,
                            std::string& error) {
    const std::string destManifest = DestinationPath(dest, relative);
    if (IsLocalDestination(dest)) {
        std::error_code ec;
        fs::create_directories(fs::path(destManifest).parent_path(), ec);
        if (ec) {
            error = destManifest + ": " + ec.message();
            return false;
        }
        return WriteFileReplacing(destManifest, body, 0644, error);
    }
    std::map<std::string, DestinationEntry> present;
    if (!CopyToDestination(Join(root, ReachedPart(place)), place.folder, {NameInFolder(place, relative)},
                           true, how, false, error) ||
        !ListThere(place, relative, present, error)) {
        return false;
    }
    const auto it = present.find(relative);
    if (it == present.end() || it->second.size != body.size()) {
        error = destManifest + ": not the size of " + Join(root, relative) + " after the copy";
        return false;
    }
    return true;
}

int RunPublish(const Args& argv, CommandIo& io) {
    ParsedArgs args;
    std::string error;
    std::string root;
    std::string keyPath;
    std::string channelOption;
    std::string channel;
    if (!ParseArgs(argv, {"staged", "public", "channel", "manifest-max-age"}, args, error)) {
        return UsageError(io, kCmd, error);
    }
    std::string manifestRelative;
    if (!ManifestPathUnderRoot(manifestRelative, error)) {
        return Fail(io, kCmd, error);
    }
    if (args.help) {
        io.out << kPublishHelp << kPublishRcloneHelp << "The manifest path of this build: DEST/"
               << manifestRelative << "\n";
        return 0;
    }
    if (!SingleValue(args, "staged", true, root, error) ||
        !SingleValue(args, "public", false, keyPath, error) ||
        !SingleValue(args, "channel", false, channelOption, error) ||
        (args.values.count("channel") && !ParseChannelOption(channelOption, channel, error))) {
        return UsageError(io, kCmd, error);
    }
    manifestRelative = ChannelManifestPath(manifestRelative, channel);
    if (args.positionals.size() != 1) {
        return UsageError(io, kCmd, args.positionals.empty() ? "DEST is missing" : "give exactly one DEST");
    }
    const std::string dest = args.positionals.front();
    const bool rclone = IsRcloneDestination(dest);
    const bool local = IsLocalDestination(dest);
    std::string maxAgeText;
    int manifestMaxAge = 0;
    if (!SingleValue(args, "manifest-max-age", false, maxAgeText, error) ||
        (!maxAgeText.empty() && !ParseManifestMaxAge(maxAgeText, manifestMaxAge, error))) {
        return UsageError(io, kCmd, error);
    }
    if (!maxAgeText.empty() && !rclone) {
        return UsageError(io, kCmd,
                          "--manifest-max-age sets a header of object storage (an rclone: DEST); "
                          "a web server sets the manifest's cache lifetime in its own configuration");
    }
    std::error_code ec;
    if (!local && !rclone && fs::exists(fs::symlink_status(dest, ec))) {
        return UsageError(io, kCmd,
                          dest + " names a local folder here, but rsync reads it as a remote host; write ./" +
                              dest + " for the folder");
    }
    PublicKeyHex key;
    if (!keyPath.empty() && !ReadPublicKey(keyPath, key, error)) {
        return Fail(io, kCmd, error);
    }
    const std::string manifestPath = Join(root, manifestRelative);
    LoadedManifest loaded;
    if (!LoadSignedManifest(manifestPath, keyPath.empty() ? nullptr : &key, loaded, error)) {
        return Fail(io, kCmd, manifestPath + ": " + error + " (nothing was published)");
    }
    const ReleaseManifest& m = loaded.manifest;
    const std::string versionFolder = "download/" + m.version;

    // The rules stage applies (the version is one safe folder name, names are sound),
    // since the version and the names become paths on DEST.
    std::vector<std::string> problems = FindManifestProblems(loaded.split.signedText);
    const std::string channelProblem = ChannelProblem(loaded.split.signedText, channel);
    if (!channelProblem.empty()) {
        problems.push_back(channelProblem);
    }
    for (std::string& p : problems) {
        p = manifestPath + ": " + p;
    }
    std::map<std::string, const ManifestFile*> byName;
    for (const ManifestFile& f : m.files) {
        byName.emplace(f.name, &f);
    }
    std::vector<std::string> names;  // relative to ROOT and DEST
    std::vector<std::string> sourcePaths;
    std::vector<const ManifestFile*> records;
    uint64_t total = 0;
    // The deltas lie in the version folder too, each named and checked by its own record:
    // they are carried and counted as listed like the files.
    std::vector<ManifestFile> deltaFiles;
    for (const DeltaRecord& d : DeltaRecordsOf(loaded.split.signedText)) {
        deltaFiles.push_back({DeltaServedName(d), d.size, d.sha256, false});
    }
    for (const ManifestFile& d : deltaFiles) {
        byName.emplace(d.name, &d);
    }
    for (const auto& [name, f] : byName) {
        names.push_back(versionFolder + "/" + name);
        sourcePaths.push_back(Join(root, names.back()));
        records.push_back(f);
        total += static_cast<uint64_t>(f->size);
    }
    std::vector<std::string> staged = names;
    staged.push_back(manifestRelative);
    for (const std::string& name : staged) {
        const std::string link = FindLinkBelow(root, name);
        if (!link.empty()) {
            problems.push_back(link +
                               ": a symbolic link; rsync copies plain files and folders only (stage the "
                               "release again)");
        }
    }
    if (problems.empty()) {
        CheckFiles(io, "checking the staged files", sourcePaths, records, total, problems);
    }
    if (problems.empty()) {
        // The key that signs is the one installations trust today (they refuse others).
        const SigningKeyFacts signer{[&](const PublicKeyHex& k) {
                                         return VerifyManifestSignatureWithKey(loaded.split.signedText,
                                                                               loaded.split.signatureText,
                                                                               k.x.c_str(), k.y.c_str());
                                     },
                                     "the key that signs"};
        CheckOnlyIfMissingUpdater(m, Join(root, versionFolder), signer, false, problems);
    }
    if (rclone && problems.empty()) {
        return PublishToRclone(
            io, dest, {root, manifestRelative, manifestPath, &loaded, names, records, total}, manifestMaxAge);
    }
    if (local && !fs::is_directory(dest)) {
        problems.push_back(dest + ": no such folder (the server's document root must exist)");
    }
    if (!problems.empty()) {
        return Refuse(io, kCmd, problems);
    }

    // rsync is handed the real folders that DEST's version folder and manifest folder lie
    // in (a linked download/ is followed here), and the staged folders that match them.
    std::vector<DestinationFolder> places = {{versionFolder, "", ""},
                                             {fs::path(manifestRelative).parent_path().string(), "", ""}};
    if (!LocateDestinationFolders(dest, places, error)) {
        return Fail(io, kCmd, error + " (nothing was published)");
    }
    const DestinationFolder& versionPlace = places[0];
    const DestinationFolder& manifestPlace = places[1];
    const std::string versionRoot = Join(root, ReachedPart(versionPlace));
    const std::vector<std::string> namesThere = NamesThere(versionPlace, names);

    // Installations that took DEST's manifest accept only a higher serial.
    std::string currentBody;
    bool currentPresent = false;
    if (!ReadDestinationManifest(dest, manifestPlace, manifestRelative, currentBody, currentPresent, error)) {
        return Fail(io, kCmd, error + " (nothing was published)");
    }
    if (currentPresent) {
        std::vector<std::string> notes;
        CheckFollowsCurrentManifest(currentBody, Join(dest, manifestRelative), loaded, NowSeconds(), notes,
                                    problems);
        for (const std::string& note : notes) {
            io.err << "note: " << note << "\n";
        }
        if (!problems.empty()) {
            return Refuse(io, kCmd, problems);
        }
    }

    // A version folder on DEST may hold the same files already (an interrupted or repeated
    // publish), never others.
    std::map<std::string, DestinationEntry> present;
    if (!ListThere(versionPlace, versionFolder, present, error)) {
        return Fail(io, kCmd, error + " (nothing was published)");
    }
    const std::set<std::string> listed(names.begin(), names.end());
    size_t leftovers = 0;
    for (const auto& [name, entry] : present) {
        if (entry.isLink) {
            problems.push_back(DestinationPath(dest, name) +
                               ": a symbolic link inside a version folder; rsync writes through none there");
            continue;
        }
        if (entry.isFolder || listed.count(name)) {
            continue;
        }
        if (IsRsyncLeftover(name, names)) {
            ++leftovers;
        } else {
            problems.push_back(DestinationPath(dest, name) + ": not in the manifest of version " + m.version);
        }
    }
    std::vector<std::string> differing;
    if (!FindDifferingFiles(versionRoot, versionPlace.folder, namesThere, differing, error)) {
        return Fail(io, kCmd, error + " (nothing was published)");
    }
    for (const std::string& there : differing) {
        const std::string name = NameInDestination(versionPlace, there);
        problems.push_back(DestinationPath(dest, name) + ": holds other content than " + Join(root, name));
    }
    if (!problems.empty()) {
        problems.push_back(DestinationPath(dest, versionFolder) + ": version " + m.version +
                           " is published with other files; a published version must not change (use a new "
                           "version)");
        return Refuse(io, kCmd, problems);
    }

    // The files first.
    Durability durability = Durability::Fsync;
    if (!ChooseDurability(root, dest, durability, error)) {
        return Fail(io, kCmd, error + " (nothing was published)");
    }
    if (!CopyToDestination(versionRoot, versionPlace.folder, namesThere, false, durability,
                           io.errIsTerminal && total >= kProgressBytes, error)) {
        return Fail(io, kCmd, error + " (the manifest was not published)");
    }
    if (!ListThere(versionPlace, versionFolder, present, error)) {
        return Fail(io, kCmd, error + " (the manifest was not published)");
    }
    for (size_t i = 0; i < names.size(); ++i) {
        const auto it = present.find(names[i]);
        if (it == present.end() || it->second.isFolder) {
            problems.push_back(DestinationPath(dest, names[i]) + ": missing after the copy");
        } else if (it->second.size != static_cast<uint64_t>(records[i]->size)) {
            problems.push_back(DestinationPath(dest, names[i]) + ": " + std::to_string(it->second.size) +
                               " bytes arrived, the manifest says " + std::to_string(records[i]->size));
        }
    }
    if (local && problems.empty()) {
        std::vector<std::string> arrived;
        for (const std::string& name : names) {
            arrived.push_back(Join(dest, name));
        }
        CheckFiles(io, "checking the copies", arrived, records, total, problems);
    }
    if (problems.empty() && !SyncDestination(dest, durability, error)) {
        problems.push_back(error);
    }
    if (!problems.empty()) {
        for (const std::string& p : problems) {
            Fail(io, kCmd, p);
        }
        return Fail(io, kCmd, "the manifest was not published");
    }

    // The manifest last, under a temporary name renamed into place.
    const std::string destManifest = DestinationPath(dest, manifestRelative);
    if (!PutDestinationManifest(root, dest, manifestPlace, manifestRelative, loaded.body, durability,
                                error)) {
        return Fail(io, kCmd, error + " (the files of version " + m.version + " are in place)");
    }
    io.out << "Published version " << m.version << ": " << names.size() - deltaFiles.size() << " files"
           << (deltaFiles.empty() ? std::string() : " and " + std::to_string(deltaFiles.size()) + " deltas")
           << " (" << FormatBytes(total)
           << ") under " << DestinationPath(dest, versionFolder) << "/, then the manifest " << destManifest
           << "\n"
           << "Durability: " << DescribeDurability(durability) << "\n";
    if (leftovers > 0) {
        io.out << "note: " << leftovers << " temporary file(s) of an interrupted rsync in "
               << DestinationPath(dest, versionFolder)
               << "/ were ignored; the updater never asks for them, and they may be removed\n";
    }
    io.out << "Probe the server as the updater sees it:\n"
           << "  vorlane-release probe --public " << (keyPath.empty() ? "PUBLIC_KEY" : keyPath)
           << (channel.empty() ? "" : " --channel " + channel) << " --signed " << manifestPath << " https://"
           << NarrowAscii(BuildServerHost()) << "\n";
    return 0;
}
