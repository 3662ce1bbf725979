// The start-up values read from the command line and the executable's own path.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

// True when the command line holds "--auto" anywhere (a plain, case-sensitive substring).
bool HasAutoSwitch(const char* commandLine);

// "--channel NAME" on the command line (the switch a word of its own, the name the next word):
// true with the name ("" when none follows). False when the switch is not there.
bool ReadChannelSwitch(const char* commandLine, std::string& name);

// The folder of a module path with its final backslash or slash, in the plain form ("\\?\"
// dropped, "\\?\UNC\" turned into "\\"); "" when it has neither.
std::string InstallDirFromModulePath(const std::string& modulePath);

// One pass per installation folder: the name of the kernel object that a running updater
// holds for its folder, "Local\\VorlanePatcher-" + 16 hex digits of FolderKey.
uint64_t FolderKey(const std::string& installDir);
std::string FolderLockName(const std::string& installDir);

// Reads a path through `read`, which behaves as GetModuleFileNameA: it writes at most
// `capacity` bytes and returns the length, or returns `capacity` when the path was cut (and 0
// on failure). The buffer grows until the whole path fits, so a path longer than 260 bytes
// is never cut inside a folder name. Returns "" when the path cannot be read.
using ModulePathReader = std::function<uint32_t(char* buffer, uint32_t capacity)>;
std::string ReadWholeModulePath(const ModulePathReader& read);
