// The painter's own copy of the shared update state, taken under the state's lock at the
// start of a paint so that one frame shows one consistent moment and nothing is drawn
// while the worker could be waiting.
#pragma once

#include <cstdint>
#include <string>

#include "update/updater_state.h"

struct PaintSnapshot {
    int32_t phase = Checking;
    std::string installedVersion;
    std::string latestVersion;
    std::string releaseNotes;
    std::string statusText;
    std::string currentFile;
    std::string errorDetail;
    int64_t totalBytes = 0;
    int64_t doneBytes = 0;
    int32_t fileCount = 0;
    int32_t fileIndex = 0;
    bool botRunning = false;
    bool patcherStaged = false;
};

PaintSnapshot TakePaintSnapshot(UpdaterState& state);
