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

namespace {

// The folder is handed back before the bot starts: a bot that starts the updater at once
// then finds the folder free instead of a window that is going away.
void LeaveWithBot(const WindowSteps& steps) {
    steps.releaseFolder();
    steps.launchBot();
    steps.closeWindow();
}

// Checking is written before the pass starts: a second press (or tick) queued behind this
// one then finds no retry to make, instead of joining the new pass on the window thread
// while that pass waits for a confirmation.
void RetryPass(const WindowSteps& steps, const std::string& status) {
    SetPhaseAndStatus(Checking, status);
    steps.startPass();
}

}  // namespace

void RunMainButton(const WindowSteps& steps) {
    switch (ReadMainButtonStep()) {
        case MainButtonStep::LaunchBot:
            LeaveWithBot(steps);
            break;
        case MainButtonStep::ConfirmInstall:
            InstallConfirmed.store(true, std::memory_order_seq_cst);
            break;
        case MainButtonStep::Retry:
            RetryPass(steps, kCheckingStatus);
            break;
        case MainButtonStep::Nothing:
            break;
    }
}

void RunAutoModeStep(AutoModeStep step, const WindowSteps& steps) {
    switch (step) {
        case AutoModeStep::LaunchBotAndClose:
            AutoMode = false;
            LeaveWithBot(steps);
            break;
        case AutoModeStep::Retry:
            RetryPass(steps, "Ponawiam...");
            break;
        case AutoModeStep::Wait:
            break;
    }
}
