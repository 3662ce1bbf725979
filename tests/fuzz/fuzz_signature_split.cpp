// Any body through the signature split and the hex decoding: the split must give back
// the body's own bytes, and the hex decoding must only succeed on pairs strtol takes.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "manifest/manifest_signature.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string body(reinterpret_cast<const char*>(data), size);
    SplitManifest split;
    if (SplitManifestSignature(body, split)) {
        if (split.signedText.empty() || split.signedText.back() != '\n' ||
            body.compare(0, split.signedText.size(), split.signedText) != 0 ||
            body.compare(split.signedText.size(), 4, "sig=") != 0 ||
            body.compare(split.signedText.size() + 4, split.signatureText.size(), split.signatureText) != 0) {
            std::abort();
        }
    }
    std::vector<uint8_t> bytes;
    if (HexToBytes(body, bytes) && bytes.size() * 2 != body.size()) {
        std::abort();
    }
    return 0;
}
