#include "update/kept_partial.h"

#include <algorithm>
#include <fstream>
#include <sstream>

#include "manifest/manifest_parser.h"
#include "net/resume_rules.h"
#include "sys/file_ops.h"
#include "sys/install_paths.h"

namespace {

const char kTemporarySuffix[] = ".download";

std::string RecordPath() {
    return MakeInstallPath(kPartialRecordName);
}

bool LoadRecord(PartialRecord& record) {
    std::ifstream in;
    if (!OpenReadStream(in, RecordPath())) {
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    return ParsePartialRecord(text.str(), record);
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
    PartialRecord record;
    PartialDownload partial;
    if (LoadRecord(record) && SameEntry(record, entry) && HoldsRecordedBytes(record)) {
        partial.bytes = record.bytes;
        partial.validator = record.validator;
    }
    return partial;
}

void SettleKeptPartial(const ManifestFile& entry, const PartialDownload& partial) {
    PartialRecord old;
    const bool hadRecord = LoadRecord(old);
    if (partial.bytes == 0) {
        if (hadRecord && SameEntry(old, entry)) {
            DeleteFileQuietly(RecordPath());
        }
        return;
    }
    if (hadRecord && !SameFileName(KeptPathOf(old), TemporaryPathFor(entry))) {
        DeleteKeptFile(old);
    }
    PartialRecord record;
    record.name = entry.name;
    record.size = entry.size;
    record.sha256 = entry.sha256;
    record.bytes = partial.bytes;
    record.validator = partial.validator;
    const std::string text = FormatPartialRecord(record);
    std::ofstream out;
    // A record that cannot be written only costs the resume: the next pass starts over.
    if (OpenWriteStream(out, RecordPath())) {
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
    }
}

void DropStalePartial(const InstallList& list) {
    PartialRecord record;
    if (!LoadRecord(record)) {
        DeleteFileQuietly(RecordPath());  // none, or a damaged one that names nothing usable
        return;
    }
    if (HoldsRecordedBytes(record)) {
        for (const ManifestFile& entry : list.files) {
            if (SameEntry(record, entry)) {
                return;
            }
        }
    }
    DeleteKeptFile(record);
    DeleteFileQuietly(RecordPath());
}
