// Host build of the raw primitive, over OpenSSL 3. The publisher's tool and the host
// tests verify with it, so it takes exactly the updater's decisions.
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ecdsa.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/sha.h>

#include <memory>

#include "manifest/ecdsa_p256.h"
#include "manifest/openssl_owners.h"

PkeyPtr ImportP256PublicKey(const std::vector<uint8_t>& x, const std::vector<uint8_t>& y) {
    uint8_t point[65];
    point[0] = 0x04;  // uncompressed point
    std::copy(x.begin(), x.end(), point + 1);
    std::copy(y.begin(), y.end(), point + 33);
    OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_PKEY_PARAM_GROUP_NAME, const_cast<char*>("prime256v1"), 0),
        OSSL_PARAM_construct_octet_string(OSSL_PKEY_PARAM_PUB_KEY, point, sizeof(point)),
        OSSL_PARAM_construct_end(),
    };
    PkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
    EVP_PKEY* key = nullptr;
    if (!ctx || EVP_PKEY_fromdata_init(ctx.get()) <= 0 ||
        EVP_PKEY_fromdata(ctx.get(), &key, EVP_PKEY_PUBLIC_KEY, params) <= 0) {
        return nullptr;
    }
    PkeyPtr owned(key);
    // fromdata does not insist that the point lies on the curve; the check does.
    PkeyCtxPtr check(EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr));
    if (!check || EVP_PKEY_public_check(check.get()) != 1) {
        return nullptr;
    }
    return owned;
}

bool VerifyEcdsaP256Sha256(const uint8_t* message,
                           size_t length,
                           const std::vector<uint8_t>& sig,
                           const std::vector<uint8_t>& x,
                           const std::vector<uint8_t>& y) {
    if (x.size() != 32 || y.size() != 32 || sig.size() != 64) {
        return false;
    }
    auto key = ImportP256PublicKey(x, y);
    if (!key) {
        return false;
    }
    uint8_t digest[SHA256_DIGEST_LENGTH];
    SHA256(message, length, digest);

    EcdsaSigPtr ecdsa(ECDSA_SIG_new());
    BIGNUM* r = BN_bin2bn(sig.data(), 32, nullptr);
    BIGNUM* s = BN_bin2bn(sig.data() + 32, 32, nullptr);
    if (!ecdsa || !r || !s || ECDSA_SIG_set0(ecdsa.get(), r, s) != 1) {
        BN_free(r);
        BN_free(s);
        return false;
    }
    unsigned char* der = nullptr;
    const int derLength = i2d_ECDSA_SIG(ecdsa.get(), &der);
    if (derLength <= 0) {
        return false;
    }
    PkeyCtxPtr ctx(EVP_PKEY_CTX_new(key.get(), nullptr));
    const bool ok =
        ctx && EVP_PKEY_verify_init(ctx.get()) == 1 &&
        EVP_PKEY_verify(ctx.get(), der, static_cast<size_t>(derLength), digest, sizeof(digest)) == 1;
    OPENSSL_free(der);
    return ok;
}
