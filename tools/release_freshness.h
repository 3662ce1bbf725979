// The serial and expiry records as the publisher's tool writes, shows and checks them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "manifest/release_manifest.h"
#include "tools/command_common.h"

// The machine's clock: seconds since 1970, UTC.
int64_t NowSeconds();

// "serial: ..." and "expires: ..." lines, the expiry also as days from `now`.
std::string FreshnessLines(const ReleaseManifest& manifest, int64_t now);

// sign's --serial: empty takes `now`. False with the reason when the text is no serial, or
// lies more than a day ahead of `now`: installations remember the highest serial they saw,
// so a serial from a fast clock would make them refuse every later release.
bool ChooseSerial(const std::string& option, int64_t now, int64_t& serial, std::string& error);
// sign's --expires: "30d" (days from now), "YYYY-MM-DD" (that day's start, UTC) or
// "YYYY-MM-DDTHH:MM:SSZ". False when it is none of them or not after `now`.
bool ParseExpiresOption(const std::string& option, int64_t now, int64_t& expires, std::string& error);
// The unsigned text with the serial (and the expiry when `expires` > 0) after the magic line.
std::string WithFreshnessRecords(const std::string& text, int64_t serial, int64_t expires);

// Whether `next` may replace the manifest now at a destination (`currentBody`, read from
// `where`): the very same bytes (a repeated upload), or a higher serial than the current one
// has, if it has one. Otherwise a problem that names the serial to sign with; a current
// manifest that cannot be read gives a note.
void CheckFollowsCurrentManifest(const std::string& currentBody,
                                 const std::string& where,
                                 const LoadedManifest& next,
                                 std::vector<std::string>& notes,
                                 std::vector<std::string>& problems);
