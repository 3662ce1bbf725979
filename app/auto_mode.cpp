#include "app/auto_mode.h"

#include "update/updater_state.h"

AutoModeStep DecideAutoModeStep(int32_t phase,
                                uint32_t now,
                                int32_t& lastTimerPhase,
                                uint32_t& phaseSinceTick,
                                int32_t& autoRetryCount) {
    if (phase != lastTimerPhase) {
        lastTimerPhase = phase;
        phaseSinceTick = now;
    }
    const uint32_t shownFor = now - phaseSinceTick;
    if ((phase == UpToDate || phase == Updated) && shownFor > kAutoCloseDelayMs) {
        return AutoModeStep::LaunchBotAndClose;
    }
    if (phase == Failed && shownFor > kAutoRetryDelayMs) {
        ++autoRetryCount;
        if (autoRetryCount > kAutoRetryLimit) {
            return AutoModeStep::LaunchBotAndClose;
        }
        // The window writes Checking itself before the retry starts, so the timer counts it as
        // seen now. A pass that fails again before the next tick is then a fresh Failed phase
        // and waits its own 15 s, instead of being retried at once.
        lastTimerPhase = Checking;
        phaseSinceTick = now;
        return AutoModeStep::Retry;
    }
    return AutoModeStep::Wait;
}
