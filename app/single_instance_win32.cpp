#include "app/single_instance_win32.h"

#include "app/start_up.h"

namespace {

constexpr char kClassName[] = "VorlanePatcherWnd";
constexpr char kFolderProperty[] = "VorlanePatcherFolder";
// Each look for the lock waits this long for it, then for the running updater's window.
constexpr DWORD kLockWaitMs = 100;
// The running updater may be starting or ending (no window yet or any more, lock still
// held); past this it is taken to be hung and the start ends as it would have before.
constexpr DWORD kHandOverPatienceMs = 60000;
constexpr UINT kHandOverAnswerMs = 2000;

// Owned by the window thread while this process runs the pass.
HANDLE FolderLock = nullptr;

// The property holds the low half of the folder key; a window of another folder that
// happened to share it would only be shown (the hand-over checks the whole key).
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

enum class Claim { Taken, Held };

// Waits up to kLockWaitMs for the folder's mutex. A mutex left by an updater that ended
// without giving it back is taken all the same.
Claim WaitForFolderLock(const std::string& installDir) {
    if (FolderLock == nullptr) {
        FolderLock = CreateMutexA(nullptr, FALSE, FolderLockName(installDir).c_str());
        if (FolderLock == nullptr) {
            // Access denied means it exists, made by another user's updater; any other
            // failure leaves the folder unguarded rather than the update undone.
            if (GetLastError() != ERROR_ACCESS_DENIED) {
                return Claim::Taken;
            }
            Sleep(kLockWaitMs);
            return Claim::Held;
        }
    }
    const DWORD wait = WaitForSingleObject(FolderLock, kLockWaitMs);
    return (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) ? Claim::Taken : Claim::Held;
}

// True when the window took the start's intent over.
bool HandOver(HWND window, const std::string& installDir, bool autoMode) {
    if (autoMode) {
        const uint64_t key = FolderKey(installDir);
        DWORD_PTR answer = 0;
        if (!SendMessageTimeoutA(window, kContinueInAutoMode, static_cast<WPARAM>(key & 0xFFFFFFFFu),
                                 static_cast<LPARAM>(key >> 32), SMTO_ABORTIFHUNG, kHandOverAnswerMs,
                                 &answer) ||
            answer != 1) {
            return false;
        }
    }
    if (IsIconic(window)) {
        ShowWindow(window, SW_RESTORE);
    }
    SetForegroundWindow(window);
    return true;
}

}  // namespace

bool ClaimFolderOrHandOver(const std::string& installDir, bool autoMode) {
    const HANDLE mark = FolderMark(installDir);
    const DWORD start = GetTickCount();
    for (;;) {
        if (WaitForFolderLock(installDir) == Claim::Taken) {
            return true;
        }
        if (HWND window = FindFolderWindow(mark)) {
            if (HandOver(window, installDir, autoMode)) {
                return false;
            }
        }
        if (GetTickCount() - start > kHandOverPatienceMs) {
            return false;
        }
    }
}

void ReleaseInstallFolder() {
    if (FolderLock != nullptr) {
        ReleaseMutex(FolderLock);
        CloseHandle(FolderLock);
        FolderLock = nullptr;
    }
}

void MarkFolderWindow(HWND window, const std::string& installDir) {
    SetPropA(window, kFolderProperty, FolderMark(installDir));
}

bool IsHandOverForFolder(WPARAM wParam, LPARAM lParam, const std::string& installDir) {
    const uint64_t key = FolderKey(installDir);
    return static_cast<uint32_t>(wParam) == static_cast<uint32_t>(key) &&
           static_cast<uint32_t>(lParam) == static_cast<uint32_t>(key >> 32);
}
