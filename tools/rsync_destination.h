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

// `relative` under DEST as rsync names it: "user@host:" is the remote user's home folder,
// so "user@host:download/1.0", never "user@host:/download/1.0" (the server's root).
std::string DestinationPath(const std::string& dest, const std::string& relative);

// Whether `name` (relative to DEST) is a temporary file that an interrupted rsync left
// beside one of `listed`: "." + the name (cut short when long) + "." + six characters,
// in the same folder. Such a file is no published file; the updater never asks for it.
bool IsRsyncLeftover(const std::string& name, const std::vector<std::string>& listed);

struct DestinationEntry {
    bool isFolder = false;
    bool isLink = false;
    uint64_t size = 0;
};

// Where the folder `relative` of DEST (download/<version>, say) really lies: `folder`
// names, in DEST's own form (a local path, host:path, a daemon's module path), the deepest
// folder on the way that exists, reached through no symbolic link below its own name, and
// `below` is the rest of `relative`, not there yet ("" when all of it is). A linked
// download/ (kept on another disk) or a linked DEST is followed here, by reading each link,
// so that rsync is handed a real folder and never has to write through a link (rsync 3.4
// and later refuse to). A remote DEST is read through rsync alone, never a shell on the
// server (a key restricted by rrsync works): one listing of one entry for each part of
// the way, each looked at once for all of `places`. `relative` is "" for DEST itself.
struct DestinationFolder {
    std::string relative;
    std::string folder;
    std::string below;
};
bool LocateDestinationFolders(const std::string& dest, std::vector<DestinationFolder>& places, std::string& error);

// `name` (relative to DEST, under place.relative) relative to place.folder, and back.
std::string NameInFolder(const DestinationFolder& place, const std::string& name);
std::string NameInDestination(const DestinationFolder& place, const std::string& inFolder);

// The part of place.relative that place.folder stands for: the staged tree's counterpart
// of place.folder is ROOT/<this>.
std::string ReachedPart(const DestinationFolder& place);

// Every entry of DEST at and under `subPath` (relative to DEST, "/" between parts; "" for
// all of DEST), named relative to DEST. An absent `subPath` gives no entries; an
// unreachable DEST fails. A symbolic link is listed as one (isLink), never followed.
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

// How the copies reach the disk of DEST before the manifest names them.
enum class Durability {
    Fsync,       // rsync's --fsync: the rsync at DEST has it (3.2.4 and later)
    RemoteSync,  // "sync" run on DEST through the same remote shell, after the copy
    LocalSync,   // sync() here, after the copy (a local rsync without --fsync)
    None,        // an rsync daemon without --fsync runs no command: not synced
};

// Finds out, by a trial run that copies nothing, whether the rsync at DEST knows --fsync.
// Fails only when DEST cannot be reached at all.
bool ChooseDurability(const std::string& root, const std::string& dest, Durability& how, std::string& error);

// For RemoteSync and LocalSync: flushes DEST's file systems. The others need nothing.
bool SyncDestination(const std::string& dest, Durability how, std::string& error);

// One line for the output: how the copies were made durable.
std::string DescribeDurability(Durability how);

// Copies the one file `relative` of DEST to the local file `localFile` (under another
// name, so that nothing here looks like a copy to DEST).
bool FetchFromDestination(const std::string& dest,
                          const std::string& relative,
                          const std::string& localFile,
                          std::string& error);

// Copies `names` from `root` to the same relative places under DEST, making folders as
// needed (mode 0755, files 0644, so that a web server running as another user reads
// them). rsync writes each file under a temporary name beside it and renames it into
// place when complete. With `replace` false, files DEST has already are left alone.
// DEST is to be a real folder (LocateDestinationFolder): rsync writes through no link.
// With Durability::Fsync each file is on disk before its rename.
// `showProgress`: rsync's own progress line, redrawn on our standard error (a terminal).
bool CopyToDestination(const std::string& root,
                       const std::string& dest,
                       const std::vector<std::string>& names,
                       bool replace,
                       Durability how,
                       bool showProgress,
                       std::string& error);

// The entries of DEST that `rules` (rsync filter rules, "--include=/x/" and the like) let
// through, everything else excluded; with `followLinks` a link is listed as what it leads to.
bool ListDestinationByRules(const std::string& dest,
                            const std::vector<std::string>& rules,
                            bool followLinks,
                            std::map<std::string, DestinationEntry>& entries,
                            std::string& error);

// Removes the folders `names` (directly in DEST, a real folder) with all they hold, by
// rsync's own delete from an empty folder with only them let through.
bool RemoveFromDestination(const std::string& dest,
                           const std::vector<std::string>& names,
                           std::string& error);
