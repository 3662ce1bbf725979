#include "file_holder.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "test_server.h"
#include "tests/win/test_bot.h"

using testbot::Exists;
using testbot::WaitFor;
using testbot::WriteText;

namespace {

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

}  // namespace

FileHolder::FileHolder(const std::string& path, const HoldOptions& options) {
    ready_ = test_server::ScratchDir() + "\\holder.ready";
    release_ = test_server::ScratchDir() + "\\holder.release";
    DeleteFileA(ready_.c_str());
    DeleteFileA(release_.c_str());
    char exe[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, exe, MAX_PATH);
    std::string commandLine = std::string("\"") + exe +
                              "\" --gtest_also_run_disabled_tests "
                              "--gtest_filter=FileHolderProcess.DISABLED_HoldsAFileUntilReleased";
    SetEnvironmentVariableA("VORLANE_HOLD_FILE", path.c_str());
    SetEnvironmentVariableA("VORLANE_HOLD_READY", ready_.c_str());
    SetEnvironmentVariableA("VORLANE_HOLD_RELEASE", release_.c_str());
    SetEnvironmentVariableA("VORLANE_HOLD_SHARE", std::to_string(options.share).c_str());
    SetEnvironmentVariableA("VORLANE_HOLD_APPEAR_MS", std::to_string(options.appearWithinMs).c_str());
    SetEnvironmentVariableA("VORLANE_HOLD_RELEASE_AT", std::to_string(options.releaseAtSize).c_str());
    SetEnvironmentVariableA("VORLANE_HOLD_RELEASE_AFTER_MS", std::to_string(options.releaseAfterMs).c_str());
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    if (!CreateProcessA(exe, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &info_)) {
        info_ = {};
    }
}

bool FileHolder::Holding(DWORD ms) const {
    return info_.hProcess && WaitFor([this] { return Exists(ready_); }, ms);
}

bool FileHolder::Release() {
    if (!info_.hProcess) {
        return true;
    }
    WriteText(release_, "");
    const bool ended = WaitForSingleObject(info_.hProcess, 20000) == WAIT_OBJECT_0;
    if (!ended) {
        TerminateProcess(info_.hProcess, 99);
        WaitForSingleObject(info_.hProcess, 5000);
    }
    CloseHandle(info_.hProcess);
    CloseHandle(info_.hThread);
    info_ = {};
    return ended;
}

// Not a test: the second process of FileHolder, started by it with the environment that
// names the file, the marker files and how to hold. Holds the file for at most 60 s.
TEST(FileHolderProcess, DISABLED_HoldsAFileUntilReleased) {
    const std::string path = Env("VORLANE_HOLD_FILE");
    const DWORD share = static_cast<DWORD>(std::strtoul(Env("VORLANE_HOLD_SHARE").c_str(), nullptr, 10));
    HANDLE file = INVALID_HANDLE_VALUE;
    // Polled often, so that a file that lives for a moment only is still caught.
    const DWORD start = GetTickCount();
    const DWORD appearMs = std::strtoul(Env("VORLANE_HOLD_APPEAR_MS").c_str(), nullptr, 10);
    do {
        file = CreateFileA(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr);
    } while (file == INVALID_HANDLE_VALUE && GetTickCount() - start < appearMs && (Sleep(5), true));
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    WriteText(Env("VORLANE_HOLD_READY"), "");
    const std::string release = Env("VORLANE_HOLD_RELEASE");
    const long long releaseAt = std::strtoll(Env("VORLANE_HOLD_RELEASE_AT").c_str(), nullptr, 10);
    if (releaseAt >= 0) {
        LARGE_INTEGER size = {};
        EXPECT_TRUE(WaitFor([&] { return GetFileSizeEx(file, &size) && size.QuadPart >= releaseAt; }, 60000));
        Sleep(std::strtoul(Env("VORLANE_HOLD_RELEASE_AFTER_MS").c_str(), nullptr, 10));
    } else {
        EXPECT_TRUE(WaitFor([&] { return Exists(release); }, 60000));
    }
    CloseHandle(file);
}
