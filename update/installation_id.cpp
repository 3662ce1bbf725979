#include "update/installation_id.h"

#include "net/file_digest.h"

const char kInstallationIdName[] = "VorlanePatcher.id";

bool IsInstallationId(const std::string& text) {
    return text.size() == 2 * kInstallationIdBytes &&
           text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

bool ParseInstallationIdFile(const std::string& text, std::string& id) {
    const std::string digits = !text.empty() && text.back() == '\n' ? text.substr(0, text.size() - 1) : text;
    if (!IsInstallationId(digits)) {
        return false;
    }
    id = digits;
    return true;
}

std::string InstallationIdFromBytes(const uint8_t bytes[kInstallationIdBytes]) {
    // HexLower takes a whole digest; the identifier is its first half.
    uint8_t padded[32] = {};
    for (size_t i = 0; i < kInstallationIdBytes; ++i) {
        padded[i] = bytes[i];
    }
    return HexLower(padded).substr(0, 2 * kInstallationIdBytes);
}
