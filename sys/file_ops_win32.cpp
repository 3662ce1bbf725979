#include <windows.h>

#include "sys/file_ops.h"
#include "sys/scoped_handle_win32.h"

bool PathExists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool FlushFileToDisk(const std::string& path) {
    // Without this a power loss right after the rename can leave the new name on a file
    // whose data never reached the disk.
    ScopedHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    return file.valid() && FlushFileBuffers(file.get());
}

bool MoveFileOver(const std::string& from, const std::string& to) {
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

void DeleteFileQuietly(const std::string& path) {
    DeleteFileA(path.c_str());
}
