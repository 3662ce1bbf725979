// The installed bot program: its running processes and its file version.
#pragma once

#include <cstdint>
#include <string>

// The bot's executable in the installation folder (its image name).
extern const char kBotExecutableName[];  // "Vorlane.exe"

// Terminates every process running InstallDir's Vorlane.exe; returns how many.
int32_t TerminateBotProcesses();
// "major.minor.build" of a file's version resource, or "" when it has none.
std::string GetFileVersionString(const std::string& path);
