#include "ui/paint_snapshot.h"

#include <mutex>

PaintSnapshot TakePaintSnapshot(UpdaterState& state) {
    PaintSnapshot s;
    std::lock_guard<std::mutex> lock(state.mutex);
    s.phase = state.phase;
    s.installedVersion = state.installedVersion;
    s.latestVersion = state.latestVersion;
    s.releaseNotes = state.releaseNotes;
    s.statusText = state.statusText;
    s.currentFile = state.currentFile;
    s.errorDetail = state.errorDetail;
    s.totalBytes = state.totalBytes;
    s.doneBytes = state.doneBytes;
    s.fileCount = state.fileCount;
    s.fileIndex = state.fileIndex;
    s.botRunning = state.botRunning;
    s.patcherStaged = state.patcherStaged;
    return s;
}
