#include "update/kept_partial.h"

#include <fstream>
#include <sstream>

#include "net/resume_rules.h"
#include "sys/file_ops.h"
#include "sys/install_paths.h"

namespace {

const char kTemporarySuffix[] = ".download";

bool LoadRecord(PartialRecord& record) {
    std::ifstream in;
    if (!OpenReadStream(in, MakeInstallPath(kPartialRecordName))) {
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    return ParsePartialRecord(text.str(), record);
}

bool SameEntry(const PartialRecord& record, const ManifestFile& entry) {
    return record.name == entry.name && record.size == entry.size && record.sha256 == entry.sha256;
}

// The size of the file at `path`, or -1 when it cannot be read.
int64_t FileLength(const std::string& path) {
    std::ifstream in;
    if (!OpenReadStream(in, path) || !in.seekg(0, std::ios::end)) {
        return -1;
    }
    return static_cast<int64_t>(in.tellg());
}

}  // namespace

std::string TemporaryPathFor(const ManifestFile& entry) {
    return InstallTargetFor(entry) + kTemporarySuffix;
}

PartialDownload TakeKeptPartial(const ManifestFile& entry) {
    PartialRecord record;
    PartialDownload partial;
    if (LoadRecord(record) && SameEntry(record, entry) &&
        FileLength(TemporaryPathFor(entry)) == static_cast<int64_t>(record.bytes)) {
        partial.bytes = record.bytes;
        partial.validator = record.validator;
    }
    DeleteFileQuietly(MakeInstallPath(kPartialRecordName));
    return partial;
}

void RecordKeptPartial(const ManifestFile& entry, const PartialDownload& partial) {
    PartialRecord record;
    record.name = entry.name;
    record.size = entry.size;
    record.sha256 = entry.sha256;
    record.bytes = partial.bytes;
    record.validator = partial.validator;
    const std::string text = FormatPartialRecord(record);
    std::ofstream out;
    // A record that cannot be written only costs the resume: the next pass starts over.
    if (OpenWriteStream(out, MakeInstallPath(kPartialRecordName))) {
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
    }
}

void DropStalePartial(const InstallList& list) {
    PartialRecord record;
    if (!LoadRecord(record)) {
        return;
    }
    for (const ManifestFile& entry : list.files) {
        if (SameEntry(record, entry)) {
            return;
        }
    }
    // The name came from a file, not from a signed manifest: nothing outside the folder.
    if (record.name.find("..") == std::string::npos && record.name.find(':') == std::string::npos &&
        record.name[0] != '/' && record.name[0] != '\\') {
        ManifestFile recorded;
        recorded.name = record.name;
        DeleteFileQuietly(TemporaryPathFor(recorded));
    }
    DeleteFileQuietly(MakeInstallPath(kPartialRecordName));
}
