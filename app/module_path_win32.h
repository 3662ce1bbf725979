// The full path of the running executable.
#pragma once

#include <string>

// The whole path, however long (never cut at 260 bytes); "" when it cannot be read.
std::string ReadModulePath();
