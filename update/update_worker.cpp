#include "update/update_worker.h"

#include "update/update_pass.h"
#include "update/updater_state.h"

void UpdateWorker() {
    // The manifest, the error text and the list live for this pass only.
    ReleaseManifest manifest;
    std::string error;
    InstallList list;
    if (RunUpdateCheck(manifest, error, list)) {
        RunUpdateInstall(manifest, error, list);
    }
}

void StartWorker() {
    StartWorkerWith(UpdateWorker);
}
