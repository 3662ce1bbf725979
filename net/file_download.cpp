// One release file from the server into a temporary file, streamed block by block, and
// continued from an earlier attempt's bytes when the server vouches for them.
#include "net/file_download.h"

#include <fstream>

#include "net/https_client.h"
#include "net/resume_rules.h"
#include "sys/file_ops.h"

namespace {
const int32_t kReceiveTimeoutMs = 60000;
}  // namespace

bool DownloadReleaseFile(const ReleaseManifest& manifest,
                         const ManifestFile& file,
                         const std::string& tempPath,
                         const DownloadProgress& progress,
                         PartialDownload& partial,
                         std::string& error,
                         DownloadReport* report) {
    const uint64_t size = file.size > 0 ? static_cast<uint64_t>(file.size) : 0;
    const bool resuming = partial.bytes > 0 && partial.bytes < size && !partial.validator.empty();
    uint64_t total = resuming ? partial.bytes : 0;  // bytes of the file in the temporary file
    const uint64_t kept = total;
    std::ofstream out;
    if (!(resuming ? OpenAppendStream(out, tempPath) : OpenWriteStream(out, tempPath))) {
        error = "nie moge zapisac " + tempPath;
        partial = PartialDownload();
        return false;
    }
    FetchHeaders headers;
    headers.boundBytes = size;
    if (resuming) {
        headers.range = "bytes=" + std::to_string(total) + "-";
        headers.ifRange = partial.validator;
    }
    bool decided = false;     // the answer's headers have been judged
    bool continuing = false;  // the answer is exactly the rest of the kept bytes
    bool restart = false;     // the answer is a part, but not that rest: ask for the whole file
    bool tooLong = false;
    // Once the headers are known: keep the earlier bytes only under the exact rest.
    const auto decide = [&] {
        decided = true;
        if (!resuming) {
            return;
        }
        continuing = headers.status == 206 && RangeContinues(headers.contentRange, total, size);
        if (!continuing) {
            restart = headers.status == 206 || headers.status == 416;
            total = 0;
            out.close();
            OpenWriteStream(out, tempPath);
        }
    };
    const ChunkSink sink = [&](const uint8_t* data, uint32_t count) {
        if (!decided) {
            decide();
        }
        if (restart) {
            return false;
        }
        // A body that passes the manifest's size is not the file: stop before it fills the disk.
        if ((headers.status == 200 || continuing) && total + count > size) {
            tooLong = true;
            return false;
        }
        out.write(reinterpret_cast<const char*>(data), count);
        total += count;
        if (progress) {
            progress(total);
        }
        return !out.fail();
    };
    const std::u16string path = WidenAscii(MakeDownloadPath(manifest.version, file.name));
    const uint32_t status = HttpsFetch(path, std::string(), sink, error, kReceiveTimeoutMs, &headers);
    if (!decided && headers.status != 0) {
        decide();  // an answer without body bytes
    }
    // Closing flushes the last bytes; a failed flush leaves the stream failed.
    out.close();
    const bool written = !out.fail();
    if (restart) {
        partial = PartialDownload();
        return DownloadReleaseFile(manifest, file, tempPath, progress, partial, error, report);
    }
    const bool fileBody = headers.status == 200 || continuing;
    if (report) {
        report->status = headers.status;
        report->resumedFrom = continuing ? kept : 0;
        report->bytes = fileBody ? total - report->resumedFrom : 0;
    }
    if (status != 0 && fileBody && written && !tooLong && total == size) {
        return true;
    }
    if (status == 0 && headers.status == 0 && resuming) {
        return false;  // no answer at all: the kept bytes stay as they were
    }
    if (tooLong) {
        error = "Plik " + file.name + " jest wiekszy niz podaje manifest";
    } else if (fileBody && written) {
        // Ended early: a transport failure, or a body shorter than the file (Wine reads a
        // closed connection as the end of the body). What arrived may be continued.
        if (status != 0) {
            error = "przerwane pobieranie";
        }
        std::string validator = ResumeValidator(headers.etag, headers.lastModified);
        if (validator.empty() && continuing) {
            validator = partial.validator;  // the server matched it in If-Range
        }
        if (total > 0 && !validator.empty()) {
            partial.bytes = total;
            partial.validator = validator;
            return false;
        }
    } else if (status == 200 || (status != 0 && continuing)) {
        // The server delivered; the disk did not take it.
        error = "nie moge zapisac " + tempPath;
    } else if (status != 0) {
        error = "HTTP " + std::to_string(status) + " przy " + file.name;
    }
    partial = PartialDownload();
    DeleteFileQuietly(tempPath);
    return false;
}

bool DownloadReleaseFile(const ReleaseManifest& manifest,
                         const ManifestFile& file,
                         const std::string& tempPath,
                         const DownloadProgress& progress,
                         std::string& error) {
    PartialDownload none;
    if (DownloadReleaseFile(manifest, file, tempPath, progress, none, error)) {
        return true;
    }
    if (none.bytes > 0) {
        DeleteFileQuietly(tempPath);
    }
    return false;
}
