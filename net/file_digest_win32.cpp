// SHA-256 of a file over CNG, through the predefined SHA-256 pseudo-handle (no
// algorithm provider is opened).
#include <windows.h>

#include <bcrypt.h>

#include <fstream>

#include "net/file_digest.h"
#include "sys/file_ops.h"

#ifndef BCRYPT_SHA256_ALG_HANDLE
// mingw's headers lack the predefined pseudo-handles; this is the value Windows defines.
#define BCRYPT_SHA256_ALG_HANDLE ((BCRYPT_ALG_HANDLE)0x00000041)
#endif

namespace {

class ScopedHash {
  public:
    ScopedHash() = default;
    ~ScopedHash() {
        if (handle) {
            BCryptDestroyHash(handle);
        }
    }
    ScopedHash(const ScopedHash&) = delete;
    ScopedHash& operator=(const ScopedHash&) = delete;
    BCRYPT_HASH_HANDLE handle = nullptr;
};

}  // namespace

bool Sha256FileHex(const std::string& path, std::string& out) {
    out.clear();
    std::ifstream in;
    if (!OpenReadStream(in, path)) {
        return false;
    }
    ScopedHash hash;
    if (BCryptCreateHash(BCRYPT_SHA256_ALG_HANDLE, &hash.handle, nullptr, 0, nullptr, 0, 0) != 0) {
        return false;
    }
    const bool read = HashStreamBlocks(in, [&](const uint8_t* data, size_t count) {
        return BCryptHashData(hash.handle, const_cast<PUCHAR>(data), static_cast<ULONG>(count), 0) == 0;
    });
    UCHAR digest[32];
    if (!read || BCryptFinishHash(hash.handle, digest, sizeof(digest), 0) != 0) {
        return false;
    }
    out = HexLower(digest);
    return true;
}
