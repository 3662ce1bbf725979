// The installed bot program: its running processes and its file version.
#pragma once

#include <cstdint>
#include <string>

// The bot's executable in the installation folder (its image name).
extern const char kBotExecutableName[];  // "Vorlane.exe"

// True when a process's full image path names the bot's executable `botPath` (a plain
// path): letter case ignored, with or without the "\\?\" or "\\?\UNC\" prefix.
bool IsBotImagePath(const std::string& imagePath, const std::string& botPath);
// How starting the bot went: whether it was started, and through which path, or why not
// (Polish text, for the support log).
struct BotStart {
    bool started = false;
    std::string detail;  // "Uruchomiono <path>" or "Nie moge uruchomic <path> (blad <code>)"
};
// Starts InstallDir's Vorlane.exe with the shell's "open", working in InstallDir. A path of
// MAX_PATH or more goes through its 8.3 form where the volume has one (the shell first, then
// the system directly), else its long form.
BotStart StartBot();
// Terminates every process running InstallDir's Vorlane.exe; returns how many.
int32_t TerminateBotProcesses();
// "major.minor.build" of a file's version resource (with `parts` 4, "major.minor.build.revision"),
// or "" when it has none.
std::string GetFileVersionString(const std::string& path, int parts = 3);
