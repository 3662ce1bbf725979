#include "app/single_instance_win32.h"

#include "app/start_up.h"

namespace {

constexpr char kClassName[] = "VorlanePatcherWnd";
constexpr char kFolderProperty[] = "VorlanePatcherFolder";
constexpr int kFindAttempts = 50;
constexpr DWORD kFindPauseMs = 100;

// The property holds the low half of the folder key; a window of another folder that
// happened to share it would only be shown in place of this one.
HANDLE FolderMark(const std::string& installDir) {
    return reinterpret_cast<HANDLE>(
        static_cast<uintptr_t>(static_cast<uint32_t>(FolderKey(installDir)) | 1u));
}

HWND FindFolderWindow(HANDLE mark) {
    for (HWND window = FindWindowExA(nullptr, nullptr, kClassName, nullptr); window != nullptr;
         window = FindWindowExA(nullptr, window, kClassName, nullptr)) {
        if (GetPropA(window, kFolderProperty) == mark) {
            return window;
        }
    }
    return nullptr;
}

}  // namespace

bool ClaimInstallFolder(const std::string& installDir) {
    // Never closed: the system releases it when the process ends, however it ends.
    HANDLE mutex = CreateMutexA(nullptr, FALSE, FolderLockName(installDir).c_str());
    if (mutex == nullptr) {
        // Access denied means it exists, made by another user's updater; any other failure
        // leaves the folder unguarded rather than the update undone.
        return GetLastError() != ERROR_ACCESS_DENIED;
    }
    return GetLastError() != ERROR_ALREADY_EXISTS;
}

void MarkFolderWindow(HWND window, const std::string& installDir) {
    SetPropA(window, kFolderProperty, FolderMark(installDir));
}

void ShowFolderWindow(const std::string& installDir) {
    const HANDLE mark = FolderMark(installDir);
    for (int attempt = 0; attempt < kFindAttempts; ++attempt) {
        if (HWND window = FindFolderWindow(mark)) {
            if (IsIconic(window)) {
                ShowWindow(window, SW_RESTORE);
            }
            SetForegroundWindow(window);
            return;
        }
        Sleep(kFindPauseMs);
    }
}
