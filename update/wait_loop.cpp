#include "update/wait_loop.h"

bool ShouldTerminateBot(bool busy, bool autoMode, bool terminationTried, uint32_t elapsedMs) {
    return busy && autoMode && !terminationTried && elapsedMs > kAutoPatienceMs;
}

bool MayStartInstall(bool busy, bool confirmed, bool autoMode) {
    return !busy && (confirmed || autoMode);
}

void WaitForBotAndConfirmation(const WaitHooks& hooks) {
    const uint32_t waitStart = hooks.now();
    bool terminationTried = false;
    for (;;) {
        bool busy = hooks.botBusy();
        const bool autoMode = hooks.autoMode();
        // Unsigned difference: right across the tick counter's wrap.
        if (ShouldTerminateBot(busy, autoMode, terminationTried, hooks.now() - waitStart)) {
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
