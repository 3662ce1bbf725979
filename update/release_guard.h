// What an installation remembers of the manifests it accepted, and the rules that keep a
// server from turning it back to an older release or holding it on an expired manifest.
#pragma once

#include <cstdint>
#include <string>

#include "manifest/release_manifest.h"

// The record in the installation folder: the highest serial accepted there. The
// publisher's tool refuses a release file of this name.
extern const char kSerialRecordName[];  // "VorlanePatcher.serial"
// How far the clocks of the signing machine and of the user may disagree.
inline constexpr int64_t kClockAllowanceSeconds = 86400;

struct SerialRecord {
    bool known = false;  // false: no serial accepted yet, or the record was lost or damaged
    int64_t serial = 0;
};

// The record's text: the serial twice on one line, so that a damaged record (cut, zeroed,
// a changed digit) is told from a sound one and counts as none rather than as a number
// that could lock the installation out.
std::string FormatSerialRecord(int64_t serial);
SerialRecord ParseSerialRecord(const std::string& text);

// Whether a verified manifest may be used by an installation that has accepted `accepted`,
// at `now` (seconds since 1970, UTC). False with the Polish reason: a lower serial, no
// serial once one was accepted, or an expiry more than kClockAllowanceSeconds past.
bool JudgeManifestFreshness(const ReleaseManifest& manifest,
                            const SerialRecord& accepted,
                            int64_t now,
                            std::string& error);

// True when the record must be rewritten after `manifest` was accepted.
bool RaisesSerialRecord(const ReleaseManifest& manifest, const SerialRecord& accepted);

// The judgement against InstallDir's record and the system clock; an accepted manifest
// with a higher serial is recorded at once, before any file is compared or fetched.
bool AcceptManifestFreshness(const ReleaseManifest& manifest, std::string& error);
