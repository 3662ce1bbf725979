#include "app/user_actions.h"

#include <mutex>

#include "update/updater_state.h"

MainButtonStep DecideMainButton(int32_t phase, bool botRunning) {
    switch (phase) {
        case UpToDate:
        case Updated:
            return MainButtonStep::LaunchBot;
        case UpdateAvailable:
            return botRunning ? MainButtonStep::Nothing : MainButtonStep::ConfirmInstall;
        case Failed:
            return MainButtonStep::Retry;
        default:
            return MainButtonStep::Nothing;
    }
}

MainButtonStep ReadMainButtonStep() {
    int32_t phase;
    bool botRunning;
    {
        std::lock_guard<std::mutex> lock(State.mutex);
        phase = State.phase;
        botRunning = State.botRunning;
    }
    return DecideMainButton(phase, botRunning);
}

int32_t ReadPhase() {
    std::lock_guard<std::mutex> lock(State.mutex);
    return State.phase;
}

bool CanClose() {
    return ReadPhase() != Downloading;
}
