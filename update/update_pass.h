// The two halves of one update pass, run in turn by UpdateWorker on the worker thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "manifest/release_manifest.h"
#include "update/updater_state.h"

// The entries that must be installed, in manifest order, and the sum of their sizes.
struct InstallList {
    std::vector<ManifestFile> files;
    int64_t totalBytes = 0;
};

// The running updater is never overwritten: the bot swaps this file in when it starts.
extern const char kStagedUpdater[];  // "VorlanePatcher.new.exe"
// The installed path an entry is moved to: its own name, or kStagedUpdater for the updater.
std::string InstallTargetFor(const ManifestFile& entry);

// The entries of `manifest` whose local files are missing or differ.
InstallList BuildInstallList(const ReleaseManifest& manifest);

// Announces the check, retrieves the manifest and publishes what differs. True when the
// pass goes on to the install (phase UpdateAvailable); false when it ended here.
bool RunUpdateCheck(ReleaseManifest& manifest, std::string& error, InstallList& list);

// Waits for the bot and the confirmation, then installs every listed file; the pass
// ends in Updated or Failed.
void RunUpdateInstall(const ReleaseManifest& manifest, std::string& error, const InstallList& list);
