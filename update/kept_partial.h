// The partly downloaded files that failed passes leave for later passes to continue, and
// their records (one file beside the program). A record is dropped only when it is stale (its
// entry changed or left the release, or its bytes are not what it says), never because
// another entry was handled first or kept bytes of its own: the updater's own entry, listed
// on every pass, comes before most names.
#pragma once

#include <string>

#include "manifest/release_manifest.h"
#include "net/file_download.h"
#include "update/update_pass.h"

// The records' file in the installation folder.
inline constexpr char kPartialRecordName[] = "VorlanePatcher.partial";

// Where `entry` is downloaded to before it is verified and moved into place.
std::string TemporaryPathFor(const ManifestFile& entry);

// What may be continued for `entry`: the kept bytes when a record names this very entry
// (name, size and digest) and its temporary file holds exactly the recorded bytes;
// otherwise nothing. The records are left as they are.
PartialDownload TakeKeptPartial(const ManifestFile& entry);
// Settles `entry`'s record after its download: records the bytes the attempt kept in its
// temporary file, or removes the record when nothing of it is kept. Other records stay.
void SettleKeptPartial(const ManifestFile& entry, const PartialDownload& partial);
// Deletes each kept partial file with its record unless `list` still holds its entry as
// recorded and the file holds the recorded bytes: a stale partial is never continued.
void DropStalePartial(const InstallList& list);
