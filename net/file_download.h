// The download of one release file to a temporary path.
#pragma once

#include <string>

#include "manifest/release_manifest.h"
#include "update/updater_state.h"

// Requests /download/<version>/<PercentEncode(name)> and streams the body into
// `tempPath`. True when status 200 arrived and every byte was written; on failure
// `error` names the cause and no temporary file is left.
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
