// Whole-file reads and writes for the tool. Writes go to a temporary name beside the
// target and are renamed into place, so an interrupted run never leaves a half file
// under the final name.
#pragma once

#include <sys/types.h>
#include <string>

bool ReadWholeFile(const std::string& path, std::string& content, std::string& error);

// Replaces `path` (or creates it) with `content`, file mode `mode`.
bool WriteFileReplacing(const std::string& path, const std::string& content, mode_t mode, std::string& error);

// Creates `path` with `content`; fails without touching anything when `path` exists.
bool WriteFileExclusive(const std::string& path, const std::string& content, mode_t mode, std::string& error);
