// The floor under a transfer's progress. A server that keeps a connection alive with a
// trickle (a byte now and then, each within the receive time-out) would otherwise hold the
// pass, and in auto mode the bot's start, for ever.
#pragma once

#include <cstdint>

struct TransferPaceLimits {
    // A transfer must bring at least `floorBytes` in every `windowMs`. 8 KiB a minute is a
    // seventh of what a 1 KB/s link brings, so a slow real link never trips it; with the
    // receive time-out of 60 s a trickle is ended within two minutes.
    uint32_t windowMs = 60000;
    uint64_t floorBytes = 8192;
};

// The limits every transfer uses. Written only before a transfer starts (tests shorten them).
extern TransferPaceLimits TransferPace;

// One transfer's progress as of the start of its current window.
struct PaceWatch {
    uint32_t windowStartMs = 0;
    uint64_t bytesAtWindowStart = 0;
};

PaceWatch StartPaceWatch(uint32_t nowMs);
// Called with the running byte count whenever bytes arrive (or a read returns). False when a
// whole window has passed with less than the floor; otherwise a passed window starts the next.
// Tick differences are unsigned, so the wrap of the tick count is harmless.
bool KeepsPace(PaceWatch& watch, uint32_t nowMs, uint64_t totalBytes, const TransferPaceLimits& limits);
