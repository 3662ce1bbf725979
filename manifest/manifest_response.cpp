// What a manifest response must be before the worker may use it: status 200, a signature
// line, a signature by the publisher, then a manifest the parser accepts.
#include "manifest/manifest_fetch.h"
#include "manifest/manifest_parser.h"
#include "manifest/manifest_signature.h"

const char kErrNoSignature[] = "manifest bez podpisu";
const char kErrBadSignature[] = "podpis manifestu sie nie zgadza";

bool AcceptManifestResponse(uint32_t status,
                            const std::string& body,
                            ReleaseManifest& manifest,
                            std::string& error) {
    if (status == 0) {
        return false;
    }
    if (status != 200) {
        error = "brak wydania na serwerze (HTTP " + std::to_string(status) + ")";
        return false;
    }
    SplitManifest split;
    if (!SplitManifestSignature(body, split)) {
        error = kErrNoSignature;
        return false;
    }
    if (!VerifyManifestSignature(split.signedText, split.signatureText)) {
        error = kErrBadSignature;
        return false;
    }
    // Only the signed text is parsed; nothing after the separator.
    return ParseManifestText(split.signedText, manifest, error);
}
