// The files of a release folder, as the manifest will list them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ReleaseFile {
    std::string name;  // relative, "/" between folders
    std::string path;  // where to read it
    int64_t size = 0;
};

// Every regular file under `folder` (links to files count as the file they point to),
// sorted by name byte for byte. False with one line per problem in `problems` when the
// folder cannot be read or holds something that is not a file or a folder.
bool ScanReleaseFolder(const std::string& folder,
                       std::vector<ReleaseFile>& files,
                       std::vector<std::string>& problems);
