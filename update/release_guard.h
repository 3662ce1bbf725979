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

// Whether a verified manifest is the one of `channel` ("" for the default channel), the
// channel the updater asked for: a server that serves one channel's manifest at another's
// path must not move anyone to that channel. False with the Polish reason.
bool JudgeManifestChannel(const ReleaseManifest& manifest, const std::string& channel, std::string& error);

// The record as a pass counts it. This program never keeps a serial above the clock of the
// moment it keeps it (see SerialToKeep), so a stored serial more than kClockAllowanceSeconds
// ahead of `now` was kept by an older updater from a release signed on a fast clock, or the
// clock has been set back since. Counted as it stands it would refuse every release signed
// with a true clock until the clock reaches it, so it counts as the moment the record was
// written (`writtenAt`, seconds since 1970; negative when unknown): no release signed with a
// true clock before that moment is taken again, and one signed after it is. When that moment
// is as far ahead, nothing but "a serial was accepted" is left of the record: a manifest
// without a serial stays refused, any serial is taken and kept as the new record.
SerialRecord CountedSerialRecord(const SerialRecord& stored, int64_t writtenAt, int64_t now);

// What the installation keeps after `manifest` was accepted over `counted` (the record
// `stored` counted at `now`): the manifest's serial, but never more than `now`, so that a
// release signed on a fast clock cannot hold back every release signed after this pass
// with a true one; and never less than the record already counted. True when that differs
// from the stored record, with the number in `keep`.
bool SerialToKeep(const ReleaseManifest& manifest,
                  const SerialRecord& stored,
                  const SerialRecord& counted,
                  int64_t now,
                  int64_t& keep);

// The judgement against InstallDir's record `recordName` (the followed channel's, see
// ChannelSerialRecordName) and the system clock. Nothing is written: the record is raised by
// KeepManifestSerial once the pass knows the release is, or is about to be, installed.
bool AcceptManifestFreshness(const ReleaseManifest& manifest,
                             const std::string& recordName,
                             std::string& error);
// Raises the record to an accepted manifest's serial (before any file is fetched). A record
// that cannot be written is counted in memory for the rest of the run and written again by
// RetryPendingSerialRecord.
void KeepManifestSerial(const ReleaseManifest& manifest, const std::string& recordName);
// Writes a record that KeepManifestSerial could not write; nothing when none waits.
void RetryPendingSerialRecord();
