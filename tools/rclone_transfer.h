// The runs of rclone that a destination "rclone:REMOTE:BUCKET/PATH" needs, each one
// program started without a shell, rclone's own messages passed to our standard error.
#pragma once

#include <string>
#include <vector>

#include "tools/rclone_destination.h"

// A private temporary folder, removed with everything in it when this object goes.
class TemporaryFolder {
  public:
    TemporaryFolder();
    ~TemporaryFolder();
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;
    // Empty when it could not be made.
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

// Every object under `folder` (up to `depth` levels, 0 for all). A folder that is not
// there (or a bucket that is not) gives no entries.
bool RcloneList(const std::string& folder,
                int depth,
                bool foldersOnly,
                std::vector<RcloneEntry>& entries,
                std::string& error);

// Uploads `names` (relative to both folders) from the local `localFolder` to
// `remoteFolder`, each object with `cacheControl`; objects already there are kept.
bool RcloneUploadFiles(const std::string& localFolder,
                       const std::string& remoteFolder,
                       const std::vector<std::string>& names,
                       const std::string& cacheControl,
                       std::string& error);

// Uploads one file to one object (replacing it) with `cacheControl`.
bool RcloneUploadOne(const std::string& localFile,
                     const std::string& object,
                     const std::string& cacheControl,
                     std::string& error);

// Downloads `names` under `remoteFolder` into the same places under `localFolder`.
bool RcloneDownloadFiles(const std::string& remoteFolder,
                         const std::vector<std::string>& names,
                         const std::string& localFolder,
                         std::string& error);

// The whole of one object that a listing showed is there.
bool RcloneReadObject(const std::string& object, std::string& body, std::string& error);

// Removes `folder` and every object under it.
bool RclonePurge(const std::string& folder, std::string& error);
