// Owners of the OpenSSL objects that the host build's signature code creates, so that
// every early return frees them. Host build only (the Windows build uses CNG).
#pragma once

#include <openssl/bio.h>
#include <openssl/ecdsa.h>
#include <openssl/evp.h>

#include <cstdint>
#include <memory>
#include <vector>

struct OpenSslFree {
    void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
    void operator()(EVP_PKEY_CTX* p) const { EVP_PKEY_CTX_free(p); }
    void operator()(ECDSA_SIG* p) const { ECDSA_SIG_free(p); }
    void operator()(BIO* p) const { BIO_free(p); }
};

using PkeyPtr = std::unique_ptr<EVP_PKEY, OpenSslFree>;
using PkeyCtxPtr = std::unique_ptr<EVP_PKEY_CTX, OpenSslFree>;
using EcdsaSigPtr = std::unique_ptr<ECDSA_SIG, OpenSslFree>;
using BioPtr = std::unique_ptr<BIO, OpenSslFree>;

// The P-256 public key (x, y), 32 bytes each; null unless the point lies on the curve.
PkeyPtr ImportP256PublicKey(const std::vector<uint8_t>& x, const std::vector<uint8_t>& y);
