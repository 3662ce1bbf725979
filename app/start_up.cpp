#include "app/start_up.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "sys/install_paths.h"

bool HasAutoSwitch(const char* commandLine) {
    return commandLine != nullptr && std::strstr(commandLine, "--auto") != nullptr;
}

bool ReadChannelSwitch(const char* commandLine, std::string& name) {
    if (commandLine == nullptr) {
        return false;
    }
    const std::string line(commandLine);
    const std::string blanks = " \t";
    const std::string word = "--channel";
    for (size_t at = line.find(word); at != std::string::npos; at = line.find(word, at + 1)) {
        const size_t end = at + word.size();
        if ((at > 0 && blanks.find(line[at - 1]) == std::string::npos) ||
            (end < line.size() && blanks.find(line[end]) == std::string::npos)) {
            continue;
        }
        const size_t start = line.find_first_not_of(blanks, end);
        if (start == std::string::npos) {
            name.clear();
        } else {
            name = line.substr(start, line.find_first_of(blanks, start) - start);
        }
        return true;
    }
    return false;
}

std::string InstallDirFromModulePath(const std::string& modulePath) {
    // Started through a "\\?\" path, the program may see its own path in that form. The folder
    // is kept in the plain form only, so that its lock, the bot's path and every file path
    // name it alike however the program was started.
    const std::string plain = WithoutLongPathPrefix(modulePath);
    const size_t cut = plain.find_last_of("\\/");
    if (cut == std::string::npos) {
        return std::string();
    }
    return plain.substr(0, cut + 1);
}

uint64_t FolderKey(const std::string& installDir) {
    // FNV-1a over the path with ASCII letters folded: Windows paths ignore their case.
    uint64_t hash = 14695981039346656037ull;
    for (char c : installDir) {
        hash = (hash ^ static_cast<uint8_t>(FoldAsciiCase(c))) * 1099511628211ull;
    }
    return hash;
}

std::string FolderLockName(const std::string& installDir) {
    char hex[17];
    std::snprintf(hex, sizeof(hex), "%016llx", static_cast<unsigned long long>(FolderKey(installDir)));
    return std::string("Local\\VorlanePatcher-") + hex;
}

std::string ReadWholeModulePath(const ModulePathReader& read) {
    // A Windows path holds at most 32767 UTF-16 units, two bytes each in a double-byte code
    // page; the last try (66560 bytes) holds that, and past it no buffer would help.
    constexpr uint32_t kLastCapacity = 66560;
    for (uint32_t capacity = 260; capacity <= kLastCapacity; capacity *= 2) {
        std::vector<char> buffer(capacity, '\0');
        const uint32_t length = read(buffer.data(), capacity);
        if (length == 0) {
            return std::string();
        }
        if (length < capacity) {
            return std::string(buffer.data(), length);
        }
    }
    return std::string();
}
