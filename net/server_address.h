// Where the update server is: its host name and the manifest path, kept scrambled
// in the program and rebuilt for each request.
#pragma once

#include <cstdint>
#include <string>

// The update server's host name (16 units).
std::u16string BuildServerHost();
// The path of the signed release manifest on that server (15 units).
std::u16string BuildManifestPath();
