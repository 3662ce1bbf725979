// The text form of the release manifest and its parser.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "manifest/release_manifest.h"

extern const char kManifestMagic[];     // "VLR1"
extern const char kErrUnknownFormat[];  // "nieznany format manifestu"
extern const char kErrEmptyManifest[];  // "pusty manifest"
extern const char kErrBadSerial[];      // "nieprawidlowy numer wydania w manifescie"
extern const char kErrBadExpires[];     // "nieprawidlowy termin waznosci manifestu"
extern const char kErrBadRollout[];     // "nieprawidlowy udzial wydania w manifescie"
extern const char kErrBadCritical[];    // "nieprawidlowy znacznik krytycznego wydania w manifescie"
extern const char kErrBadChannel[];     // "nieprawidlowy kanal w manifescie"

// A serial has at most this many decimal digits, so that it always fits a signed 64-bit number.
inline constexpr size_t kSerialMaxDigits = 18;

// Parses the signed text (which ends with LF) into `manifest`, which should be in
// its default state. Returns false with one of the messages above in `error`; a failed
// parse may leave `manifest` partly filled, and the caller drops it.
bool ParseManifestText(const std::string& signedText, ReleaseManifest& manifest, std::string& error);

// A serial as written: 1 to kSerialMaxDigits decimal digits, nothing else.
bool ParseSerialText(const std::string& text, int64_t& serial);

// A rollout share as written: per mille, 1 to 4 decimal digits, at most 1000.
bool ParseRolloutText(const std::string& text, int32_t& perMille);

// A "notes" value with backslash-n turned into line breaks; every other byte is kept.
std::string DecodeNotesValue(const std::string& value);

// Parses the value of one "file" record; false when the record is dropped.
bool ParseFileRecord(const std::string& value, ManifestFile& entry);

// The name rule the parser applies: non-empty, no "..", no ":", no leading "/", no zero byte.
bool IsAcceptedManifestName(const std::string& name);
