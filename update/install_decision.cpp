#include "update/install_decision.h"

InstallReason DecideInstall(const ManifestFile& entry, bool localExists, const LocalDigestFn& localDigest) {
    if (!localExists) {
        return InstallReason::Missing;
    }
    // An existing file (or even a folder) of that name is left alone without a digest.
    if (entry.onlyIfMissing) {
        return InstallReason::SkippedPresent;
    }
    std::string digest;
    if (!localDigest || !localDigest(digest)) {
        return InstallReason::Unreadable;
    }
    // Byte for byte and case-sensitive: an upper-case manifest digest never matches.
    return digest == entry.sha256 ? InstallReason::UpToDate : InstallReason::DigestDiffers;
}

bool NeedsInstall(InstallReason reason) {
    return reason == InstallReason::Missing || reason == InstallReason::Unreadable ||
           reason == InstallReason::DigestDiffers;
}
