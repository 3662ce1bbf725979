// The unattended rules of "--auto": what the window does at each animation tick.
#pragma once

#include <cstdint>

enum class AutoModeStep {
    Wait,               // nothing to do at this tick
    LaunchBotAndClose,  // the pass ended (or failed for the last time): start the bot, close
    Retry,              // a failed pass waited long enough: show "Ponawiam..." and start a new pass
};

// Milliseconds a finished pass stays on screen, and a failed one waits before a retry.
constexpr uint32_t kAutoCloseDelayMs = 1500;
constexpr uint32_t kAutoRetryDelayMs = 15000;
// Automatic retries in the life of the process; the failure after the last one starts the bot.
constexpr int32_t kAutoRetryLimit = 4;

// One timer tick. `phase` is the shared phase copied under the lock, `now` the tick count.
// The three values belong to the window and are updated here: the phase seen at the previous
// tick, the tick at which the current phase was first seen, and the retries made so far.
// Tick differences are unsigned 32-bit, so the 49.7-day wrap of the tick count is harmless.
AutoModeStep DecideAutoModeStep(int32_t phase,
                                uint32_t now,
                                int32_t& lastTimerPhase,
                                uint32_t& phaseSinceTick,
                                int32_t& autoRetryCount);
