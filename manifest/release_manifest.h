// The parsed release manifest: what one release consists of.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "manifest/mirror_url.h"

struct ManifestFile {
    std::string name;    // relative path with "/" between folders, as the manifest writes it
    int64_t size = 0;    // declared size, used for progress only
    std::string sha256;  // 64 lowercase hex digits, compared byte for byte
    bool onlyIfMissing = false;
};

struct ReleaseManifest {
    std::string version;
    std::string date;
    std::string notes;  // decoded: line breaks as LF
    std::vector<ManifestFile> files;
    // The release's place in the publisher's sequence: a number that only grows from one
    // signed manifest to the next, so that an older one served again can be told apart.
    bool hasSerial = false;
    int64_t serial = 0;
    // When the publisher stops vouching for the manifest (seconds since 1970, UTC): a server
    // that keeps serving it after that cannot hold installations on it unnoticed.
    bool hasExpires = false;
    int64_t expires = 0;
    // The share of installations the release is open to, in per mille: 1000 (everyone) when
    // the manifest has no rollout record, 0 when the publisher has halted the rollout.
    bool hasRollout = false;
    int32_t rolloutPerMille = 1000;
    // A critical release is open to every installation whatever its share.
    bool critical = false;
    // The channel the manifest was signed for; empty for the default channel.
    std::string channel;
    // Other places the release files are found, asked in this order after the server that
    // served the manifest. A malformed record, one naming a mirror twice, or one past the
    // kMirrorsMost-th is not a mirror; its value is kept in `skippedMirrors` for the log.
    std::vector<MirrorBase> mirrors;
    std::vector<std::string> skippedMirrors;
    // Not a record of the text: which configured update server (its index) served this
    // manifest. The release's files are fetched from that server.
    size_t host = 0;
};

// The manifest name that denotes the updater itself, compared ignoring ASCII case.
extern const char kUpdaterFileName[];  // "VorlanePatcher.exe"
bool IsUpdaterEntryName(const std::string& name);
