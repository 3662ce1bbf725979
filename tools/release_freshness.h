// The serial and expiry records as the publisher's tool writes, shows and checks them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "manifest/release_manifest.h"
#include "tools/command_common.h"

// The machine's clock: seconds since 1970, UTC.
int64_t NowSeconds();

// "N days ahead of this machine's clock" for a serial more than a day ahead of `now`
// (signed on a machine whose clock was fast), else "".
std::string SerialAheadText(int64_t serial, int64_t now);
// " (TEXT)", or "" for an empty TEXT.
std::string InParentheses(const std::string& text);

// "serial: ..." and "expires: ..." lines, the expiry also as days from `now`.
std::string FreshnessLines(const ReleaseManifest& manifest, int64_t now);

// sign's --serial and --serial-above; both empty takes `now`. --serial: false with the
// reason when the text is no serial or lies more than a day ahead of `now` (installations
// remember the highest serial they saw, so a serial from a fast clock would make them
// refuse every later release). --serial-above N: the higher of `now` and N + 1, however far
// ahead, since the publisher says it must outrun a serial already out there.
bool ChooseSerial(const std::string& option,
                  const std::string& aboveOption,
                  int64_t now,
                  int64_t& serial,
                  std::string& error);
// sign's --expires: "30d" (days from now), "YYYY-MM-DD" (that day's start, UTC) or
// "YYYY-MM-DDTHH:MM:SSZ". False when it is none of them or not after `now`.
bool ParseExpiresOption(const std::string& option, int64_t now, int64_t& expires, std::string& error);
// The unsigned text with the serial (and the expiry when `expires` > 0) after the magic line.
std::string WithFreshnessRecords(const std::string& text, int64_t serial, int64_t expires);

// Whether `next` may replace the manifest now at a destination (`currentBody`, read from
// `where`): the very same bytes (a repeated upload), or a higher serial than the current one
// has, if it has one. Otherwise a problem that names the serial to sign with, and when
// that lies more than a day ahead of `now`, the sign command that gives it; a current
// manifest that cannot be read gives a note.
void CheckFollowsCurrentManifest(const std::string& currentBody,
                                 const std::string& where,
                                 const LoadedManifest& next,
                                 int64_t now,
                                 std::vector<std::string>& notes,
                                 std::vector<std::string>& problems);
