// Putting a small file's new content in place durably: written beside it, flushed to the
// disk, and only then renamed over it, so that a crash or a power loss leaves the old
// content or the new one, never the file's name on data that did not reach the disk. An
// attempt that fails (a virus scanner that has just opened the new file, or holds the old
// one) is made again after a short pause.
#pragma once

#include <cstdint>
#include <string>

#include "sys/file_ops.h"

// The platform's steps, passed in so that their order can be watched.
struct FileReplaceSteps {
    FileStep (*write)(const std::string& path, const std::string& content);
    FileStep (*flush)(const std::string& path);
    FileStep (*move)(const std::string& from, const std::string& to);
    void (*remove)(const std::string& path);
    void (*pause)(uint32_t milliseconds);
};

// A few attempts over about half a second: long enough for a scanner's look at a file of a
// few bytes, short enough not to hold the pass.
inline constexpr int kReplaceAttempts = 4;
inline constexpr uint32_t kReplacePauseMs = 150;

// Each attempt writes `path` + ".new", flushes it and renames it over `path`; a failed
// attempt removes the new file and pauses before the next. The outcome of the last attempt.
FileStep ReplaceFileWith(const FileReplaceSteps& steps, const std::string& path, const std::string& content);
// The same with the platform's own steps.
FileStep ReplaceFileDurably(const std::string& path, const std::string& content);
