// The serial record of the installation folder: read before a manifest is used, raised as
// soon as a manifest with a higher serial is accepted.
#include <fstream>
#include <iterator>

#include "sys/clock.h"
#include "sys/file_ops.h"
#include "sys/install_paths.h"
#include "update/release_guard.h"

namespace {

// Anything over this is no record this program wrote.
const std::streamsize kRecordReadLimit = 64;

SerialRecord ReadSerialRecord(const std::string& path) {
    std::ifstream in;
    if (!OpenReadStream(in, path)) {
        return SerialRecord();
    }
    std::string text(static_cast<size_t>(kRecordReadLimit), '\0');
    in.read(text.data(), kRecordReadLimit);
    text.resize(static_cast<size_t>(in.gcount()));
    return ParseSerialRecord(text);
}

// Written beside the record and renamed over it, so that a crash leaves the old record or
// the new one. A failure is ignored: the folder then cannot take the release's files either,
// and an installation without a record is never locked out.
void WriteSerialRecord(const std::string& path, int64_t serial) {
    const std::string temporary = path + ".new";
    {
        std::ofstream out;
        if (!OpenWriteStream(out, temporary)) {
            return;
        }
        out << FormatSerialRecord(serial);
        out.close();
        if (!out) {
            DeleteFileQuietly(temporary);
            return;
        }
    }
    if (FlushFileToDisk(temporary) != FileStep::Done || MoveFileOver(temporary, path) != FileStep::Done) {
        DeleteFileQuietly(temporary);
    }
}

}  // namespace

bool AcceptManifestFreshness(const ReleaseManifest& manifest, std::string& error) {
    const std::string path = MakeInstallPath(kSerialRecordName);
    const SerialRecord accepted = ReadSerialRecord(path);
    if (!JudgeManifestFreshness(manifest, accepted, UnixTimeSeconds(), error)) {
        return false;
    }
    if (RaisesSerialRecord(manifest, accepted)) {
        WriteSerialRecord(path, manifest.serial);
    }
    return true;
}
