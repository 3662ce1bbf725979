#include "app/bot_launch_win32.h"

#include <windows.h>
// shellapi.h needs the definitions of windows.h first.
#include <shellapi.h>

#include "sys/bot_process.h"
#include "sys/install_paths.h"
#include "sys/long_path_win32.h"
#include "update/updater_state.h"

bool LaunchBot(std::string& reason) {
    const std::string bot = MakeInstallPath(kBotExecutableName);
    const std::wstring plainPath = FullPathW(bot);
    if (plainPath.size() < MAX_PATH) {
        // ShellExecuteA reports success as a value above 32, an error code otherwise.
        const INT_PTR code = reinterpret_cast<INT_PTR>(
            ShellExecuteA(nullptr, "open", bot.c_str(), nullptr, InstallDir.c_str(), SW_SHOWNORMAL));
        if (code <= 32) {
            reason = "ShellExecuteA " + std::to_string(code);
        }
        return code > 32;
    }
    // The shell takes no path from MAX_PATH on; CreateProcessW takes it in the "\\?\" form.
    // A working directory must stay below MAX_PATH, so such a bot runs in the updater's own.
    std::wstring commandLine = L"\"" + plainPath + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(LongPathW(bot).c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &info)) {
        reason = "CreateProcessW " + std::to_string(GetLastError());
        return false;
    }
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return true;
}
