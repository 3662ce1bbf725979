// The few whole-file operations of the install: existence, durable replacement, removal.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>

// How a step on a file ended. Busy is a sharing violation: another process holds the file
// open and does not share what the step needs (for a moment, if it is a virus scanner).
enum class FileStep { Done, Busy, Failed };

// True when a file or a folder exists at the path.
bool PathExists(const std::string& path);
// When the file was last written, in seconds since 1970-01-01 00:00 UTC; -1 when that cannot
// be read.
int64_t FileWriteTime(const std::string& path);
// Writes the file's data through to the disk. The file is opened sharing everything, so a
// reader that does not mind writers (a virus scanner that has just opened the new file) is
// no obstacle.
FileStep FlushFileToDisk(const std::string& path);
// Renames `from` over `to` (replacing it) and returns once the rename itself is on disk.
FileStep MoveFileOver(const std::string& from, const std::string& to);
// Removes a file; a failure is ignored (the file may never have been made).
void DeleteFileQuietly(const std::string& path);
// Open binary streams on a path of any length; the writer empties the file first. True
// when the stream is open.
bool OpenReadStream(std::ifstream& stream, const std::string& path);
bool OpenWriteStream(std::ofstream& stream, const std::string& path);
// A binary writer that keeps the file's bytes and adds at its end. True when it is open.
bool OpenAppendStream(std::ofstream& stream, const std::string& path);
