// Windows build of the raw primitive, over CNG: the ECDSA P-256 provider, the public
// key imported as an ECCPUBLICBLOB, SHA-256 through the predefined algorithm handle.
#include <windows.h>

#include <bcrypt.h>

#include <cstring>

#include "manifest/ecdsa_p256.h"

#ifndef BCRYPT_SHA256_ALG_HANDLE
// mingw's headers lack the predefined pseudo-handles; this is the value Windows defines.
#define BCRYPT_SHA256_ALG_HANDLE ((BCRYPT_ALG_HANDLE)0x00000041)
#endif

bool VerifyEcdsaP256Sha256(const uint8_t* message, size_t length, const std::vector<uint8_t>& sig,
                           const std::vector<uint8_t>& x, const std::vector<uint8_t>& y) {
    if (x.size() != 32 || y.size() != 32 || sig.size() != 64) {
        return false;
    }
    // BCRYPT_ECCKEY_BLOB header ("ECS1", key length 32) followed by X and Y, big-endian.
    uint8_t blob[72];
    const ULONG magic = BCRYPT_ECDSA_PUBLIC_P256_MAGIC;
    const ULONG keyLength = 32;
    std::memcpy(blob, &magic, 4);
    std::memcpy(blob + 4, &keyLength, 4);
    std::memcpy(blob + 8, x.data(), 32);
    std::memcpy(blob + 40, y.data(), 32);

    bool result = false;
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_KEY_HANDLE key = nullptr;
    if (BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0) == 0 &&
        BCryptImportKeyPair(algorithm, nullptr, BCRYPT_ECCPUBLIC_BLOB, &key, blob, sizeof(blob), 0) == 0) {
        UCHAR digest[32];
        if (BCryptHash(BCRYPT_SHA256_ALG_HANDLE, nullptr, 0, const_cast<PUCHAR>(message),
                       static_cast<ULONG>(length), digest, sizeof(digest)) == 0) {
            result = BCryptVerifySignature(key, nullptr, digest, sizeof(digest),
                                           const_cast<PUCHAR>(sig.data()), 64, 0) == 0;
        }
    }
    if (key) {
        BCryptDestroyKey(key);
    }
    if (algorithm) {
        BCryptCloseAlgorithmProvider(algorithm, 0);
    }
    return result;
}
