// The whole decision over a manifest response: split, verify, parse. Every other input
// is used twice: as a body as received, and as a signed text that is signed with the
// build's development key first, so that the parser behind the signature is reached too.
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "manifest/manifest_fetch.h"
#include "manifest/manifest_parser.h"
#include "tools/signing.h"

namespace {

const std::string& DevKeyPem() {
    static const std::string pem = [] {
        std::ifstream in(VORLANE_DEV_PRIVATE_KEY);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }();
    return pem;
}

bool IsKnownMessage(const std::string& error) {
    return error == "manifest bez podpisu" || error == "podpis manifestu sie nie zgadza" ||
           error == kErrUnknownFormat || error == kErrEmptyManifest || error == kErrBadSerial ||
           error == kErrBadExpires || error == kErrBadRollout || error == kErrBadCritical ||
           error == kErrBadChannel;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    ReleaseManifest manifest;
    std::string error;
    // Random bytes never carry a valid signature by the development key.
    if (AcceptManifestResponse(200, input, manifest, error) || !IsKnownMessage(error)) {
        std::abort();
    }
    if (size % 2 == 0 || DevKeyPem().empty()) {
        return 0;
    }
    std::string signedText = input;
    if (signedText.empty() || signedText.back() != '\n') {
        signedText.push_back('\n');
    }
    std::string signature;
    std::string signError;
    if (!SignManifestText(DevKeyPem(), signedText, signature, signError)) {
        std::abort();
    }
    const std::string body = signedText + "sig=" + signature + "\n";
    ReleaseManifest signedManifest;
    error.clear();
    const bool ok = AcceptManifestResponse(200, body, signedManifest, error);
    // The signature covers only the text before the first signature line; when the input
    // already holds one, the response is cut there and that part is judged.
    if (!ok && !IsKnownMessage(error)) {
        std::abort();
    }
    if (ok && (signedManifest.version.empty() || signedManifest.files.empty())) {
        std::abort();
    }
    return 0;
}
