#include <windows.h>

#include "sys/long_path_win32.h"
#include "sys/output_file.h"

namespace {

// Shared and created as the C runtime's streams were ("ab", "wb"): readers and writers may
// open the file beside us.
HANDLE OpenForWriting(const std::string& path, DWORD disposition) {
    return CreateFileW(LongPathW(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

OutputFile::~OutputFile() {
    Close();
}

bool OutputFile::OpenAppend(const std::string& path) {
    Close();
    HANDLE file = OpenForWriting(path, OPEN_ALWAYS);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    LARGE_INTEGER zero{};
    if (!SetFilePointerEx(file, zero, nullptr, FILE_END)) {
        CloseHandle(file);
        return false;
    }
    handle_ = file;
    return true;
}

bool OutputFile::OpenEmpty(const std::string& path) {
    Close();
    HANDLE file = OpenForWriting(path, CREATE_ALWAYS);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    handle_ = file;
    return true;
}

bool OutputFile::Write(const uint8_t* data, size_t count) {
    if (!handle_) {
        return false;
    }
    while (count > 0) {
        const DWORD part = count > 0x40000000 ? 0x40000000 : static_cast<DWORD>(count);
        DWORD written = 0;
        if (!WriteFile(static_cast<HANDLE>(handle_), data, part, &written, nullptr) || written == 0) {
            return false;
        }
        data += written;
        count -= written;
    }
    return true;
}

bool OutputFile::Close() {
    if (!handle_) {
        return false;
    }
    const bool closed = CloseHandle(static_cast<HANDLE>(handle_)) != 0;
    handle_ = nullptr;
    return closed;
}
