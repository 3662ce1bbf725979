#include "app/module_path_win32.h"

#include <windows.h>

#include "app/start_up.h"

std::string ReadModulePath() {
    return ReadWholeModulePath([](char* buffer, uint32_t capacity) -> uint32_t {
        return GetModuleFileNameA(nullptr, buffer, capacity);
    });
}
