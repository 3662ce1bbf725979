// The download of one release file to a temporary path.
#pragma once

#include <cstdint>
#include <string>

#include "manifest/release_manifest.h"
#include "net/download_answer.h"
#include "net/download_progress.h"
#include "net/https_client.h"

// What one download did, for the support log: the server's status (0: no answer), the bytes
// this transfer wrote, the byte it continued from (0: the file from its start), and why it
// failed (None when it did not).
struct DownloadReport {
    uint32_t status = 0;
    uint64_t bytes = 0;
    uint64_t resumedFrom = 0;
    DownloadCause cause = DownloadCause::None;
};

// Where a release file is asked for: a server, and the path there under which
// download/<version>/<name> lies ("" on the update servers, a mirror's base path).
struct DownloadSource {
    FetchServer server;
    std::string basePath;
};

// Bytes of a file that an earlier attempt left in the temporary file, and the server's
// validator for them (ResumeValidator, net/resume_rules.h). Empty: nothing to continue.
// `source` names the place they came from; the download empties it with the rest and
// otherwise leaves it to the caller, which knows the place it asked.
struct PartialDownload {
    uint64_t bytes = 0;
    std::string validator;
    std::string source;
};

// Requests <base path>/download/<version>/<PercentEncode(name)> from `source`, or without it
// from the update server that served the manifest (manifest.host), and streams the body into
// `tempPath`. True when the whole file arrived (status 200, or 206 continuing `partial`)
// and every byte was written. A body longer than the manifest's size is stopped at once;
// the body of any other answer is neither read nor written; a transfer that takes longer
// than TransferPace allows for the file's size is ended (net/transfer_pace.h).
//
// `partial` on entry: bytes already in `tempPath` to continue from (asked for with Range
// and If-Range; any answer but the exact rest or an error status starts the file from
// zero). On failure it says what is kept: when the transfer ended early (a transport
// failure or a short body) after bytes that a validator vouches for, those bytes stay in
// `tempPath`; under an error status (or no answer) while continuing, the kept bytes stay as
// they were; otherwise `partial` is empty and no temporary file is left. `error` names the
// cause. `report`, when given, says what the transfer did.
bool DownloadReleaseFile(const ReleaseManifest& manifest,
                         const ManifestFile& file,
                         const std::string& tempPath,
                         const DownloadProgress& progress,
                         PartialDownload& partial,
                         std::string& error,
                         DownloadReport* report = nullptr,
                         const DownloadSource* source = nullptr);
// The same without a partial to continue from; nothing is kept on failure.
bool DownloadReleaseFile(const ReleaseManifest& manifest,
                         const ManifestFile& file,
                         const std::string& tempPath,
                         const DownloadProgress& progress,
                         std::string& error);

// ASCII letters, digits and "._-/" stay; every other byte becomes %XX (upper case).
std::string PercentEncode(const std::string& text);
// One UTF-16 unit per byte, by sign extension of the signed 8-bit value.
std::u16string WidenAscii(const std::string& text);
// "/download/" + version + "/" + PercentEncode(name): the version is sent as it is.
std::string MakeDownloadPath(const std::string& version, const std::string& name);
