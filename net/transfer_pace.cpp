#include "net/transfer_pace.h"

TransferPaceLimits TransferPace;

uint64_t TransferBoundMs(uint64_t bytes, const TransferPaceLimits& limits) {
    const uint64_t rate = limits.averageFloorBytesPerSecond ? limits.averageFloorBytesPerSecond : 1;
    const uint64_t seconds = bytes / rate;
    if (seconds > (UINT64_MAX - limits.allowanceMs) / 1000 - 1) {
        return UINT64_MAX;  // a size no transfer reaches: no bound to speak of
    }
    return seconds * 1000 + bytes % rate * 1000 / rate + limits.allowanceMs;
}

PaceWatch StartPaceWatch(uint32_t nowMs, uint64_t boundMs) {
    PaceWatch watch;
    watch.windowStartMs = nowMs;
    watch.lastMs = nowMs;
    watch.boundMs = boundMs;
    return watch;
}

bool KeepsPace(PaceWatch& watch, uint32_t nowMs, uint64_t totalBytes, const TransferPaceLimits& limits) {
    watch.elapsedMs += static_cast<uint32_t>(nowMs - watch.lastMs);
    watch.lastMs = nowMs;
    if (watch.boundMs != 0 && watch.elapsedMs > watch.boundMs) {
        return false;
    }
    if (static_cast<uint32_t>(nowMs - watch.windowStartMs) < limits.windowMs) {
        return true;
    }
    if (totalBytes - watch.bytesAtWindowStart < limits.floorBytes) {
        return false;
    }
    watch.windowStartMs = nowMs;
    watch.bytesAtWindowStart = totalBytes;
    return true;
}
