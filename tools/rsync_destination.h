// A publishing destination as rsync names it: a local folder, "[user@]host:path" over a
// remote shell (ssh, or whatever RSYNC_RSH names), or an rsync daemon ("host::module",
// "rsync://host/module"). Every access goes through Debian's rsync, the same for all
// three, so that what a local test proves holds for a real server too.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// rsync's own rule: a colon before the first slash, or "rsync://", means another machine.
bool IsLocalDestination(const std::string& dest);

struct DestinationEntry {
    bool isFolder = false;
    uint64_t size = 0;
};

// Every entry of DEST at and under `subPath` (relative to DEST, "/" between parts), named
// relative to DEST. An absent `subPath` gives no entries; an unreachable DEST fails.
bool ListDestination(const std::string& dest,
                     const std::string& subPath,
                     std::map<std::string, DestinationEntry>& entries,
                     std::string& error);

// Those of `names` (relative to `root` and DEST) that DEST holds with other content than
// `root`, compared by rsync's checksums on each side. Names DEST lacks are not listed.
bool FindDifferingFiles(const std::string& root,
                        const std::string& dest,
                        const std::vector<std::string>& names,
                        std::vector<std::string>& differing,
                        std::string& error);

// Copies `names` from `root` to the same relative places under DEST, making folders as
// needed (mode 0755, files 0644, so that a web server running as another user reads
// them). rsync writes each file under a temporary name beside it and renames it into
// place when complete. With `replace` false, files DEST has already are left alone.
// `showProgress`: rsync's own progress line, redrawn on our standard error (a terminal).
bool CopyToDestination(const std::string& root,
                       const std::string& dest,
                       const std::vector<std::string>& names,
                       bool replace,
                       bool showProgress,
                       std::string& error);
