// One release file from the server into a temporary file, streamed block by block.
#include "net/file_download.h"

#include <fstream>

#include "net/https_client.h"
#include "sys/clock.h"
#include "sys/file_ops.h"
#include "update/support_log.h"

namespace {
const int32_t kReceiveTimeoutMs = 60000;
}  // namespace

bool DownloadReleaseFile(const ReleaseManifest& manifest,
                         const ManifestFile& file,
                         const std::string& tempPath,
                         const DownloadProgress& progress,
                         std::string& error) {
    std::ofstream out;
    if (!OpenWriteStream(out, tempPath)) {
        error = "nie moge zapisac " + tempPath;
        return false;
    }
    const std::u16string path = WidenAscii(MakeDownloadPath(manifest.version, file.name));
    uint64_t received = 0;
    const ChunkSink sink = [&](const uint8_t* data, uint32_t count) {
        out.write(reinterpret_cast<const char*>(data), count);
        received += count;
        if (progress) {
            progress(received);
        }
        return !out.fail();
    };
    const uint32_t started = TickCountMs();
    const uint32_t status = HttpsFetch(path, std::string(), sink, error, kReceiveTimeoutMs);
    const uint32_t elapsedMs = TickCountMs() - started;
    // Closing flushes the last bytes; a failed flush leaves the stream failed.
    out.close();
    const bool written = !out.fail();
    if (status == 200 && written) {
        WriteLog(DownloadText({file.name, status, received, elapsedMs, 0, std::string()}));
        return true;
    }
    if (status == 200) {
        // The server delivered; the disk did not take it.
        error = "nie moge zapisac " + tempPath;
    } else if (status != 0) {
        error = "HTTP " + std::to_string(status) + " przy " + file.name;
    }
    WriteLog(DownloadText({file.name, status, received, elapsedMs, 0, error}));
    DeleteFileQuietly(tempPath);
    return false;
}
