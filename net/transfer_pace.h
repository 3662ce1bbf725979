// The floor under a transfer's progress, and the bound on its whole length. A server that
// keeps a connection alive with a trickle (a byte now and then, each within the receive
// time-out) would otherwise hold the pass, and in auto mode the bot's start, for ever; one
// that sends just above the floor would hold a large file for many hours.
#pragma once

#include <cstdint>

struct TransferPaceLimits {
    // A transfer must bring at least `floorBytes` in every `windowMs`. 8 KiB a minute is a
    // seventh of what a 1 KB/s link brings; with the receive time-out of 60 s a trickle is
    // ended within two minutes.
    uint32_t windowMs = 60000;
    uint64_t floorBytes = 8192;
    // A transfer of N bytes ends once it has taken N / `averageFloorBytesPerSecond` seconds
    // plus `allowanceMs`: a link that keeps 2 KiB/s on average always finishes (a 6 MiB file
    // may take 56 minutes), and a slower one keeps what arrived for the next pass.
    uint32_t averageFloorBytesPerSecond = 2048;
    uint32_t allowanceMs = 300000;
};

// The limits every transfer uses. Written only before a transfer starts (tests shorten them).
extern TransferPaceLimits TransferPace;

// The longest a transfer of `bytes` may take, in milliseconds.
uint64_t TransferBoundMs(uint64_t bytes, const TransferPaceLimits& limits);

// One transfer's progress as of the start of its current window, and its time so far.
struct PaceWatch {
    uint32_t windowStartMs = 0;
    uint64_t bytesAtWindowStart = 0;
    uint32_t lastMs = 0;
    uint64_t elapsedMs = 0;
    uint64_t boundMs = 0;  // 0: no bound on the whole length
};

PaceWatch StartPaceWatch(uint32_t nowMs, uint64_t boundMs = 0);
// Called with the running byte count whenever bytes arrive (or a read returns). False when a
// whole window has passed with less than the floor, or when the transfer has taken longer
// than its bound; otherwise a passed window starts the next. Tick differences are unsigned
// and summed one call at a time, so the wrap of the tick count is harmless.
bool KeepsPace(PaceWatch& watch, uint32_t nowMs, uint64_t totalBytes, const TransferPaceLimits& limits);
