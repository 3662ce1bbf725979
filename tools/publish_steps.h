// The steps of publish that other commands share: reading the manifest a destination
// serves now, and putting a manifest in place there the safe way (a temporary name
// renamed into place, so that a client sees the old manifest or the new one).
#pragma once

#include <string>

#include "tools/rsync_destination.h"

// The manifest DEST serves now at `relative` into `body`; `present` false when it has none.
// `place`: the manifest's folder, as LocateDestinationFolders found it.
bool ReadDestinationManifest(const std::string& dest,
                             const DestinationFolder& place,
                             const std::string& relative,
                             std::string& body,
                             bool& present,
                             std::string& error);

// Puts the manifest `body`, which the local tree `root` holds at `relative`, at `relative`
// of DEST under a temporary name renamed into place, and checks its size there.
bool PutDestinationManifest(const std::string& root,
                            const std::string& dest,
                            const DestinationFolder& place,
                            const std::string& relative,
                            const std::string& body,
                            Durability how,
                            std::string& error);
