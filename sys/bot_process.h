// The installed bot program: its running processes and its file version.
#pragma once

#include <cstdint>
#include <string>

// Terminates every process running InstallDir's Vorlane.exe; returns how many.
int32_t TerminateBotProcesses();
// "major.minor.build" of a file's version resource, or "" when it has none.
std::string GetFileVersionString(const std::string& path);
