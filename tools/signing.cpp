#include "tools/signing.h"

#include "manifest/manifest_signature.h"
#include "manifest/openssl_owners.h"

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ecdsa.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/sha.h>

#include <memory>
#include <sstream>

namespace {

std::string Hex(const uint8_t* bytes, size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(n * 2);
    for (size_t i = 0; i < n; ++i) {
        out.push_back(digits[bytes[i] >> 4]);
        out.push_back(digits[bytes[i] & 0xF]);
    }
    return out;
}

PkeyPtr ReadP256PrivateKey(const std::string& pem, std::string& error) {
    BioPtr bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    PkeyPtr key(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr) : nullptr);
    char group[64] = {0};
    size_t groupLength = 0;
    if (!key || !EVP_PKEY_is_a(key.get(), "EC") ||
        EVP_PKEY_get_utf8_string_param(key.get(), OSSL_PKEY_PARAM_GROUP_NAME, group, sizeof(group),
                                       &groupLength) != 1 ||
        std::string(group) != "prime256v1") {
        error = "not a P-256 private key in PEM form";
        return nullptr;
    }
    return key;
}

bool BignumTo32(const BIGNUM* n, uint8_t out[32]) {
    return BN_bn2binpad(n, out, 32) == 32;
}

}  // namespace

std::string GeneratePrivateKeyPem() {
    PkeyPtr key(EVP_EC_gen("prime256v1"));
    if (!key) {
        return {};
    }
    BioPtr bio(BIO_new(BIO_s_mem()));
    if (!bio || PEM_write_bio_PrivateKey(bio.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1) {
        return {};
    }
    char* data = nullptr;
    const long n = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<size_t>(n));
}

bool PublicKeyFromPrivatePem(const std::string& pem, PublicKeyHex& out, std::string& error) {
    PkeyPtr key = ReadP256PrivateKey(pem, error);
    if (!key) {
        return false;
    }
    uint8_t point[65];
    size_t pointLength = 0;
    if (EVP_PKEY_get_octet_string_param(key.get(), OSSL_PKEY_PARAM_PUB_KEY, point, sizeof(point),
                                        &pointLength) != 1 ||
        pointLength != 65 || point[0] != 0x04) {
        // Keys stored with a compressed point: ask for the uncompressed form.
        if (EVP_PKEY_set_utf8_string_param(key.get(), OSSL_PKEY_PARAM_EC_POINT_CONVERSION_FORMAT,
                                           "uncompressed") != 1 ||
            EVP_PKEY_get_octet_string_param(key.get(), OSSL_PKEY_PARAM_PUB_KEY, point, sizeof(point),
                                            &pointLength) != 1 ||
            pointLength != 65) {
            error = "cannot read the public point of the key";
            return false;
        }
    }
    out.x = Hex(point + 1, 32);
    out.y = Hex(point + 33, 32);
    return true;
}

bool SignManifestText(const std::string& pem,
                      const std::string& signedText,
                      std::string& signatureHex,
                      std::string& error) {
    PkeyPtr key = ReadP256PrivateKey(pem, error);
    if (!key) {
        return false;
    }
    uint8_t digest[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const uint8_t*>(signedText.data()), signedText.size(), digest);

    PkeyCtxPtr ctx(EVP_PKEY_CTX_new(key.get(), nullptr));
    size_t derLength = 0;
    if (!ctx || EVP_PKEY_sign_init(ctx.get()) != 1 ||
        EVP_PKEY_sign(ctx.get(), nullptr, &derLength, digest, sizeof(digest)) != 1) {
        error = "signing failed";
        return false;
    }
    std::vector<uint8_t> der(derLength);
    if (EVP_PKEY_sign(ctx.get(), der.data(), &derLength, digest, sizeof(digest)) != 1) {
        error = "signing failed";
        return false;
    }
    const uint8_t* p = der.data();
    ECDSA_SIG* sig = d2i_ECDSA_SIG(nullptr, &p, static_cast<long>(derLength));
    uint8_t raw[64];
    const bool ok =
        sig && BignumTo32(ECDSA_SIG_get0_r(sig), raw) && BignumTo32(ECDSA_SIG_get0_s(sig), raw + 32);
    ECDSA_SIG_free(sig);
    if (!ok) {
        error = "signing failed";
        return false;
    }
    signatureHex = Hex(raw, sizeof(raw));
    return true;
}

std::string FormatPublicKeyFile(const PublicKeyHex& key) {
    return "# Vorlane manifest public key (P-256)\nx=" + key.x + "\ny=" + key.y + "\n";
}

bool ParsePublicKeyFile(const std::string& text, PublicKeyHex& out, std::string& error) {
    std::istringstream in(text);
    std::string line;
    PublicKeyHex key;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.rfind("x=", 0) == 0) {
            key.x = line.substr(2);
        } else if (line.rfind("y=", 0) == 0) {
            key.y = line.substr(2);
        }
    }
    auto isHex64 = [](const std::string& s) {
        return s.size() == 64 && s.find_first_not_of("0123456789abcdef") == std::string::npos;
    };
    if (!isHex64(key.x) || !isHex64(key.y)) {
        error = "public key file needs x= and y= lines of 64 lowercase hex digits";
        return false;
    }
    out = key;
    return true;
}

bool IsP256Point(const PublicKeyHex& key) {
    std::vector<uint8_t> x;
    std::vector<uint8_t> y;
    return HexToBytes(key.x, x) && x.size() == 32 && HexToBytes(key.y, y) && y.size() == 32 &&
           ImportP256PublicKey(x, y) != nullptr;
}
