// Starting the installed bot, from a folder of any depth.
#include <windows.h>
// shellapi.h needs the definitions of windows.h first.
#include <shellapi.h>

#include "sys/bot_process.h"
#include "sys/install_paths.h"
#include "sys/long_path_win32.h"

namespace {

BotStart Started(const std::wstring& path) {
    return BotStart{true, "Uruchomiono " + NarrowPath(path)};
}

BotStart NotStarted(const std::wstring& path, unsigned long code) {
    return BotStart{false, "Nie moge uruchomic " + NarrowPath(path) + " (blad " + std::to_string(code) + ")"};
}

// The shell's "open", as a user's double click starts the bot. `folder` empty: the bot
// starts in the updater's own current directory.
BotStart ShellOpen(const std::wstring& file, const std::wstring& folder) {
    const HINSTANCE result = ShellExecuteW(nullptr, L"open", file.c_str(), nullptr,
                                           folder.empty() ? nullptr : folder.c_str(), SW_SHOWNORMAL);
    const INT_PTR code = reinterpret_cast<INT_PTR>(result);
    return code > 32 ? Started(file) : NotStarted(file, static_cast<unsigned long>(code));
}

// The process made directly, working in `folder` (empty: the updater's own current
// directory); `shown` is the plain path the command line and the report carry.
BotStart CreateBotProcess(const std::wstring& image, const std::wstring& shown, const std::wstring& folder) {
    std::wstring commandLine = L"\"" + shown + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(image.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        folder.empty() ? nullptr : folder.c_str(), &startup, &info)) {
        return NotStarted(shown, GetLastError());
    }
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return Started(shown);
}

}  // namespace

BotStart StartBot() {
    const std::string bot = MakeInstallPath(kBotExecutableName);
    const std::wstring plainPath = FullPathW(bot);
    if (plainPath.size() < MAX_PATH) {
        return ShellOpen(plainPath, FullPathW(InstallDir));
    }
    // A process image path from MAX_PATH on is not reliably taken, whatever its form; its
    // 8.3 form, where the volume has one, is short enough, and so is the folder's.
    const std::wstring shortPath = ShortPathW(bot);
    if (!shortPath.empty() && shortPath.size() < MAX_PATH) {
        // The bot works in its folder, named in its short form here too: some systems (Wine)
        // make a folder long again on the way, and the launch fails.
        std::wstring shortFolder = ShortPathW(InstallDir);
        if (!shortFolder.empty() && shortFolder.size() < MAX_PATH) {
            SetCurrentDirectoryW(shortFolder.c_str());
        } else {
            shortFolder.clear();
        }
        // Not through the shell: some systems (Wine) make the image path long again into a
        // MAX_PATH buffer on the way, and what reaches the loader is then no path at all (the
        // 64-bit shell refuses it; the 32-bit one reports a start that never runs). The same
        // short path with the "\\?\" prefix is passed on as it is.
        return CreateBotProcess(LongPathW(NarrowPath(shortPath)), shortPath, shortFolder);
    }
    // No short form: the long form, which CreateProcessW takes with the "\\?\" prefix where
    // the system allows such images at all. Its working directory is the updater's own.
    return CreateBotProcess(LongPathW(bot), plainPath, std::wstring());
}
