// A publishing destination in object storage, reached through Debian's rclone:
// "rclone:REMOTE:BUCKET/PATH", REMOTE being a remote of rclone's own configuration (its
// config file, or RCLONE_CONFIG_<NAME>_* variables). One path covers S3, R2, B2, GCS,
// Azure, WebDAV, SFTP and the rest. This file holds what needs no rclone: the form of
// DEST, the argument lists and the reading of rclone's listings.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Whether DEST is of this form ("rclone:" before anything else).
bool IsRcloneDestination(const std::string& dest);

// "rclone:REMOTE:BUCKET/PATH" into rclone's own name for the place, "REMOTE:BUCKET/PATH"
// without a trailing "/". False when REMOTE is missing or not a name rclone accepts.
bool ParseRcloneDestination(const std::string& dest, std::string& remote, std::string& error);

// `relative` (parts joined by "/") under the remote place, as rclone names it.
std::string RcloneObject(const std::string& remote, const std::string& relative);

// The files of a version never change: a cache may keep them for a year.
inline constexpr char kImmutableCacheControl[] = "public, max-age=31536000, immutable";
// The longest time a cache may keep the manifest: an edge never holds an old release longer.
inline constexpr int kManifestMaxAgeMost = 300;
// "no-cache" (a cache asks every time, a 304 costs little) for 0, else "public, max-age=S".
std::string ManifestCacheControl(int maxAgeSeconds);
// --manifest-max-age: whole seconds from 0 to kManifestMaxAgeMost.
bool ParseManifestMaxAge(const std::string& text, int& seconds, std::string& error);

// rclone's argument lists (after "rclone"). Options come before "--", names after it.
// Copies the files named in `filesFrom` (one a line, relative to `sourceFolder`) to the
// same places under `targetFolder`, each with `cacheControl`; objects there are kept.
std::vector<std::string> RcloneUploadFilesArgs(const std::string& sourceFolder,
                                               const std::string& targetFolder,
                                               const std::string& filesFrom,
                                               const std::string& cacheControl);
// Uploads one file to one object, replacing it (a single PUT for a small file).
std::vector<std::string> RcloneUploadOneArgs(const std::string& sourceFile,
                                             const std::string& targetObject,
                                             const std::string& cacheControl);
// Copies the objects named in `filesFrom` from `sourceFolder` into the local `targetFolder`.
std::vector<std::string> RcloneDownloadFilesArgs(const std::string& sourceFolder,
                                                 const std::string& targetFolder,
                                                 const std::string& filesFrom);
// Lists `folder`'s objects (recursively, up to `depth` levels, 0 for all) as JSON.
std::vector<std::string> RcloneListArgs(const std::string& folder, int depth, bool foldersOnly);
// Removes `folder` and every object under it.
std::vector<std::string> RclonePurgeArgs(const std::string& folder);

struct RcloneEntry {
    std::string path;  // relative to the listed folder, "/" between parts
    bool isFolder = false;
    int64_t size = 0;  // -1 or 0 for a folder
};

// The output of "rclone lsjson": a JSON array of objects, of which Path, Size and IsDir
// are read and the rest skipped. False on anything else (a cut or garbled listing).
bool ParseRcloneListing(const std::string& json, std::vector<RcloneEntry>& entries, std::string& error);

// The list for --files-from: one name a line. False when a name holds a line break,
// which rclone's list cannot carry.
bool RcloneFilesFromText(const std::vector<std::string>& names, std::string& text, std::string& error);
