// The full path of the running executable, and the installation folder it names.
#pragma once

#include <string>

// The whole path, however long (never cut at 260 bytes); "" when it cannot be read.
std::string ReadModulePath();
// The executable's folder in its one form (absolute, each 8.3 name expanded, no "\\?\"),
// ending with a separator: however the program was started, one folder gives one text, so
// that its lock, its window's mark, the bot's path and every file path name it alike.
std::string ReadInstallDir();
