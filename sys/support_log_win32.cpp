// The support log's file: opened once for appending, shared with anyone who reads or deletes
// it, written with one WriteFile per line and never flushed, so a line costs a system call.
#include <windows.h>

#include <atomic>

#include "sys/install_paths.h"
#include "sys/long_path_win32.h"
#include "sys/support_log.h"

namespace {

// Set once on the window thread before the first pass starts, then only read.
HANDLE LogFile = INVALID_HANDLE_VALUE;
// What this run has appended: a run that keeps failing and retrying cannot grow the log
// without end (LogLineFits); the older file is made only at the start, when no one writes.
std::atomic<uint64_t> LogSpent{0};

uint64_t FileSize(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
        return 0;
    }
    return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

UtcTime NowUtc() {
    SYSTEMTIME now;
    GetSystemTime(&now);
    UtcTime time;
    time.year = now.wYear;
    time.month = now.wMonth;
    time.day = now.wDay;
    time.hour = now.wHour;
    time.minute = now.wMinute;
    time.second = now.wSecond;
    time.millisecond = now.wMilliseconds;
    return time;
}

}  // namespace

void OpenSupportLog() {
    // Called again, it starts over on the present file (the tests do).
    if (LogFile != INVALID_HANDLE_VALUE) {
        CloseHandle(LogFile);
    }
    const std::wstring path = LongPathW(MakeInstallPath(kLogFileName));
    if (FileSize(path) >= kLogLimitBytes) {
        MoveFileExW(path.c_str(), LongPathW(MakeInstallPath(kOldLogFileName)).c_str(),
                    MOVEFILE_REPLACE_EXISTING);
    }
    // Append-only access: every write lands at the end, from either thread. A read-only or
    // locked log simply stays closed.
    LogFile = CreateFileW(path.c_str(), FILE_APPEND_DATA | SYNCHRONIZE,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
}

void WriteLog(const std::string& text, LogKind kind) {
    if (LogFile == INVALID_HANDLE_VALUE) {
        return;
    }
    const std::string line = FormatLogLine(NowUtc(), text);
    const uint64_t size = line.size();
    uint64_t spent = LogSpent.load();
    do {
        if (!LogLineFits(spent, size, kind)) {
            return;
        }
    } while (!LogSpent.compare_exchange_weak(spent, spent + size));
    DWORD written = 0;
    WriteFile(LogFile, line.data(), static_cast<DWORD>(size), &written, nullptr);
}
