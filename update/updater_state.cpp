#include "update/updater_state.h"

UpdaterState State;
std::atomic<bool> AutoMode{false};
std::atomic<bool> InstallConfirmed{false};
uint32_t StartTick = 0;
std::thread WorkerThread;

const char kFailedStatus[] = "Aktualizacja nie powiodla sie";
const char kCheckingStatus[] = "Sprawdzam najnowsza wersje...";

void SetPhaseAndStatus(int32_t phase, const std::string& text) {
    std::lock_guard<std::mutex> lock(State.mutex);
    State.phase = phase;
    State.statusText = text;
}

void FailUpdate(const std::string& detail) {
    std::lock_guard<std::mutex> lock(State.mutex);
    State.phase = Failed;
    State.errorDetail = detail;
    State.statusText = kFailedStatus;
}

DownloadProgress MakeProgressUpdate(int64_t base) {
    return [base](uint64_t written) {
        std::lock_guard<std::mutex> lock(State.mutex);
        State.doneBytes = AddWrapping(base, static_cast<int64_t>(written));
    };
}

void StartWorkerWith(void (*pass)()) {
    // A retry is offered only once the previous pass is finishing, so the join is short.
    if (WorkerThread.joinable()) {
        WorkerThread.join();
    }
    InstallConfirmed.store(false, std::memory_order_seq_cst);
    WorkerThread = std::thread(pass);
}
