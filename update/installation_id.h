// The installation's identifier: 128 bits from the system's random source, drawn once and
// kept in the installation folder, from which its rollout buckets are derived. It says
// nothing about the machine or the user.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

extern const char kInstallationIdName[];  // "VorlanePatcher.id"
inline constexpr size_t kInstallationIdBytes = 16;

// Exactly 32 lowercase hexadecimal digits.
bool IsInstallationId(const std::string& text);
// The identifier kept in a file: the digits, optionally followed by LF. False for anything
// else (a cut, damaged or hand-edited file), which is then replaced by a fresh identifier.
bool ParseInstallationIdFile(const std::string& text, std::string& id);
// The identifier of 16 random bytes.
std::string InstallationIdFromBytes(const uint8_t bytes[kInstallationIdBytes]);

// InstallDir's identifier: read back when it is well formed, else drawn from the system's
// random source and written (durably, replacing a malformed one). False when no identifier
// could be drawn; an identifier that could not be written is still used for this run.
bool LoadOrDrawInstallationId(std::string& id);
