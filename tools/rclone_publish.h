// publish to "rclone:REMOTE:BUCKET/PATH": the version's files first, each read back and
// checked, then the manifest in one PUT, read back too. The object store never holds a
// manifest whose files are not all there and whole.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/command_common.h"

// A staged release that publish has already checked (sizes, digests, names, links, key).
struct CheckedRelease {
    std::string root;              // ROOT
    std::string manifestRelative;  // the manifest's place under ROOT and DEST
    std::string manifestPath;      // ROOT/<manifestRelative>
    const LoadedManifest* loaded = nullptr;
    std::vector<std::string> names;            // download/<version>/<name>, relative to ROOT and DEST
    std::vector<const ManifestFile*> records;  // in the order of `names`
    uint64_t total = 0;
};

// Exit code of publish. `manifestMaxAge`: 0 for "no-cache", else seconds.
int PublishToRclone(CommandIo& io,
                    const std::string& dest,
                    const CheckedRelease& release,
                    int manifestMaxAge);

// The manifest at `relative` of the rclone DEST into `body`; `present` false when it has none.
bool RcloneReadManifest(const std::string& dest,
                        const std::string& relative,
                        std::string& body,
                        bool& present,
                        std::string& error);

// Puts the local `file`, which holds `body`, as the manifest at `relative` of the rclone DEST in
// one PUT with Cache-Control "no-cache", and reads it back whole.
bool RclonePutManifest(const std::string& dest,
                       const std::string& relative,
                       const std::string& file,
                       const std::string& body,
                       std::string& error);

// The object at `relative` of the rclone DEST, whole, into `body`.
bool RcloneReadRelative(const std::string& dest,
                        const std::string& relative,
                        std::string& body,
                        std::string& error);

// What publish --help adds for this form.
extern const char kPublishRcloneHelp[];
