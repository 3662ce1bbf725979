// The manifest text as the publisher's tool writes it, and the checks that keep it
// within what the updater reads as meant.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "manifest/manifest_fetch.h"
#include "manifest/release_manifest.h"

// The updater stops reading the manifest at this many bytes.
inline constexpr size_t kManifestByteLimit = kManifestBodyLimit;
// What signing adds: "sig=", 128 hex digits and LF.
inline constexpr size_t kSignatureLineLength = 133;

// Release notes as "notes" record values: one value per line, each but the last ending
// in backslash-n. CR LF counts as one line break; line breaks at the end are dropped.
// False when a line holds a literal backslash followed by "n", which the updater would
// turn into a line break (the reason names the line).
bool EncodeNotes(const std::string& notes, std::vector<std::string>& values, std::string& reason);

struct ManifestDraft {
    std::string version;
    std::string date;                 // no record when empty
    std::vector<std::string> notes;   // encoded values, as EncodeNotes makes them
    std::vector<ManifestFile> files;  // in the order they are written
};

// A "mirror" record's value the updater uses: ParseMirrorUrl (manifest/mirror_url.h), within
// kMirrorsMost, not listed before (as `mirrors` holds the URLs so far). Otherwise a problem
// naming `where`; a usable one is added to `mirrors`.
void CheckMirrorRecord(const std::string& value,
                       const std::string& where,
                       std::vector<std::string>& mirrors,
                       std::vector<std::string>& problems);
// `text` with a "mirror" record for each of `urls`, in order, right after the magic line.
std::string WithMirrorRecords(const std::string& text, const std::vector<std::string>& urls);

// The unsigned text: magic line, version, date, notes, then the files, LF line ends.
std::string FormatManifestText(const ManifestDraft& draft);

// Every reason the updater would not read `signedText` (an unsigned manifest, ending in
// LF) as its writer meant it: one line each, naming the line or file. Empty when sound.
// Covers the grammar, the name, version and date rules, digests, sizes, flags, names that
// clash on Windows, the rollout, critical and channel records, and the size limit once signed.
std::vector<std::string> FindManifestProblems(const std::string& signedText);
