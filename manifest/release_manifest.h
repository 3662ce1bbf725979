// The parsed release manifest: what one release consists of.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ManifestFile {
    std::string name;      // relative path with "/" between folders, as the manifest writes it
    int64_t size = 0;      // declared size, used for progress only
    std::string sha256;    // 64 lowercase hex digits, compared byte for byte
    bool onlyIfMissing = false;
};

struct ReleaseManifest {
    std::string version;
    std::string date;
    std::string notes;  // decoded: line breaks as LF
    std::vector<ManifestFile> files;
};

// The manifest name that denotes the updater itself, compared ignoring ASCII case.
extern const char kUpdaterFileName[];  // "VorlanePatcher.exe"
bool IsUpdaterEntryName(const std::string& name);
