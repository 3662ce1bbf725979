// Retrieval of the signed release manifest from the update server.
#pragma once

#include <string>

#include "manifest/release_manifest.h"

// True with a parsed manifest whose signature verified; false with a Polish reason.
bool FetchReleaseManifest(ReleaseManifest& manifest, std::string& error);
