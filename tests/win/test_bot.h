// Helpers of the Windows tests: scratch folders in the build tree and the stand-in bot
// (tests/fixtures/bot), started as a real second process. Every wait is bounded.
#pragma once

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace testbot {

// The build tree as Wine sees it, with backslashes and a final one.
inline std::string BuildDir() {
    std::string dir = VORLANE_BUILD_DIR_WINE;
    for (char& c : dir) {
        if (c == '/') {
            c = '\\';
        }
    }
    return dir + "\\";
}

inline std::string BotExe() {
    return BuildDir() + "tests\\bot\\Vorlane.exe";
}
inline std::string NextBotExe() {
    return BuildDir() + "tests\\bot-2.6.0.1\\Vorlane.exe";
}

// A new, empty folder below the build tree's scratch area; ends with a backslash.
inline std::string FreshFolder(const std::string& name) {
    const std::string dir = BuildDir() + "tests\\scratch\\" + name;
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
    std::filesystem::create_directories(dir, ignored);
    return dir + "\\";
}

inline std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

inline bool WriteText(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    return static_cast<bool>(out);
}

inline bool Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Polls `done` every 50 ms for at most `ms`; true as soon as it holds.
template <typename Pred>
bool WaitFor(Pred done, DWORD ms) {
    const DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > ms) {
            return false;
        }
        Sleep(50);
    }
    return true;
}

// One running copy of the bot. Terminated on destruction if a test left it running.
class Bot {
  public:
    // Starts `exe` and waits until it has logged its start (after its updater swap).
    explicit Bot(const std::string& exe) : exe_(exe) {
        folder_ = exe.substr(0, exe.find_last_of('\\') + 1);
        std::string commandLine = "\"" + exe + "\"";
        STARTUPINFOA startup = {};
        startup.cb = sizeof(startup);
        if (!CreateProcessA(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                            folder_.c_str(), &startup, &info_)) {
            info_ = {};
            return;
        }
        const std::string mark = "start " + std::to_string(info_.dwProcessId) + " ";
        started_ = WaitFor([&] { return ReadText(folder_ + "Vorlane.runs").find(mark) != std::string::npos; },
                           20000);
    }
    ~Bot() {
        if (info_.hProcess) {
            if (Running()) {
                TerminateProcess(info_.hProcess, 99);
                WaitForSingleObject(info_.hProcess, 5000);
            }
            CloseHandle(info_.hProcess);
            CloseHandle(info_.hThread);
        }
    }
    Bot(const Bot&) = delete;
    Bot& operator=(const Bot&) = delete;

    bool Started() const { return started_; }
    bool Running() const { return info_.hProcess && WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT; }
    // Waits at most `ms` for the process to end; true when it has.
    bool WaitExit(DWORD ms) const {
        return info_.hProcess && WaitForSingleObject(info_.hProcess, ms) == WAIT_OBJECT_0;
    }
    DWORD ExitCode() const {
        DWORD code = 0;
        GetExitCodeProcess(info_.hProcess, &code);
        return code;
    }

  private:
    std::string exe_;
    std::string folder_;
    PROCESS_INFORMATION info_ = {};
    bool started_ = false;
};

// Asks every bot of `folder` to stop (the stop file) and removes the request once
// `bots` have ended.
inline bool StopBots(const std::string& folder, const std::vector<const Bot*>& bots) {
    WriteText(folder + "Vorlane.stop", "");
    bool ended = true;
    for (const Bot* bot : bots) {
        ended = bot->WaitExit(10000) && ended;
    }
    DeleteFileA((folder + "Vorlane.stop").c_str());
    return ended;
}

}  // namespace testbot
