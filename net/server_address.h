// Where the update servers are: their host names and the manifest path, kept scrambled
// in the program and rebuilt for each request.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// How many update servers the build knows (VORLANE_UPDATE_HOST lists them; at least one).
size_t ServerHostCount();
// The host name of update server `index` (0: the first asked), as configured with
// VORLANE_UPDATE_HOST. Empty past the last.
std::u16string BuildServerHost(size_t index = 0);
// The same as 8-bit text, for the support log and the names of the places files come from.
std::string ServerHostText(size_t index = 0);
// The path of the signed release manifest on that server (VORLANE_MANIFEST_PATH, at most
// 15 units).
std::u16string BuildManifestPath();
