#include "tools/rsync_destination.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <deque>
#include <functional>
#include <sstream>

#include "tools/atomic_file.h"
#include "tools/child_process.h"

namespace {

// A local path as an rsync operand: a relative one with a colon before its first slash
// would name a host, one beginning with "-" an option.
std::string LocalOperand(const std::string& path) {
    const size_t colon = path.find(':');
    const bool hostLike = colon != std::string::npos && path.find('/') > colon;
    return path.empty() || path[0] == '-' || hostLike ? "./" + path : path;
}

// A folder as an rsync operand, with the slash that means "its content". DEST keeps
// rsync's meaning; "host:" (the remote home folder) takes no slash.
std::string FolderOperand(const std::string& path, bool local) {
    const std::string p = local ? LocalOperand(path) : path;
    return p.back() == '/' || (!local && p.back() == ':') ? p : p + "/";
}

std::string RootOperand(const std::string& root) {
    return FolderOperand(root, true);
}

std::string DestOperand(const std::string& dest) {
    return FolderOperand(dest, IsLocalDestination(dest));
}

bool IsDaemonDestination(const std::string& dest) {
    const size_t colon = dest.find(':');
    return dest.rfind("rsync://", 0) == 0 ||
           (!IsLocalDestination(dest) && colon + 1 < dest.size() && dest[colon + 1] == ':');
}

// Runs rsync with `options`, then "--" and `operands` (never read as options); false with
// a reason naming what was attempted unless it exits with 0.
bool RunRsync(const std::vector<std::string>& options,
              const std::vector<std::string>& operands,
              const std::string& what,
              std::string* output,
              std::string& error,
              bool quiet = false) {
    std::vector<std::string> argv = {"rsync"};
    argv.insert(argv.end(), options.begin(), options.end());
    argv.push_back("--");
    argv.insert(argv.end(), operands.begin(), operands.end());
    int code = 0;
    if (!RunProgram(argv, output, code, error, quiet)) {
        return false;
    }
    if (code != 0) {
        error = what + ": rsync ended with status " + std::to_string(code);
        return false;
    }
    return true;
}

// A list of names for --files-from, NUL-separated, in a private temporary file that is
// removed with this object.
class NameListFile {
  public:
    explicit NameListFile(const std::vector<std::string>& names) {
        const char* tmp = getenv("TMPDIR");
        std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/vorlane-names-XXXXXX";
        const int fd = mkstemp(tmpl.data());
        if (fd < 0) {
            return;
        }
        close(fd);
        std::string content;
        for (const std::string& n : names) {
            content += n;
            content.push_back('\0');
        }
        std::string error;
        if (WriteFileReplacing(tmpl, content, 0600, error)) {
            path_ = tmpl;
        } else {
            unlink(tmpl.c_str());
        }
    }
    ~NameListFile() {
        if (!path_.empty()) {
            unlink(path_.c_str());
        }
    }
    NameListFile(const NameListFile&) = delete;
    NameListFile& operator=(const NameListFile&) = delete;
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

// Filter rules are patterns: a wildcard character in a name must not act as one.
std::string EscapePattern(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '*' || c == '?' || c == '[' || c == '\\') {
            out.push_back('\\');
        }
        out.push_back(c);
    }
    return out;
}

// One line of "rsync --list-only --no-h": mode, size, date, time, one blank, the name
// (for a link: the name, " -> ", the link's text).
bool ParseListLine(const std::string& line, std::string& name, DestinationEntry& entry) {
    std::istringstream fields(line);
    std::string mode;
    std::string size;
    std::string date;
    std::string time;
    if (!(fields >> mode >> size >> date >> time) || mode.empty()) {
        return false;
    }
    const size_t at = static_cast<size_t>(fields.tellg());
    if (at == std::string::npos || at + 1 >= line.size()) {
        return false;
    }
    name = line.substr(at + 1);
    entry.isFolder = mode[0] == 'd';
    entry.isLink = mode[0] == 'l';
    entry.size = std::strtoull(size.c_str(), nullptr, 10);
    return true;
}

std::deque<std::string> SplitPath(const std::string& path) {
    std::deque<std::string> parts;
    std::istringstream in(path);
    std::string part;
    while (std::getline(in, part, '/')) {
        if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
    }
    return parts;
}

template <typename Parts>
std::string JoinPath(const Parts& parts) {
    std::string out;
    for (const std::string& p : parts) {
        out += (out.empty() ? "" : "/") + p;
    }
    return out;
}

enum class EntryKind { Absent, Folder, Link, Other };

// What DEST's `path` (whose last part is `name`) is, as lstat would say, read by rsync
// listing that one entry; a link's text in `target`.
bool LookAt(const std::string& path,
            const std::string& name,
            EntryKind& kind,
            std::string& target,
            std::string& error) {
    std::string output;
    int code = 0;
    if (!RunProgram({"rsync", "-dl", "--list-only", "--no-h", "--", path}, &output, code, error, true)) {
        return false;
    }
    std::string listed;
    DestinationEntry entry;
    if (!ParseListLine(output.substr(0, output.find('\n')), listed, entry)) {
        // rsync's status 23 ("some files were not transferred"): no such entry.
        if (code == 0 || code == 23) {
            kind = EntryKind::Absent;
            return true;
        }
        // Once more with rsync's own words on why (an unreachable host, a refused key).
        if (RunRsync({"-dl", "--list-only"}, {path}, path + ": cannot look at it", &output, error)) {
            error =
                path + ": cannot look at it: rsync ended with status " + std::to_string(code) + ", then 0";
        }
        return false;
    }
    kind = entry.isFolder ? EntryKind::Folder : entry.isLink ? EntryKind::Link : EntryKind::Other;
    const std::string arrow = name + " -> ";
    if (kind == EntryKind::Link) {
        if (listed.compare(0, arrow.size(), arrow) != 0 || listed.size() == arrow.size()) {
            error = path + ": a link rsync does not show readably";
            return false;
        }
        target = listed.substr(arrow.size());
    }
    return true;
}

using LookCache = std::map<std::string, std::pair<EntryKind, std::string>>;

// The walk for a remote DEST: from the server's root (or the remote home folder, or the
// daemon's module), each part of DEST and then of `relative` is looked at; a folder is
// stepped into, a link's text takes its place, and a part not there ends the walk. What
// is handed on names real folders only, with no ".." (rsync 3.4 and later resolve ".."
// by the text, not through the link before it).
bool WalkRemote(const std::string& dest,
                const std::string& relative,
                LookCache& seen,
                DestinationFolder& place,
                std::string& error) {
    const bool daemon = IsDaemonDestination(dest);
    const int kMostLinks = 40;  // as the kernel allows on one path
    // A daemon's module is the root: rsync names nothing above it.
    std::string root = dest;
    std::deque<std::string> ahead;
    if (!daemon) {
        const size_t colon = dest.find(':');
        const std::string path = dest.substr(colon + 1);
        root = dest.substr(0, colon + 1) + (path.rfind('/', 0) == 0 ? "/" : "");
        ahead = SplitPath(path);
    }
    for (const std::string& part : SplitPath(relative)) {
        ahead.push_back(part);
    }
    const std::string out =
        daemon               ? " leads out of the module " + dest + ", which an rsync daemon cannot follow"
        : root.back() == '/' ? ""
                             : " leads above the remote home folder; write DEST as an absolute path";
    std::vector<std::string> reached;
    int links = 0;
    while (!ahead.empty()) {
        const std::string part = ahead.front();
        ahead.pop_front();
        if (part == "..") {
            if (!reached.empty()) {
                reached.pop_back();
            } else if (!out.empty()) {
                error = DestinationPath(dest, relative) + ": a link on the way" + out;
                return false;
            }
            continue;  // "/.." is "/"
        }
        reached.push_back(part);
        const std::string here = DestinationPath(root, JoinPath(reached));
        auto known = seen.find(here);
        if (known == seen.end()) {
            std::pair<EntryKind, std::string> look{EntryKind::Absent, ""};
            if (!LookAt(here, part, look.first, look.second, error)) {
                return false;
            }
            known = seen.emplace(here, look).first;
        }
        const auto& [kind, target] = known->second;
        if (kind == EntryKind::Folder) {
            continue;
        }
        reached.pop_back();
        if (kind == EntryKind::Absent) {
            ahead.push_front(part);
            break;
        }
        if (kind == EntryKind::Other) {
            error = here + ": not a folder";
            return false;
        }
        if (++links > kMostLinks) {
            error = DestinationPath(dest, relative) + ": more than " + std::to_string(kMostLinks) +
                    " links on the way";
            return false;
        }
        if (target[0] == '/') {
            if (daemon) {
                error = here + ": a link to " + target + out;
                return false;
            }
            root = dest.substr(0, dest.find(':') + 1) + "/";
            reached.clear();
        }
        const std::deque<std::string> into = SplitPath(target);
        ahead.insert(ahead.begin(), into.begin(), into.end());
    }
    place.folder = DestinationPath(root, JoinPath(reached));
    place.below = JoinPath(ahead);
    return true;
}

// The same for a local DEST: the deepest folder on the way that exists, made real.
bool WalkLocal(const std::string& dest,
               const std::string& relative,
               DestinationFolder& place,
               std::string& error) {
    std::string path = dest;
    std::deque<std::string> ahead = SplitPath(relative);
    while (!ahead.empty()) {
        const std::string next = DestinationPath(path, ahead.front());
        struct stat st;
        if (stat(next.c_str(), &st) != 0) {
            // A link to nothing is no folder to be made here: rsync would refuse to make it.
            const int failure = errno;
            if (failure == ENOENT && lstat(next.c_str(), &st) != 0) {
                break;
            }
            error = next + (failure == ENOENT ? std::string(": a link to a folder that is not there")
                                              : ": " + std::string(std::strerror(failure)));
            return false;
        }
        if (!S_ISDIR(st.st_mode)) {
            error = next + ": not a folder";
            return false;
        }
        path = next;
        ahead.pop_front();
    }
    char real[PATH_MAX];
    if (!realpath(path.c_str(), real)) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    place.folder = real;
    place.below = JoinPath(ahead);
    return true;
}

bool LocateOne(const std::string& dest, LookCache& seen, DestinationFolder& place, std::string& error) {
    place.relative = JoinPath(SplitPath(place.relative));
    if (!(IsLocalDestination(dest) ? WalkLocal(dest, place.relative, place, error)
                                   : WalkRemote(dest, place.relative, seen, place, error))) {
        return false;
    }
    // What is still to be made must be the end of `relative` itself: the staged tree has
    // the same folders. A link that leads to a folder not there would need others.
    const std::string& r = place.relative;
    const std::string& b = place.below;
    const bool tail = b.empty() || b == r ||
                      (r.size() > b.size() && r.compare(r.size() - b.size(), b.size(), b) == 0 &&
                       r[r.size() - b.size() - 1] == '/');
    if (!tail) {
        error = DestinationPath(place.folder, b.substr(0, b.find('/'))) + ": no such folder (on the way to " +
                DestinationPath(dest, r) + "; DEST, and any folder a link on the way leads to, must exist)";
        return false;
    }
    return true;
}

}  // namespace

bool LocateDestinationFolders(const std::string& dest,
                              std::vector<DestinationFolder>& places,
                              std::string& error) {
    LookCache seen;
    for (DestinationFolder& place : places) {
        if (!LocateOne(dest, seen, place, error)) {
            return false;
        }
    }
    return true;
}

std::string ReachedPart(const DestinationFolder& place) {
    if (place.below.empty()) {
        return place.relative;
    }
    return place.below.size() >= place.relative.size()
               ? ""
               : place.relative.substr(0, place.relative.size() - place.below.size() - 1);
}

std::string NameInFolder(const DestinationFolder& place, const std::string& name) {
    const std::string reached = ReachedPart(place);
    return reached.empty() ? name : name.substr(std::min(name.size(), reached.size() + 1));
}

std::string NameInDestination(const DestinationFolder& place, const std::string& inFolder) {
    const std::string reached = ReachedPart(place);
    return reached.empty() ? inFolder : inFolder.empty() ? reached : reached + "/" + inFolder;
}

bool IsLocalDestination(const std::string& dest) {
    if (dest.rfind("rsync://", 0) == 0) {
        return false;
    }
    const size_t colon = dest.find(':');
    return colon == std::string::npos || dest.find('/') < colon;
}

std::string DestinationPath(const std::string& dest, const std::string& relative) {
    if (relative.empty()) {
        return dest;
    }
    const bool noSlash =
        dest.empty() || dest.back() == '/' || (!IsLocalDestination(dest) && dest.back() == ':');
    return noSlash ? dest + relative : dest + "/" + relative;
}

bool IsRsyncLeftover(const std::string& name, const std::vector<std::string>& listed) {
    // rsync's temporary name: "." + the name + ".XXXXXX" (mkstemp: letters and digits),
    // the name cut so that the whole fits the 255 bytes a file name may have.
    const size_t kSuffix = 7;
    const size_t kNameMost = 255;
    const size_t slash = name.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : name.substr(0, slash + 1);
    const std::string base = name.substr(folder.size());
    if (base.size() < 2 + kSuffix || base[0] != '.' || base[base.size() - kSuffix] != '.') {
        return false;
    }
    for (size_t i = base.size() - kSuffix + 1; i < base.size(); ++i) {
        if (!std::isalnum(static_cast<unsigned char>(base[i]))) {
            return false;
        }
    }
    const std::string stem = base.substr(1, base.size() - 1 - kSuffix);
    for (const std::string& other : listed) {
        if (other.size() <= folder.size() || other.compare(0, folder.size(), folder) != 0 ||
            other.find('/', folder.size()) != std::string::npos) {
            continue;
        }
        const std::string otherBase = other.substr(folder.size());
        if (otherBase == stem ||
            (otherBase.size() + 1 + kSuffix > kNameMost && otherBase.rfind(stem, 0) == 0)) {
            return true;
        }
    }
    return false;
}

namespace {

// Runs rsync's listing of DEST with `options` and keeps each entry `keep` accepts, by its
// name (a link by its own name, without " -> target").
bool RunListing(const std::string& dest,
                const std::vector<std::string>& options,
                const std::function<bool(const std::string&)>& keep,
                std::map<std::string, DestinationEntry>& entries,
                std::string& error) {
    std::string output;
    if (!RunRsync(options, {DestOperand(dest)}, DestOperand(dest) + ": cannot list it", &output, error)) {
        return false;
    }
    entries.clear();
    std::istringstream lines(output);
    std::string line;
    while (std::getline(lines, line)) {
        std::string name;
        DestinationEntry entry;
        if (!ParseListLine(line, name, entry) || name == ".") {
            continue;
        }
        if (entry.isLink) {
            name = name.substr(0, name.find(" -> "));
        }
        if (keep(name)) {
            entries[name] = entry;
        }
    }
    return true;
}

}  // namespace

bool ListDestination(const std::string& dest,
                     const std::string& subPath,
                     std::map<std::string, DestinationEntry>& entries,
                     std::string& error) {
    // Include the folders down to subPath and everything below it, nothing else.
    // -l: a link is listed as a link (rsync is never asked to follow one).
    std::vector<std::string> options = {"-rl", "--list-only", "--no-h"};
    if (!subPath.empty()) {
        std::string prefix = "/";
        size_t from = 0;
        for (size_t slash = subPath.find('/'); slash != std::string::npos; slash = subPath.find('/', from)) {
            prefix += EscapePattern(subPath.substr(from, slash - from)) + "/";
            options.push_back("--include=" + prefix);
            from = slash + 1;
        }
        options.push_back("--include=" + prefix + EscapePattern(subPath.substr(from)) + "/***");
        options.push_back("--include=" + prefix + EscapePattern(subPath.substr(from)));
        options.push_back("--exclude=*");
    }
    return RunListing(
        dest, options,
        [&subPath](const std::string& name) {
            return subPath.empty() || name == subPath || name.rfind(subPath + "/", 0) == 0;
        },
        entries, error);
}

bool FindDifferingFiles(const std::string& root,
                        const std::string& dest,
                        const std::vector<std::string>& names,
                        std::vector<std::string>& differing,
                        std::string& error) {
    NameListFile list(names);
    if (list.path().empty()) {
        error = "cannot write a temporary list of names";
        return false;
    }
    // A dry run by checksum itemizes each file it would change: ">f+++++++++" for a
    // new one, ">fc..." or ">f.s..." for one that exists with other content.
    std::string output;
    if (!RunRsync({"-rcn", "--itemize-changes", "--from0", "--files-from=" + list.path()},
                  {RootOperand(root), DestOperand(dest)},
                  DestOperand(dest) + ": cannot compare it with " + root, &output, error)) {
        return false;
    }
    differing.clear();
    std::istringstream lines(output);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.size() > 12 && line[1] == 'f' && line.compare(2, 9, "+++++++++") != 0) {
            differing.push_back(line.substr(12));
        }
    }
    return true;
}

bool ChooseDurability(const std::string& root, const std::string& dest, Durability& how, std::string& error) {
    // A dry run of nothing still starts the rsync at DEST with the option; one that lacks
    // it refuses to start, and the same run without it tells that apart from no answer.
    std::vector<std::string> trial = {"-n", "-d", "--exclude=*"};
    const std::vector<std::string> operands = {RootOperand(root), DestOperand(dest)};
    std::string ignored;
    trial.push_back("--fsync");
    if (RunRsync(trial, operands, "", nullptr, ignored, true)) {
        how = Durability::Fsync;
        return true;
    }
    trial.pop_back();
    if (!RunRsync(trial, operands, DestOperand(dest) + ": cannot reach it", nullptr, error)) {
        return false;
    }
    how = IsLocalDestination(dest)    ? Durability::LocalSync
          : IsDaemonDestination(dest) ? Durability::None
                                      : Durability::RemoteSync;
    return true;
}

bool SyncDestination(const std::string& dest, Durability how, std::string& error) {
    if (how == Durability::LocalSync) {
        sync();
    } else if (how == Durability::RemoteSync) {
        // rsync starts its other side with this command through the remote shell, so
        // "sync" runs on DEST and the listing only follows once it has finished.
        std::string ignored;
        return RunRsync({"-d", "--list-only", "--exclude=*", "--rsync-path=sync && rsync"},
                        {DestOperand(dest)}, DestOperand(dest) + ": cannot run sync there", &ignored, error);
    }
    return true;
}

std::string DescribeDurability(Durability how) {
    switch (how) {
        case Durability::Fsync:
            return "the files were on disk (rsync --fsync) before the manifest went up";
        case Durability::RemoteSync:
            return "the rsync on the server lacks --fsync: \"sync\" ran there before the manifest went up";
        case Durability::LocalSync:
            return "this rsync lacks --fsync: the disks were synced before the manifest went up";
        case Durability::None:
            return "warning: the rsync daemon lacks --fsync and runs no command, so the files were not "
                   "synced to disk before the manifest went up";
    }
    return "";
}

bool FetchFromDestination(const std::string& dest,
                          const std::string& relative,
                          const std::string& localFile,
                          std::string& error) {
    return RunRsync({"--copy-links"}, {DestOperand(dest) + relative, LocalOperand(localFile)},
                    DestOperand(dest) + relative + ": cannot read it", nullptr, error);
}

bool CopyToDestination(const std::string& root,
                       const std::string& dest,
                       const std::vector<std::string>& names,
                       bool replace,
                       Durability how,
                       bool showProgress,
                       std::string& error) {
    NameListFile list(names);
    if (list.path().empty()) {
        error = "cannot write a temporary list of names";
        return false;
    }
    // Never --inplace or --partial: a file appears under its name only when complete.
    std::vector<std::string> options = {"-r", "--chmod=D0755,F0644", "--from0",
                                        "--files-from=" + list.path()};
    options.push_back(replace ? "--ignore-times" : "--ignore-existing");
    if (how == Durability::Fsync) {
        options.push_back("--fsync");
    }
    if (showProgress) {
        options.push_back("--info=progress2");
    }
    return RunRsync(options, {RootOperand(root), DestOperand(dest)},
                    DestOperand(dest) + ": cannot copy to it", nullptr, error);
}

bool ListDestinationByRules(const std::string& dest,
                            const std::vector<std::string>& rules,
                            bool followLinks,
                            std::map<std::string, DestinationEntry>& entries,
                            std::string& error) {
    std::vector<std::string> options = {followLinks ? "-rL" : "-rl", "--list-only", "--no-h"};
    options.insert(options.end(), rules.begin(), rules.end());
    options.push_back("--exclude=*");
    return RunListing(
        dest, options, [](const std::string&) { return true; }, entries, error);
}

bool RemoveFromDestination(const std::string& dest,
                           const std::vector<std::string>& names,
                           std::string& error) {
    const char* tmp = getenv("TMPDIR");
    std::string empty = std::string(tmp && *tmp ? tmp : "/tmp") + "/vorlane-empty-XXXXXX";
    if (!mkdtemp(empty.data())) {
        error = "cannot make a temporary folder";
        return false;
    }
    std::vector<std::string> options = {"-r", "--delete"};
    for (const std::string& n : names) {
        options.push_back("--include=/" + EscapePattern(n) + "/***");
    }
    options.push_back("--exclude=*");
    const bool ok = RunRsync(options, {RootOperand(empty), DestOperand(dest)},
                             DestOperand(dest) + ": cannot remove from it", nullptr, error);
    rmdir(empty.c_str());
    return ok;
}
