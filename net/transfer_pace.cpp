#include "net/transfer_pace.h"

TransferPaceLimits TransferPace;

PaceWatch StartPaceWatch(uint32_t nowMs) {
    PaceWatch watch;
    watch.windowStartMs = nowMs;
    return watch;
}

bool KeepsPace(PaceWatch& watch, uint32_t nowMs, uint64_t totalBytes, const TransferPaceLimits& limits) {
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
