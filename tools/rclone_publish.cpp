#include "tools/rclone_publish.h"

#include <filesystem>
#include <map>
#include <ostream>
#include <set>

#include "tools/folder_hasher.h"
#include "tools/rclone_transfer.h"
#include "tools/release_freshness.h"

extern const char kPublishRcloneHelp[] =
    "\n"
    "DEST may also be object storage through rclone: rclone:REMOTE:BUCKET/PATH, REMOTE a\n"
    "remote of rclone's configuration (\"rclone config\", or RCLONE_CONFIG_<NAME>_*\n"
    "variables). The same checks and refusals apply; then:\n"
    "  1. the version's files are uploaded (objects there already are kept), each with\n"
    "     Cache-Control: public, max-age=31536000, immutable (a version never changes);\n"
    "  2. each is read back and compared by size and SHA-256;\n"
    "  3. only then the manifest is uploaded, one PUT, with Cache-Control: no-cache, or\n"
    "     public, max-age=S with --manifest-max-age S (at most 300), and read back.\n"
    "A publish cut off at any point leaves the old manifest and all it names. On object\n"
    "storage one PUT replaces an object whole; rclone's file-system remotes (sftp, local)\n"
    "may write in place, so publish to a server's folder with the rsync forms instead.\n";

namespace {

const char kCmd[] = "publish";

// The version's objects read back into a temporary folder and checked against the
// manifest: a problem line for each one that is missing or other than the manifest says.
// `stagedFolder` non-empty: objects found there before the upload, told apart from the
// staged files of that folder.
bool ReadBackFiles(CommandIo& io,
                   const std::string& stagedFolder,
                   const std::string& remote,
                   const std::vector<std::string>& names,
                   const std::vector<const ManifestFile*>& records,
                   uint64_t total,
                   std::vector<std::string>& problems,
                   std::string& error) {
    TemporaryFolder temp;
    if (temp.path().empty()) {
        error = "cannot make a temporary folder";
        return false;
    }
    if (!RcloneDownloadFiles(remote, names, temp.path(), error)) {
        return false;
    }
    std::vector<std::string> paths;
    for (const std::string& n : names) {
        paths.push_back(temp.path() + "/" + n);
    }
    std::vector<std::string> digests;
    ProgressLine progress(io, "reading back", names.size(), total);
    std::string unreadable;
    if (!HashFiles(
            paths, digests, [&](uint64_t n, uint64_t b) { progress.Update(n, b); }, unreadable)) {
        // A file rclone did not bring back: say which one.
        for (size_t i = 0; i < paths.size(); ++i) {
            std::vector<std::string> one;
            if (!HashFiles({paths[i]}, one, nullptr, unreadable)) {
                problems.push_back(RcloneObject(remote, names[i]) + ": could not be read back");
            }
        }
        return true;
    }
    progress.Finish();
    for (size_t i = 0; i < names.size(); ++i) {
        std::error_code ec;
        const auto size = std::filesystem::file_size(paths[i], ec);
        const bool differs =
            ec || size != static_cast<uint64_t>(records[i]->size) || digests[i] != records[i]->sha256;
        if (differs && !stagedFolder.empty()) {
            problems.push_back(RcloneObject(remote, names[i]) + ": holds other content than " + stagedFolder +
                               "/" + names[i]);
        } else if (ec || size != static_cast<uint64_t>(records[i]->size)) {
            problems.push_back(RcloneObject(remote, names[i]) + ": " + std::to_string(ec ? 0 : size) +
                               " bytes read back, the manifest says " + std::to_string(records[i]->size));
        } else if (digests[i] != records[i]->sha256) {
            problems.push_back(RcloneObject(remote, names[i]) +
                               ": its SHA-256 read back is not the manifest's");
        }
    }
    return true;
}

// The object `relative` under `remote`: whether it is there and its size.
bool FindObject(const std::string& remote,
                const std::string& relative,
                bool& present,
                int64_t& size,
                std::string& error) {
    const size_t slash = relative.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : relative.substr(0, slash);
    const std::string base = relative.substr(slash == std::string::npos ? 0 : slash + 1);
    std::vector<RcloneEntry> entries;
    if (!RcloneList(RcloneObject(remote, folder), 1, false, entries, error)) {
        return false;
    }
    present = false;
    for (const RcloneEntry& e : entries) {
        if (!e.isFolder && e.path == base) {
            present = true;
            size = e.size;
        }
    }
    return true;
}

}  // namespace

int PublishToRclone(CommandIo& io,
                    const std::string& dest,
                    const CheckedRelease& release,
                    int manifestMaxAge) {
    std::string remote;
    std::string error;
    if (!ParseRcloneDestination(dest, remote, error)) {
        return UsageError(io, kCmd, error);
    }
    const ReleaseManifest& m = release.loaded->manifest;
    const std::string versionFolder = "download/" + m.version;
    const std::string manifestObject = RcloneObject(remote, release.manifestRelative);
    std::vector<std::string> problems;

    // Installations that took the manifest there accept only a higher serial.
    bool present = false;
    int64_t size = 0;
    if (!FindObject(remote, release.manifestRelative, present, size, error)) {
        return Fail(io, kCmd, error + " (nothing was published)");
    }
    if (present) {
        std::string current;
        if (!RcloneReadObject(manifestObject, current, error)) {
            return Fail(io, kCmd, error + " (nothing was published)");
        }
        std::vector<std::string> notes;
        CheckFollowsCurrentManifest(current, manifestObject, *release.loaded, NowSeconds(), notes, problems);
        for (const std::string& note : notes) {
            io.err << "note: " << note << "\n";
        }
        if (!problems.empty()) {
            return Refuse(io, kCmd, problems);
        }
    }

    // A version folder there may hold the manifest's own files already (a publish cut
    // off, or repeated), never others; those there are read back before anything is sent.
    std::vector<RcloneEntry> entries;
    if (!RcloneList(RcloneObject(remote, versionFolder), 0, false, entries, error)) {
        return Fail(io, kCmd, error + " (nothing was published)");
    }
    std::map<std::string, size_t> index;
    for (size_t i = 0; i < release.names.size(); ++i) {
        index[release.names[i]] = i;
    }
    std::vector<std::string> thereNames;
    std::vector<const ManifestFile*> thereRecords;
    uint64_t thereBytes = 0;
    std::set<std::string> there;
    for (const RcloneEntry& e : entries) {
        if (e.isFolder) {
            continue;
        }
        const std::string name = versionFolder + "/" + e.path;
        const auto it = index.find(name);
        if (it == index.end()) {
            problems.push_back(RcloneObject(remote, name) + ": not in the manifest of version " + m.version);
            continue;
        }
        there.insert(name);
        thereNames.push_back(e.path);
        thereRecords.push_back(release.records[it->second]);
        thereBytes += static_cast<uint64_t>(e.size);
    }
    if (!thereNames.empty() &&
        !ReadBackFiles(io, release.root + "/" + versionFolder, RcloneObject(remote, versionFolder),
                       thereNames, thereRecords, thereBytes, problems, error)) {
        return Fail(io, kCmd, error + " (nothing was published)");
    }
    if (!problems.empty()) {
        problems.push_back(RcloneObject(remote, versionFolder) + ": version " + m.version +
                           " is published with other files; a published version must not change (use a new "
                           "version)");
        return Refuse(io, kCmd, problems);
    }

    // The files first, then each read back.
    std::vector<std::string> sendNames;
    std::vector<const ManifestFile*> sendRecords;
    uint64_t sendBytes = 0;
    for (size_t i = 0; i < release.names.size(); ++i) {
        if (!there.count(release.names[i])) {
            sendNames.push_back(release.names[i].substr(versionFolder.size() + 1));
            sendRecords.push_back(release.records[i]);
            sendBytes += static_cast<uint64_t>(release.records[i]->size);
        }
    }
    if (!sendNames.empty()) {
        if (!RcloneUploadFiles(release.root + "/" + versionFolder, RcloneObject(remote, versionFolder),
                               sendNames, kImmutableCacheControl, error) ||
            !ReadBackFiles(io, "", RcloneObject(remote, versionFolder), sendNames, sendRecords, sendBytes,
                           problems, error)) {
            return Fail(io, kCmd, error + " (the manifest was not published)");
        }
    }
    if (!problems.empty()) {
        for (const std::string& p : problems) {
            Fail(io, kCmd, p);
        }
        return Fail(io, kCmd, "the manifest was not published");
    }

    // The manifest last, one PUT, then read back whole.
    const std::string cacheControl = ManifestCacheControl(manifestMaxAge);
    std::string back;
    if (!RcloneUploadOne(release.manifestPath, manifestObject, cacheControl, error) ||
        !RcloneReadObject(manifestObject, back, error)) {
        return Fail(io, kCmd, error + " (the files of version " + m.version + " are in place)");
    }
    if (back != release.loaded->body) {
        return Fail(io, kCmd, manifestObject + ": read back, it is not " + release.manifestPath);
    }
    io.out << "Published version " << m.version << ": " << release.names.size() << " files ("
           << FormatBytes(release.total) << ") under " << RcloneObject(remote, versionFolder) << "/ ("
           << sendNames.size() << " uploaded, " << there.size() << " there already), then the manifest "
           << manifestObject << "\n"
           << "Cache-Control: files \"" << kImmutableCacheControl << "\", manifest \"" << cacheControl
           << "\"\n"
           << "Checked: every file and the manifest read back, sizes and SHA-256 as the manifest says\n";
    return 0;
}

bool RcloneReadManifest(const std::string& dest,
                        const std::string& relative,
                        std::string& body,
                        bool& present,
                        std::string& error) {
    std::string remote;
    int64_t size = 0;
    if (!ParseRcloneDestination(dest, remote, error) || !FindObject(remote, relative, present, size, error)) {
        return false;
    }
    return !present || RcloneReadObject(RcloneObject(remote, relative), body, error);
}

bool RclonePutManifest(const std::string& dest,
                       const std::string& relative,
                       const std::string& file,
                       const std::string& body,
                       std::string& error) {
    std::string remote;
    if (!ParseRcloneDestination(dest, remote, error)) {
        return false;
    }
    const std::string object = RcloneObject(remote, relative);
    std::string back;
    if (!RcloneUploadOne(file, object, ManifestCacheControl(0), error) ||
        !RcloneReadObject(object, back, error)) {
        return false;
    }
    if (back != body) {
        error = object + ": read back, it is not the manifest uploaded";
        return false;
    }
    return true;
}

bool RcloneReadRelative(const std::string& dest,
                        const std::string& relative,
                        std::string& body,
                        std::string& error) {
    std::string remote;
    return ParseRcloneDestination(dest, remote, error) &&
           RcloneReadObject(RcloneObject(remote, relative), body, error);
}
