#include "update/update_worker.h"

#include "sys/support_log.h"
#include "update/install_records.h"
#include "update/pass_log_texts.h"
#include "update/release_guard.h"
#include "update/update_pass.h"
#include "update/updater_state.h"

namespace {

int32_t PassPhase() {
    std::lock_guard<std::mutex> lock(State.mutex);
    return State.phase;
}

// The phase the pass ended in, copied under the lock and written after it.
std::string PassEndLine() {
    UpdateStatus status;
    {
        std::lock_guard<std::mutex> lock(State.mutex);
        status = State;
    }
    return PassEndText(status.phase, status.statusText, status.errorDetail);
}

}  // namespace

void UpdateWorker() {
    // The manifest, the error text and the list live for this pass only.
    ReleaseManifest manifest;
    std::string error;
    InstallList list;
    if (RunUpdateCheck(manifest, error, list)) {
        RunUpdateInstall(manifest, error, list);
        // The installed files are now the followed channel's release (the manifest's channel
        // record was checked against it).
        if (PassPhase() == Updated) {
            KeepInstalledFrom(manifest.channel);
        }
    }
    RetryPendingSerialRecord();
    WriteLog(PassEndLine(), LogKind::Outcome);
}

void StartWorker() {
    StartWorkerWith(UpdateWorker);
}
