// Runs whole update passes (StartWorker -> UpdateWorker) from a test the way the window
// does, and reads what they left in UpdaterState. Every wait is bounded.
#pragma once

#include <windows.h>

#include <bcrypt.h>

#include <cstdint>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "test_server.h"
#include "tests/win/test_bot.h"
#include "update/updater_state.h"

#ifndef BCRYPT_SHA256_ALG_HANDLE
#define BCRYPT_SHA256_ALG_HANDLE ((BCRYPT_ALG_HANDLE)0x00000041)
#endif

namespace pass_driver {

inline std::string Sha256Hex(const std::string& data) {
    UCHAR digest[32];
    BCryptHash(BCRYPT_SHA256_ALG_HANDLE, nullptr, 0, reinterpret_cast<PUCHAR>(const_cast<char*>(data.data())),
               static_cast<ULONG>(data.size()), digest, sizeof(digest));
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (UCHAR byte : digest) {
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 15];
    }
    return hex;
}

struct Snapshot {
    int32_t phase;
    std::string installedVersion, latestVersion, releaseNotes, statusText, currentFile, errorDetail;
    int64_t totalBytes, doneBytes;
    int32_t fileCount, fileIndex;
    bool botRunning, patcherStaged;
};

inline Snapshot Read() {
    std::lock_guard<std::mutex> lock(State.mutex);
    return {State.phase,        State.installedVersion, State.latestVersion, State.releaseNotes,
            State.statusText,   State.currentFile,      State.errorDetail,   State.totalBytes,
            State.doneBytes,    State.fileCount,        State.fileIndex,     State.botRunning,
            State.patcherStaged};
}

inline bool PassOver() {
    const int32_t phase = Read().phase;
    return phase == UpToDate || phase == Updated || phase == Failed;
}

// Ends a pass that a failed test left waiting, so that the thread can be joined.
inline void FinishPass() {
    if (WorkerThread.joinable()) {
        AutoMode = true;
        InstallConfirmed = true;
        testbot::WaitFor(PassOver, 90000);
        WorkerThread.join();
    }
    AutoMode = false;
}

// Starts a pass as the window does and waits at most `limitMs` for its end; `confirm`
// presses the main button once the update is offered (outside auto mode the worker
// waits for it). False when the pass did not end in time.
inline bool RunPass(bool confirm = true, DWORD limitMs = 60000) {
    {
        std::lock_guard<std::mutex> lock(State.mutex);
        State.phase = Checking;
    }
    StartWorker();
    const bool ended = testbot::WaitFor(
        [&] {
            if (confirm && Read().phase == UpdateAvailable) {
                InstallConfirmed = true;
            }
            return PassOver();
        },
        limitMs);
    FinishPass();
    return ended;
}

// The files requested under /download/<version>/ since the log was last cleared, in
// order, as sent (percent-encoded).
inline std::vector<std::string> DownloadRequests() {
    std::vector<std::string> paths;
    for (const auto& request : test_server::Requests()) {
        if (request.path.rfind("/download/", 0) == 0) {
            paths.push_back(request.path.substr(request.path.find('/', 10) + 1));
        }
    }
    return paths;
}

inline void ClearRequestLog() {
    std::ofstream(test_server::StateDir() + "\\requests.jsonl", std::ios::trunc);
}

}  // namespace pass_driver
