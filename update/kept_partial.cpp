#include "update/kept_partial.h"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <vector>

#include "manifest/manifest_parser.h"
#include "net/resume_rules.h"
#include "sys/file_ops.h"
#include "sys/install_paths.h"

namespace {

const char kTemporarySuffix[] = ".download";

std::string RecordPath() {
    return MakeInstallPath(kPartialRecordName);
}

// The records of every kept file; false when there is no readable, whole set of them.
bool LoadRecords(std::vector<PartialRecord>& records) {
    std::ifstream in;
    if (!OpenReadStream(in, RecordPath())) {
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    return ParsePartialRecords(text.str(), records);
}

// A record that cannot be written only costs the resume: a later pass starts over.
void SaveRecords(const std::vector<PartialRecord>& records) {
    if (records.empty()) {
        DeleteFileQuietly(RecordPath());
        return;
    }
    const std::string text = FormatPartialRecords(records);
    std::ofstream out;
    if (OpenWriteStream(out, RecordPath())) {
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
    }
}

bool SameEntry(const PartialRecord& record, const ManifestFile& entry) {
    return record.name == entry.name && record.size == entry.size && record.sha256 == entry.sha256;
}

std::string KeptPathOf(const PartialRecord& record) {
    ManifestFile recorded;
    recorded.name = record.name;
    return TemporaryPathFor(recorded);
}

// Windows names differ only in letter case, and two updater entries share one kept file.
bool SameFileName(const std::string& a, const std::string& b) {
    const auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return fold(x) == fold(y); });
}

// The size of the file at `path`, or -1 when it cannot be read.
int64_t FileLength(const std::string& path) {
    std::ifstream in;
    if (!OpenReadStream(in, path) || !in.seekg(0, std::ios::end)) {
        return -1;
    }
    return static_cast<int64_t>(in.tellg());
}

// The kept file holds exactly the bytes the record counts: a pass killed while it wrote
// there leaves another length, and those bytes are not what the record vouches for.
bool HoldsRecordedBytes(const PartialRecord& record) {
    const int64_t length = FileLength(KeptPathOf(record));
    return length >= 0 && static_cast<uint64_t>(length) == record.bytes;
}

// The name came from a file, not from a signed manifest: only a name the manifest's rule
// accepts may name the file to delete, so that nothing outside the folder is touched.
void DeleteKeptFile(const PartialRecord& record) {
    if (IsAcceptedManifestName(record.name)) {
        DeleteFileQuietly(KeptPathOf(record));
    }
}

}  // namespace

std::string TemporaryPathFor(const ManifestFile& entry) {
    return InstallTargetFor(entry) + kTemporarySuffix;
}

PartialDownload TakeKeptPartial(const ManifestFile& entry) {
    std::vector<PartialRecord> records;
    PartialDownload partial;
    if (!LoadRecords(records)) {
        return partial;
    }
    for (const PartialRecord& record : records) {
        if (SameEntry(record, entry) && HoldsRecordedBytes(record)) {
            partial.bytes = record.bytes;
            partial.validator = record.validator;
            partial.source = record.source;
        }
    }
    return partial;
}

void SettleKeptPartial(const ManifestFile& entry, const PartialDownload& partial) {
    std::vector<PartialRecord> records;
    LoadRecords(records);
    // The entry's own record (under any name that shares its kept file) is replaced.
    const std::string kept = TemporaryPathFor(entry);
    const size_t dropped =
        std::erase_if(records, [&](const PartialRecord& r) { return SameFileName(KeptPathOf(r), kept); });
    if (dropped == 0 && partial.bytes == 0) {
        return;  // nothing of this entry was kept, before or now
    }
    if (partial.bytes > 0) {
        PartialRecord record;
        record.name = entry.name;
        record.size = entry.size;
        record.sha256 = entry.sha256;
        record.bytes = partial.bytes;
        record.validator = partial.validator;
        record.source = partial.source;
        records.push_back(record);
    }
    SaveRecords(records);
}

void DropStalePartial(const InstallList& list) {
    std::vector<PartialRecord> records;
    if (!LoadRecords(records)) {
        DeleteFileQuietly(RecordPath());  // none, or a damaged one that names nothing usable
        return;
    }
    // A stale record goes with its kept file.
    const auto stale = [&](const PartialRecord& record) {
        if (HoldsRecordedBytes(record)) {
            for (const ManifestFile& entry : list.files) {
                if (SameEntry(record, entry)) {
                    return false;
                }
            }
        }
        DeleteKeptFile(record);
        return true;
    };
    if (std::erase_if(records, stale) > 0) {
        SaveRecords(records);
    }
}
