#include "update/wait_loop.h"

bool ShouldTerminateBot(bool busy, bool autoMode, bool terminationTried, uint32_t elapsedMs) {
    return busy && autoMode && !terminationTried && elapsedMs > kAutoPatienceMs;
}

bool MayStartInstall(bool busy, bool confirmed, bool autoMode) {
    return !busy && (confirmed || autoMode);
}

void WaitForBotAndConfirmation(const WaitHooks& hooks) {
    // The patience runs from when the loop first sees auto mode: a window left open and then
    // asked to go on unattended gives the bot its whole time to close, too.
    bool autoSeen = false;
    uint32_t autoSince = 0;
    bool terminationTried = false;
    for (;;) {
        bool busy = hooks.botBusy();
        const bool autoMode = hooks.autoMode();
        if (autoMode && !autoSeen) {
            autoSeen = true;
            autoSince = hooks.now();
        }
        // Unsigned difference: right across the tick counter's wrap.
        if (ShouldTerminateBot(busy, autoMode, terminationTried, hooks.now() - autoSince)) {
            terminationTried = true;
            if (hooks.terminateBot() > 0) {
                busy = hooks.botBusy();
            }
        }
        hooks.publishBusy(busy);
        if (MayStartInstall(busy, hooks.confirmed(), hooks.autoMode())) {
            return;
        }
        hooks.sleep(kWaitPollMs);
    }
}
