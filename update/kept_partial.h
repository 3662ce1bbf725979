// The one partly downloaded file a failed pass may leave for the next pass to continue.
// A pass stops at its first failed file, so there is at most one; its record lies in the
// installation folder beside the program.
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
// (name, size and digest) and its temporary file still holds exactly the recorded bytes;
// otherwise nothing. The record is removed either way: a new one is written only when
// the coming attempt keeps bytes again.
PartialDownload TakeKeptPartial(const ManifestFile& entry);
// Records the bytes a failed attempt kept in `entry`'s temporary file.
void RecordKeptPartial(const ManifestFile& entry, const PartialDownload& partial);
// Deletes the kept partial file and its record unless `list` still holds its entry as
// recorded: an entry that changed or left the manifest is never continued.
void DropStalePartial(const InstallList& list);
