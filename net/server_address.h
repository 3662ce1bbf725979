// Where the update server is: its host name and the manifest path, kept scrambled
// in the program and rebuilt for each request.
#pragma once

#include <cstdint>
#include <string>

// The update server's host name (as configured with VORLANE_UPDATE_HOST).
std::u16string BuildServerHost();
// The path of the signed release manifest on that server (VORLANE_MANIFEST_PATH, at most
// 15 units).
std::u16string BuildManifestPath();
