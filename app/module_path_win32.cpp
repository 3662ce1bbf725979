#include "app/module_path_win32.h"

#include <windows.h>

#include "app/start_up.h"
#include "sys/long_path_win32.h"

std::string ReadModulePath() {
    return ReadWholeModulePath([](char* buffer, uint32_t capacity) -> uint32_t {
        return GetModuleFileNameA(nullptr, buffer, capacity);
    });
}

std::string ReadInstallDir() {
    // The executable itself is expanded, not its folder: it exists while it runs, and its
    // folder then follows from the long form with its final separator.
    return InstallDirFromModulePath(OneFormOfPath(ReadModulePath()));
}
