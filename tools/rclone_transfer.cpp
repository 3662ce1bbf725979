#include "tools/rclone_transfer.h"

#include <stdlib.h>

#include <filesystem>

#include "tools/atomic_file.h"
#include "tools/child_process.h"

namespace {

// rclone's exit status for "directory not found".
const int kRcloneNoFolder = 3;

bool RunRclone(std::vector<std::string> argv,
               std::string* output,
               const std::string& what,
               int& code,
               std::string& error) {
    argv.insert(argv.begin(), "rclone");
    if (!RunProgram(argv, output, code, error)) {
        error += " (is Debian's rclone installed?)";
        return false;
    }
    if (code != 0) {
        error = what + ": rclone ended with status " + std::to_string(code);
        return false;
    }
    return true;
}

bool RunRclone(const std::vector<std::string>& argv,
               std::string* output,
               const std::string& what,
               std::string& error) {
    int code = 0;
    return RunRclone(argv, output, what, code, error);
}

// The names in a --files-from-raw list inside `folder`.
bool WriteNameList(const TemporaryFolder& folder,
                   const std::vector<std::string>& names,
                   std::string& path,
                   std::string& error) {
    std::string text;
    if (folder.path().empty()) {
        error = "cannot make a temporary folder";
        return false;
    }
    path = folder.path() + "/names";
    return RcloneFilesFromText(names, text, error) && WriteFileReplacing(path, text, 0600, error);
}

}  // namespace

TemporaryFolder::TemporaryFolder() {
    const char* tmp = getenv("TMPDIR");
    std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/vorlane-rclone-XXXXXX";
    if (mkdtemp(tmpl.data())) {
        path_ = tmpl;
    }
}

TemporaryFolder::~TemporaryFolder() {
    if (!path_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
}

bool RcloneList(const std::string& folder,
                int depth,
                bool foldersOnly,
                std::vector<RcloneEntry>& entries,
                std::string& error) {
    std::string output;
    int code = 0;
    if (!RunRclone(RcloneListArgs(folder, depth, foldersOnly), &output, folder + ": cannot list it", code,
                   error)) {
        if (code == kRcloneNoFolder) {
            entries.clear();
            return true;
        }
        return false;
    }
    if (!ParseRcloneListing(output, entries, error)) {
        error = folder + ": " + error;
        return false;
    }
    return true;
}

bool RcloneUploadFiles(const std::string& localFolder,
                       const std::string& remoteFolder,
                       const std::vector<std::string>& names,
                       const std::string& cacheControl,
                       std::string& error) {
    TemporaryFolder temp;
    std::string list;
    return WriteNameList(temp, names, list, error) &&
           RunRclone(RcloneUploadFilesArgs(localFolder, remoteFolder, list, cacheControl), nullptr,
                     remoteFolder + ": cannot upload to it", error);
}

bool RcloneUploadOne(const std::string& localFile,
                     const std::string& object,
                     const std::string& cacheControl,
                     std::string& error) {
    return RunRclone(RcloneUploadOneArgs(localFile, object, cacheControl), nullptr,
                     object + ": cannot upload it", error);
}

bool RcloneDownloadFiles(const std::string& remoteFolder,
                         const std::vector<std::string>& names,
                         const std::string& localFolder,
                         std::string& error) {
    TemporaryFolder temp;
    std::string list;
    return WriteNameList(temp, names, list, error) &&
           RunRclone(RcloneDownloadFilesArgs(remoteFolder, localFolder, list), nullptr,
                     remoteFolder + ": cannot read back from it", error);
}

bool RcloneReadObject(const std::string& object, std::string& body, std::string& error) {
    return RunRclone({"cat", "-q", "--", object}, &body, object + ": cannot read it", error);
}

bool RclonePurge(const std::string& folder, std::string& error) {
    return RunRclone(RclonePurgeArgs(folder), nullptr, folder + ": cannot remove it", error);
}
