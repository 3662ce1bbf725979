#include <windows.h>

#include <filesystem>
#include <fstream>

#include "sys/file_ops.h"
#include "sys/long_path_win32.h"
#include "sys/scoped_handle_win32.h"

namespace {

FileStep StepFailed() {
    return GetLastError() == ERROR_SHARING_VIOLATION ? FileStep::Busy : FileStep::Failed;
}

}  // namespace

bool PathExists(const std::string& path) {
    return GetFileAttributesW(LongPathW(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

int64_t FileWriteTime(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(LongPathW(path).c_str(), GetFileExInfoStandard, &data)) {
        return -1;
    }
    // 100-nanosecond steps since 1601-01-01; 1970 begins 11644473600 seconds later.
    const uint64_t ticks =
        (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
    return static_cast<int64_t>(ticks / 10000000) - 11644473600;
}

FileStep FlushFileToDisk(const std::string& path) {
    // Without this a power loss right after the rename can leave the new name on a file
    // whose data never reached the disk.
    ScopedHandle file(CreateFileW(LongPathW(path).c_str(), GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
    if (!file.valid()) {
        return StepFailed();
    }
    return FlushFileBuffers(file.get()) ? FileStep::Done : FileStep::Failed;
}

FileStep MoveFileOver(const std::string& from, const std::string& to) {
    if (MoveFileExW(LongPathW(from).c_str(), LongPathW(to).c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return FileStep::Done;
    }
    return StepFailed();
}

void DeleteFileQuietly(const std::string& path) {
    DeleteFileW(LongPathW(path).c_str());
}

// libstdc++ opens a wide path with _wfopen, which hands it to CreateFileW unchanged.
bool OpenReadStream(std::ifstream& stream, const std::string& path) {
    stream.open(std::filesystem::path(LongPathW(path)), std::ios::binary);
    return stream.is_open();
}

bool OpenWriteStream(std::ofstream& stream, const std::string& path) {
    stream.open(std::filesystem::path(LongPathW(path)), std::ios::binary | std::ios::trunc);
    return stream.is_open();
}

bool OpenAppendStream(std::ofstream& stream, const std::string& path) {
    stream.open(std::filesystem::path(LongPathW(path)), std::ios::binary | std::ios::app);
    return stream.is_open();
}
