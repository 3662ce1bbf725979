#include <windows.h>

#include "sys/clock.h"
#include "sys/file_replace.h"
#include "sys/long_path_win32.h"
#include "sys/scoped_handle_win32.h"

namespace {

FileStep WriteWholeFile(const std::string& path, const std::string& content) {
    ScopedHandle file(CreateFileW(LongPathW(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
        return GetLastError() == ERROR_SHARING_VIOLATION ? FileStep::Busy : FileStep::Failed;
    }
    DWORD written = 0;
    const bool whole = WriteFile(file.get(), content.data(), static_cast<DWORD>(content.size()), &written,
                                 nullptr) &&
                       written == content.size();
    return whole ? FileStep::Done : FileStep::Failed;
}

const FileReplaceSteps kPlatformSteps = {WriteWholeFile, FlushFileToDisk, MoveFileOver, DeleteFileQuietly,
                                         SleepMs};

}  // namespace

FileStep ReplaceFileDurably(const std::string& path, const std::string& content) {
    return ReplaceFileWith(kPlatformSteps, path, content);
}
