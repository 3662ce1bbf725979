// SHA-256 of a file over CNG, through the predefined SHA-256 pseudo-handle (no
// algorithm provider is opened). The file is read with ReadFile straight into one block
// that CNG hashes in place: no stream buffer, no copy.
#include <windows.h>

#include <bcrypt.h>

#include <vector>

#include "net/file_digest.h"
#include "sys/long_path_win32.h"
#include "sys/scoped_handle_win32.h"

#ifndef BCRYPT_SHA256_ALG_HANDLE
// mingw's headers lack the predefined pseudo-handles; this is the value Windows defines.
#define BCRYPT_SHA256_ALG_HANDLE ((BCRYPT_ALG_HANDLE)0x00000041)
#endif

namespace {

const DWORD kReadBlock = 262144;

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
    // Shared as the C runtime's streams share (readers and writers), so that a file the bot
    // holds open for writing reads as before.
    ScopedHandle file(CreateFileW(LongPathW(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file.valid()) {
        return false;
    }
    ScopedHash hash;
    if (BCryptCreateHash(BCRYPT_SHA256_ALG_HANDLE, &hash.handle, nullptr, 0, nullptr, 0, 0) != 0) {
        return false;
    }
    // One block per thread for all its files: the check hashes thousands of them, and a
    // fresh 256 KiB each time is a fresh run of page faults under some heaps.
    thread_local std::vector<UCHAR> block(kReadBlock);
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file.get(), block.data(), kReadBlock, &got, nullptr)) {
            return false;  // a read error in the middle fails; it does not end the digest early
        }
        if (got == 0) {
            break;
        }
        if (BCryptHashData(hash.handle, block.data(), got, 0) != 0) {
            return false;
        }
    }
    UCHAR digest[32];
    if (BCryptFinishHash(hash.handle, digest, sizeof(digest), 0) != 0) {
        return false;
    }
    out = HexLower(digest);
    return true;
}

bool Sha256Bytes(const std::string& data, uint8_t digest[32]) {
    return BCryptHash(BCRYPT_SHA256_ALG_HANDLE, nullptr, 0,
                      reinterpret_cast<PUCHAR>(const_cast<char*>(data.data())),
                      static_cast<ULONG>(data.size()), digest, 32) == 0;
}
