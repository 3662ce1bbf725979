// Whether one manifest entry must be installed into the installation folder: the
// decision of the update check, shared with the publisher's `check` command.
#pragma once

#include <functional>
#include <string>

#include "manifest/release_manifest.h"

enum class InstallReason {
    SkippedPresent,  // onlyIfMissing, and something (file or folder) exists at the path
    UpToDate,        // the local digest equals the manifest's byte for byte
    Missing,         // nothing exists at the path
    Unreadable,      // something exists but its digest cannot be computed
    DigestDiffers,   // the local digest is not the manifest's
};

// Computes the local file's digest: true with the digest text, false when it cannot be read.
using LocalDigestFn = std::function<bool(std::string& digest)>;

// `localExists` tells whether anything exists at the entry's local path. The digest is
// asked for only when the decision depends on it, so skipped and missing entries are
// never hashed.
InstallReason DecideInstall(const ManifestFile& entry, bool localExists, const LocalDigestFn& localDigest);

// True for the reasons that put the entry into the list of files to install.
bool NeedsInstall(InstallReason reason);
