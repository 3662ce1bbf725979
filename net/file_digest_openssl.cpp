// SHA-256 of a file over OpenSSL, for the publisher's tool and the host tests; the same
// contract as the program's CNG version.
#include <openssl/evp.h>
#include <openssl/sha.h>

#include <fstream>
#include <memory>

#include "net/file_digest.h"

bool Sha256FileHex(const std::string& path, std::string& out) {
    out.clear();
    std::ifstream in(path, std::ios::binary);
    if (!in.is_open()) {
        return false;
    }
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) != 1) {
        return false;
    }
    const bool read = HashStreamBlocks(
        in, [&](const uint8_t* data, size_t count) { return EVP_DigestUpdate(ctx.get(), data, count) == 1; });
    uint8_t digest[32];
    unsigned int length = 0;
    if (!read || EVP_DigestFinal_ex(ctx.get(), digest, &length) != 1 || length != 32) {
        return false;
    }
    out = HexLower(digest);
    return true;
}

bool Sha256Bytes(const std::string& data, uint8_t digest[32]) {
    SHA256(reinterpret_cast<const unsigned char*>(data.data()), data.size(), digest);
    return true;
}
