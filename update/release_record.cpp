// The serial records of the installation folder: read before a manifest is used, raised as
// soon as the pass takes a release with a higher serial (before any of its files is fetched).
#include <fstream>
#include <iterator>

#include "sys/clock.h"
#include "sys/file_ops.h"
#include "sys/file_replace.h"
#include "sys/install_paths.h"
#include "sys/support_log.h"
#include "update/pass_log_texts.h"
#include "update/release_guard.h"

namespace {

// Anything over this is no record this program wrote.
const std::streamsize kRecordReadLimit = 64;

// A serial accepted in this run whose record could not be written (a virus scanner holding
// the file, say). Every later pass counts it, and it is written again at the end of the pass
// and by the next pass. Only the worker thread, one pass at a time, touches it.
SerialRecord Pending;
std::string PendingPath;

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

// Written beside the record, flushed, and renamed over it, so that a crash leaves the old
// record or the new one. An installation whose record is lost is never locked out; one
// whose record stays on the older serial could be turned back, so a failure is logged and
// the serial kept pending.
void KeepSerialRecord(const std::string& path, int64_t serial) {
    const bool written = ReplaceFileDurably(path, FormatSerialRecord(serial)) == FileStep::Done;
    WriteLog(SerialRecordText(serial, written), written ? LogKind::Routine : LogKind::Outcome);
    Pending = SerialRecord();
    if (!written) {
        Pending.known = true;
        Pending.serial = serial;
        PendingPath = path;
    }
}

// The record as this pass counts it, with a pending serial of this run taken into account.
SerialRecord CountRecord(const std::string& path, const SerialRecord& stored, int64_t now) {
    SerialRecord counted = CountedSerialRecord(stored, FileWriteTime(path), now);
    if (Pending.known && PendingPath == path && (!counted.known || Pending.serial > counted.serial)) {
        counted = Pending;
    }
    return counted;
}

}  // namespace

bool AcceptManifestFreshness(const ReleaseManifest& manifest,
                             const std::string& recordName,
                             std::string& error) {
    const std::string path = MakeInstallPath(recordName);
    const int64_t now = UnixTimeSeconds();
    return JudgeManifestFreshness(manifest, CountRecord(path, ReadSerialRecord(path), now), now, error);
}

void KeepManifestSerial(const ReleaseManifest& manifest, const std::string& recordName) {
    const std::string path = MakeInstallPath(recordName);
    const int64_t now = UnixTimeSeconds();
    const SerialRecord stored = ReadSerialRecord(path);
    int64_t keep = 0;
    if (SerialToKeep(manifest, stored, CountRecord(path, stored, now), now, keep)) {
        KeepSerialRecord(path, keep);
    }
}

void RetryPendingSerialRecord() {
    // Only for the folder of this run: a pending serial never lands in another folder.
    if (Pending.known && PendingPath.compare(0, InstallDir.size(), InstallDir) == 0) {
        KeepSerialRecord(PendingPath, Pending.serial);
    }
}
