// probe beyond the first server: every other update host (its manifest judged as the
// updater judges it, and one file) and every mirror= record of the manifest (one file),
// with warnings where the hosts disagree on the serial and where a cache may keep the
// manifest longer than an edge should.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/command_common.h"
#include "tools/https_get.h"

// The longest lifetime a shared cache may give the manifest without a warning: an edge that
// keeps it longer serves the old release after a publish for that long.
inline constexpr int64_t kManifestCacheMostSeconds = 300;

// A warning about a manifest served with `cacheControl` (its Cache-Control headers joined
// by ", "; empty when it had none), or "" when a shared cache keeps it at most
// kManifestCacheMostSeconds. no-cache, no-store and private keep it fresh; s-maxage
// counts before max-age (a CDN takes it); no lifetime at all is warned of, since a CDN then
// applies its own default, often hours.
std::string ManifestCacheWarning(const std::string& cacheControl);

// The values of the mirror= records of a manifest's signed text, in order.
std::vector<std::string> MirrorRecords(const std::string& signedText);

// A mirror's base URL "https://HOST[:PORT][/PATH]" as an origin and a path prefix without
// a trailing "/". False for any other form (the updater skips such a record).
bool SplitMirrorUrl(const std::string& url, std::string& origin, std::string& prefix, std::string& error);

// One server's manifest as probe found it.
struct HostManifest {
    std::string url;
    bool accepted = false;  // signature, parse and expiry as the updater judges them
    std::string version;
    bool hasSerial = false;
    int64_t serial = 0;
};

// The warning line when accepted manifests carry different serials (or some none), else "".
std::string SerialDisagreement(const std::vector<HostManifest>& hosts);

// Checks `otherUrls` (each https://HOST[:PORT], reached as `like` reaches its own: its CA
// file and --resolve lines) at `manifestPath`, the manifest of `channel`, prints a line for each, then the
// serial warning over `first` and them, then the mirrors of the newest accepted manifest. `firstLoaded` is
// the first server's manifest (null when it failed). Returns how many hosts and mirrors failed.
size_t ProbeOtherSources(CommandIo& io,
                         const HttpsOrigin& like,
                         const std::string& manifestPath,
                         const std::string& channel,
                         const PublicKeyHex& key,
                         const HostManifest& first,
                         const LoadedManifest* firstLoaded,
                         const std::vector<std::string>& otherUrls);
