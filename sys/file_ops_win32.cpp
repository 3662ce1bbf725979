#include <windows.h>

#include "sys/file_ops.h"
#include "sys/scoped_handle_win32.h"

namespace {

FileStep StepFailed() {
    return GetLastError() == ERROR_SHARING_VIOLATION ? FileStep::Busy : FileStep::Failed;
}

}  // namespace

bool PathExists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

FileStep FlushFileToDisk(const std::string& path) {
    // Without this a power loss right after the rename can leave the new name on a file
    // whose data never reached the disk.
    ScopedHandle file(CreateFileA(path.c_str(), GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
    if (!file.valid()) {
        return StepFailed();
    }
    return FlushFileBuffers(file.get()) ? FileStep::Done : FileStep::Failed;
}

FileStep MoveFileOver(const std::string& from, const std::string& to) {
    if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return FileStep::Done;
    }
    return StepFailed();
}

void DeleteFileQuietly(const std::string& path) {
    DeleteFileA(path.c_str());
}
