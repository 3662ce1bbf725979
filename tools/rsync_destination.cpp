#include "tools/rsync_destination.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <sstream>

#include "tools/atomic_file.h"
#include "tools/child_process.h"

namespace {

std::string AsFolder(const std::string& path) {
    return path.empty() || path.back() == '/' ? path : path + "/";
}

// Runs rsync; false with a reason naming what was attempted unless it exits with 0.
bool RunRsync(const std::vector<std::string>& options,
              const std::string& what,
              std::string* output,
              std::string& error) {
    std::vector<std::string> argv = {"rsync"};
    argv.insert(argv.end(), options.begin(), options.end());
    int code = 0;
    if (!RunProgram(argv, output, code, error)) {
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

// One line of "rsync --list-only --no-h": mode, size, date, time, one blank, the name.
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
    entry.size = std::strtoull(size.c_str(), nullptr, 10);
    return true;
}

}  // namespace

bool IsLocalDestination(const std::string& dest) {
    if (dest.rfind("rsync://", 0) == 0) {
        return false;
    }
    const size_t colon = dest.find(':');
    return colon == std::string::npos || dest.find('/') < colon;
}

bool ListDestination(const std::string& dest,
                     const std::string& subPath,
                     std::map<std::string, DestinationEntry>& entries,
                     std::string& error) {
    // Include the folders down to subPath and everything below it, nothing else.
    std::vector<std::string> options = {"-r", "--list-only", "--no-h"};
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
    options.push_back(AsFolder(dest));
    std::string output;
    if (!RunRsync(options, AsFolder(dest) + ": cannot list it", &output, error)) {
        return false;
    }
    entries.clear();
    std::istringstream lines(output);
    std::string line;
    while (std::getline(lines, line)) {
        std::string name;
        DestinationEntry entry;
        if (ParseListLine(line, name, entry) && (name == subPath || name.rfind(subPath + "/", 0) == 0)) {
            entries[name] = entry;
        }
    }
    return true;
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
    if (!RunRsync({"-rcn", "--itemize-changes", "--from0", "--files-from=" + list.path(), AsFolder(root),
                   AsFolder(dest)},
                  AsFolder(dest) + ": cannot compare it with " + root, &output, error)) {
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

bool CopyToDestination(const std::string& root,
                       const std::string& dest,
                       const std::vector<std::string>& names,
                       bool replace,
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
    if (IsLocalDestination(dest)) {
        // On disk before the manifest names them. Local only: a server's rsync may be
        // older than the option (3.2.4).
        options.push_back("--fsync");
    }
    if (showProgress) {
        options.push_back("--info=progress2");
    }
    options.push_back(AsFolder(root));
    options.push_back(AsFolder(dest));
    return RunRsync(options, AsFolder(dest) + ": cannot copy to it", nullptr, error);
}
