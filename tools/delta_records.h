// The manifest's delta records: "delta=NAME|BASE_SHA256|SIZE|SHA256|BASE_VERSION", one per
// delta, after the file records. Each names a way to rebuild the file NAME from the installed
// file whose digest is BASE_SHA256; updaters that do not know them skip them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct DeltaRecord {
    std::string name;         // the file= record's name it rebuilds
    std::string baseSha256;   // the installed file it applies to
    int64_t size = 0;         // of the delta as served
    std::string sha256;       // of the delta as served
    std::string baseVersion;  // the published version the base came from (shown only)
};

// Parses one record's value. False with the reason when a field is malformed.
bool ParseDeltaRecord(const std::string& value, DeltaRecord& record, std::string& reason);
// The record line, ending in LF.
std::string FormatDeltaRecord(const DeltaRecord& record);
// The well-formed delta records of a manifest text, in order.
std::vector<DeltaRecord> DeltaRecordsOf(const std::string& text);
// Where the delta lies under the version's folder: ".delta/<base sha256>/<name>.zst".
std::string DeltaServedName(const DeltaRecord& record);
// "delta: NAME from 1.2.0 (12.3 KiB, 4.1 %)" for a file of `fileSize` bytes.
std::string DescribeDelta(const DeltaRecord& record, int64_t fileSize);

// The versions to make deltas from: the folder names of a download/ tree that order before
// `newVersion` (in prune's order: VersionBefore), newest first, at
// most `most` of them. Names beginning with "." (unfinished stages) are not versions.
std::vector<std::string> ChooseBaseVersions(const std::vector<std::string>& folders,
                                            const std::string& newVersion,
                                            size_t most);
