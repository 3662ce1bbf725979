#include "tools/delta_maker.h"

#include <zstd.h>

#include <memory>

namespace {

struct CCtxFree {
    void operator()(ZSTD_CCtx* c) const { ZSTD_freeCCtx(c); }
};
struct DCtxFree {
    void operator()(ZSTD_DCtx* d) const { ZSTD_freeDCtx(d); }
};

bool Ok(size_t code, const char* what, std::string& error) {
    if (ZSTD_isError(code)) {
        error = std::string("zstd: ") + what + ": " + ZSTD_getErrorName(code);
        return false;
    }
    return true;
}

}  // namespace

int DeltaWindowLog(uint64_t baseSize, uint64_t newSize) {
    const uint64_t larger = baseSize > newSize ? baseSize : newSize;
    int log = 10;  // zstd's smallest window
    // Twice the larger size: a match from the new file's last byte into the base's first.
    while (log < 63 && (uint64_t{1} << log) < 2 * larger) {
        ++log;
    }
    return log < kDeltaWindowLogMost ? log : kDeltaWindowLogMost;
}

bool DeltaSizesAllowed(uint64_t baseSize, uint64_t newSize, uint64_t maxSize) {
    const uint64_t most = uint64_t{1} << (kDeltaWindowLogMost - 1);
    return baseSize <= maxSize && newSize <= maxSize && baseSize <= most && newSize <= most;
}

bool DeltaWorthKeeping(uint64_t deltaSize, uint64_t fileSize, double maxRatio) {
    return static_cast<double>(deltaSize) < maxRatio * static_cast<double>(fileSize);
}

bool MakeDelta(const std::string& base,
               const std::string& target,
               int level,
               std::string& delta,
               std::string& error) {
    std::unique_ptr<ZSTD_CCtx, CCtxFree> cctx(ZSTD_createCCtx());
    if (!cctx) {
        error = "zstd: out of memory";
        return false;
    }
    ZSTD_CCtx* c = cctx.get();
    if (!Ok(ZSTD_CCtx_setParameter(c, ZSTD_c_compressionLevel, level), "level", error) ||
        !Ok(ZSTD_CCtx_setParameter(c, ZSTD_c_windowLog, DeltaWindowLog(base.size(), target.size())), "window",
            error) ||
        !Ok(ZSTD_CCtx_setParameter(c, ZSTD_c_enableLongDistanceMatching, 1), "long matching", error) ||
        !Ok(ZSTD_CCtx_setParameter(c, ZSTD_c_checksumFlag, 1), "checksum", error) ||
        !Ok(ZSTD_CCtx_setPledgedSrcSize(c, target.size()), "size", error) ||
        !Ok(ZSTD_CCtx_refPrefix(c, base.data(), base.size()), "base", error)) {
        return false;
    }
    delta.resize(ZSTD_compressBound(target.size()));
    const size_t n = ZSTD_compress2(c, delta.data(), delta.size(), target.data(), target.size());
    if (!Ok(n, "compress", error)) {
        delta.clear();
        return false;
    }
    delta.resize(n);
    return true;
}

bool ApplyDelta(const std::string& base,
                const std::string& delta,
                uint64_t maxSize,
                std::string& out,
                std::string& error) {
    const unsigned long long size = ZSTD_getFrameContentSize(delta.data(), delta.size());
    if (size == ZSTD_CONTENTSIZE_ERROR || size == ZSTD_CONTENTSIZE_UNKNOWN) {
        error = "zstd: not a delta frame with its content size";
        return false;
    }
    if (size > maxSize) {
        error = "zstd: the delta rebuilds " + std::to_string(size) + " bytes, more than " +
                std::to_string(maxSize);
        return false;
    }
    std::unique_ptr<ZSTD_DCtx, DCtxFree> dctx(ZSTD_createDCtx());
    if (!dctx) {
        error = "zstd: out of memory";
        return false;
    }
    ZSTD_DCtx* d = dctx.get();
    if (!Ok(ZSTD_DCtx_setParameter(d, ZSTD_d_windowLogMax, kDeltaWindowLogMost), "window", error) ||
        !Ok(ZSTD_DCtx_refPrefix(d, base.data(), base.size()), "base", error)) {
        return false;
    }
    out.resize(size);
    const size_t n = ZSTD_decompressDCtx(d, out.data(), out.size(), delta.data(), delta.size());
    if (!Ok(n, "decompress", error)) {
        out.clear();
        return false;
    }
    if (n != size) {
        error = "zstd: the delta rebuilt fewer bytes than its frame says";
        out.clear();
        return false;
    }
    return true;
}
