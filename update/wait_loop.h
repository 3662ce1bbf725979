// The worker's wait before an install: until the bot no longer runs from its executable
// and the update is confirmed (or auto mode, which ends a bot that stays too long).
#pragma once

#include <cstdint>
#include <functional>

constexpr uint32_t kWaitPollMs = 300;
// Auto mode terminates the bot once more than this has passed since the wait first saw auto
// mode (its start, or a later hand-over from a second start).
constexpr uint32_t kAutoPatienceMs = 120000;

// What the loop sees of the world. The worker binds it to the tick counter, the probe of
// Vorlane.exe and the shared flags; tests bind it to a clock they drive.
struct WaitHooks {
    std::function<uint32_t()> now;
    std::function<void(uint32_t)> sleep;
    std::function<bool()> botBusy;
    std::function<int32_t()> terminateBot;  // how many bot processes were ended
    std::function<bool()> confirmed;
    std::function<bool()> autoMode;
    std::function<void(bool)> publishBusy;  // botRunning, under the state lock
};

// One termination per pass, in auto mode only, once the patience has run out.
bool ShouldTerminateBot(bool busy, bool autoMode, bool terminationTried, uint32_t elapsedMs);
// The install may begin: the bot's executable is free and the update is confirmed.
bool MayStartInstall(bool busy, bool confirmed, bool autoMode);
// Returns when MayStartInstall holds. Without auto mode there is no time limit.
void WaitForBotAndConfirmation(const WaitHooks& hooks);
