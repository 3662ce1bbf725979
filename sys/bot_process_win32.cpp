// The bot's running processes (Tool Help) and a file's version resource.
#include <windows.h>

#include <tlhelp32.h>

#include <cstdio>
#include <vector>

#include "sys/bot_process.h"
#include "sys/install_paths.h"
#include "sys/long_path_win32.h"
#include "sys/scoped_handle_win32.h"

namespace {

const DWORD kBotAccess = PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE;
const UINT kTerminatedExitCode = 1;
const DWORD kTerminationWaitMs = 5000;
const DWORD kLongestPath = 32768;

// The ANSI Tool Help entry: its ULONG_PTR field and alignment make it 8 bytes longer in a
// 64-bit build.
static_assert(sizeof(PROCESSENTRY32) == (sizeof(void*) == 8 ? 304 : 296), "the ANSI Tool Help entry");
static_assert(kBotAccess == 0x00101001, "terminate, limited query, synchronize");

// Terminates the process when it runs the bot's executable; true when it did.
bool TerminateIfBot(DWORD pid, const std::string& botPath) {
    ScopedHandle process(OpenProcess(kBotAccess, FALSE, pid));
    if (!process.valid()) {
        return false;  // another user's or a higher integrity level's process
    }
    // Room for the longest path Windows has: a bot in a deep folder is still recognised.
    std::vector<wchar_t> image(kLongestPath);
    DWORD size = kLongestPath;
    if (!QueryFullProcessImageNameW(process.get(), 0, image.data(), &size)) {
        return false;
    }
    // A bot started through the 8.3 form of a deep folder reports that form as its image:
    // the image and the bot's path are compared in one form. A program of the same name
    // started from another folder is not ours to end.
    const std::string imagePath = OneFormOfPath(NarrowPath(std::wstring(image.data(), size)));
    if (!IsBotImagePath(imagePath, botPath)) {
        return false;
    }
    if (!TerminateProcess(process.get(), kTerminatedExitCode)) {
        return false;
    }
    WaitForSingleObject(process.get(), kTerminationWaitMs);
    return true;
}

}  // namespace

int32_t TerminateBotProcesses() {
    const std::string botPath = OneFormOfPath(MakeInstallPath(kBotExecutableName));
    ScopedHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot.valid()) {
        return 0;
    }
    int32_t count = 0;
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32First(snapshot.get(), &entry); more;
         more = Process32Next(snapshot.get(), &entry)) {
        if (EqualIgnoringAsciiCase(entry.szExeFile, kBotExecutableName) &&
            TerminateIfBot(entry.th32ProcessID, botPath)) {
            ++count;
        }
    }
    return count;
}

std::string GetFileVersionString(const std::string& path, int parts) {
    const std::wstring widePath = LongPathW(path);
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(widePath.c_str(), &ignored);
    if (size == 0) {
        return std::string();
    }
    std::vector<char> block(size, 0);
    if (!GetFileVersionInfoW(widePath.c_str(), 0, size, block.data())) {
        return std::string();
    }
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    // A damaged resource can declare a shorter fixed record; reading past it would take the
    // version numbers from whatever follows.
    if (!VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&info), &length) || info == nullptr ||
        length < sizeof(VS_FIXEDFILEINFO)) {
        return std::string();
    }
    char text[48];
    std::snprintf(text, sizeof(text), "%u.%u.%u", static_cast<unsigned>(HIWORD(info->dwFileVersionMS)),
                  static_cast<unsigned>(LOWORD(info->dwFileVersionMS)),
                  static_cast<unsigned>(HIWORD(info->dwFileVersionLS)));
    if (parts < 4) {
        return text;
    }
    return std::string(text) + "." + std::to_string(LOWORD(info->dwFileVersionLS));
}
