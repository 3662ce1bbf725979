// The one record that the window thread and the worker thread share, and the
// few process-wide values that live beside it.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "net/download_progress.h"
#include "sys/install_paths.h"

// The numbers are fixed: the painter, the buttons and the timer rules switch on them.
enum UpdatePhase : int32_t {
    Checking = 0,
    UpToDate = 1,
    UpdateAvailable = 2,
    Downloading = 3,
    Updated = 4,
    Failed = 5,
};

// What the two threads share about the update, as a plain record: the painter copies it
// whole for each frame.
struct UpdateStatus {
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

// The shared record with its lock. Every field but the mutex is guarded by the mutex.
// Readers copy what they need under the lock and draw or act on the copy.
struct UpdaterState : UpdateStatus {
    std::mutex mutex;
};

extern UpdaterState State;

// Set from "--auto"; cleared when the auto rules launch the bot. Read by the worker without the lock.
extern std::atomic<bool> AutoMode;
// Stored false before each pass and true when the user confirms the offered update.
extern std::atomic<bool> InstallConfirmed;
// GetTickCount when the window started: the base of all animation time.
extern uint32_t StartTick;
// The thread of the current or last pass.
extern std::thread WorkerThread;

extern const char kFailedStatus[];    // "Aktualizacja nie powiodla sie"
extern const char kCheckingStatus[];  // "Sprawdzam najnowsza wersje..."

void SetPhaseAndStatus(int32_t phase, const std::string& text);
// Ends the pass: phase Failed, the fixed status, the cause in errorDetail.
void FailUpdate(const std::string& detail);

// Sizes come from the manifest as written; their sums wrap rather than overflow.
inline int64_t AddWrapping(int64_t a, int64_t b) {
    return static_cast<int64_t>(static_cast<uint64_t>(a) + static_cast<uint64_t>(b));
}

// The worker's progress callable: doneBytes = base + bytes of the current file.
DownloadProgress MakeProgressUpdate(int64_t base);

// Joins the previous pass, clears InstallConfirmed and runs `pass` on a new thread.
void StartWorkerWith(void (*pass)());
// The same with the update pass itself (defined beside the worker).
void StartWorker();
