#include "manifest/manifest_signature.h"

#include <cstdlib>

#include "manifest/ecdsa_p256.h"
#include "manifest/manifest_public_key.h"

namespace {
const char kSeparator[] = "\nsig=";
const size_t kSeparatorLength = 5;
}  // namespace

bool SplitManifestSignature(const std::string& body, SplitManifest& out) {
    if (body.size() < kSeparatorLength) {
        return false;
    }
    const size_t at = body.find(kSeparator);
    if (at == std::string::npos) {
        return false;
    }
    out.signedText = body.substr(0, at + 1);
    std::string signature = body.substr(at + kSeparatorLength);
    while (!signature.empty() && (signature.back() == '\n' || signature.back() == '\r')) {
        signature.pop_back();
    }
    out.signatureText = std::move(signature);
    return true;
}

bool HexToBytes(const std::string& text, std::vector<uint8_t>& out) {
    if (text.size() % 2 != 0) {
        return false;
    }
    out.clear();
    out.reserve(text.size() / 2);
    for (size_t i = 0; i < text.size(); i += 2) {
        // strtol skips leading white space and takes a sign, so " f" or "+a" pass;
        // only a pair that is consumed whole is a byte.
        const char pair[3] = {text[i], text[i + 1], '\0'};
        char* end = nullptr;
        const long value = std::strtol(pair, &end, 16);
        if (end != pair + 2) {
            return false;
        }
        out.push_back(static_cast<uint8_t>(value & 0xFF));
    }
    return true;
}

bool VerifyManifestSignatureWithKey(const std::string& signedText, const std::string& signatureText,
                                    const char* publicX, const char* publicY) {
    std::vector<uint8_t> x;
    std::vector<uint8_t> y;
    std::vector<uint8_t> sig;
    if (!HexToBytes(publicX, x) || !HexToBytes(publicY, y) || !HexToBytes(signatureText, sig)) {
        return false;
    }
    return VerifyEcdsaP256Sha256(reinterpret_cast<const uint8_t*>(signedText.data()), signedText.size(), sig,
                                 x, y);
}

bool VerifyManifestSignature(const std::string& signedText, const std::string& signatureText) {
    return VerifyManifestSignatureWithKey(signedText, signatureText, kManifestPublicKeyX,
                                          kManifestPublicKeyY);
}
