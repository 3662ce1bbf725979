// The one partly downloaded file a failed pass may leave for a later pass to continue.
// A pass stops at its first failed file, so there is at most one; its record lies in the
// installation folder beside the program. The record is dropped only when it is stale (its
// entry changed or left the release, or its bytes are not what it says), never because
// another entry was handled first: the updater's own entry, listed on every pass, comes
// before most names.
#pragma once

#include <string>

#include "manifest/release_manifest.h"
#include "net/file_download.h"
#include "update/update_pass.h"

// The record's name in the installation folder.
inline constexpr char kPartialRecordName[] = "VorlanePatcher.partial";

// Where `entry` is downloaded to before it is verified and moved into place.
std::string TemporaryPathFor(const ManifestFile& entry);

// What may be continued for `entry`: the kept bytes when the record names this very entry
// (name, size and digest) and its temporary file holds exactly the recorded bytes;
// otherwise nothing. The record is left as it is.
PartialDownload TakeKeptPartial(const ManifestFile& entry);
// Settles the record after `entry`'s download: records the bytes the attempt kept in its
// temporary file (dropping another entry's kept file, as only one is recorded), or removes
// the record of `entry` when nothing of it is kept.
void SettleKeptPartial(const ManifestFile& entry, const PartialDownload& partial);
// Deletes the kept partial file and its record unless `list` still holds its entry as
// recorded and the file holds the recorded bytes: a stale partial is never continued.
void DropStalePartial(const InstallList& list);
