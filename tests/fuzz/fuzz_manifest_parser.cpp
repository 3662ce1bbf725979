// Any bytes through the manifest parser: no crash, and a success always carries a
// version and at least one file whose name obeys the name rule.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "manifest/manifest_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    ReleaseManifest manifest;
    std::string error;
    if (ParseManifestText(text, manifest, error)) {
        if (manifest.version.empty() || manifest.files.empty()) {
            std::abort();
        }
        for (const ManifestFile& f : manifest.files) {
            if (!IsAcceptedManifestName(f.name)) {
                std::abort();
            }
        }
    } else if (error != kErrUnknownFormat && error != kErrEmptyManifest && error != kErrBadSerial &&
               error != kErrBadExpires && error != kErrBadRollout && error != kErrBadCritical &&
               error != kErrBadChannel) {
        std::abort();
    }
    return 0;
}
