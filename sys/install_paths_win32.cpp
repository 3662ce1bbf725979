// The directory and file-probe calls of the installation paths.
#include <windows.h>

#include "sys/install_paths.h"
#include "sys/long_path_win32.h"

void CreateParentDirectories(const std::string& fullPath) {
    // A folder that exists already or cannot be made shows up later, when the file
    // inside it cannot be created.
    for (const std::string& folder : ParentDirectoriesBelowInstallDir(fullPath)) {
        CreateDirectoryW(LongPathW(folder).c_str(), nullptr);
    }
}

bool IsFileLocked(const std::string& path) {
    // Opening for writing without sharing fails with a sharing violation exactly while
    // another process holds the file, such as the image of a running program.
    HANDLE file = CreateFileW(LongPathW(path).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
        return false;
    }
    return GetLastError() == ERROR_SHARING_VIOLATION;
}
