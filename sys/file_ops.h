// The few whole-file operations of the install: existence, durable replacement, removal.
#pragma once

#include <string>

// True when a file or a folder exists at the path.
bool PathExists(const std::string& path);
// Writes the file's data through to the disk; false when it cannot be opened or flushed.
bool FlushFileToDisk(const std::string& path);
// Renames `from` over `to` (replacing it) and returns once the rename itself is on disk.
bool MoveFileOver(const std::string& from, const std::string& to);
// Removes a file; a failure is ignored (the file may never have been made).
void DeleteFileQuietly(const std::string& path);
