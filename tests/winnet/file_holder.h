// A second process that holds a file open, as another program (a reader, a virus scanner)
// does. It is this test program again, running the holder entry of file_holder.cpp (not a
// test of its own), steered through its environment.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

struct HoldOptions {
    // The share mode of the holder's read-only open.
    DWORD share = FILE_SHARE_READ;
    // Waits this long for the file to appear (0: it must exist when the holder starts).
    DWORD appearWithinMs = 0;
    // When not negative: lets go this long after the file has reached `releaseAtSize` bytes.
    int64_t releaseAtSize = -1;
    DWORD releaseAfterMs = 0;
};

class FileHolder {
  public:
    explicit FileHolder(const std::string& path, const HoldOptions& options = HoldOptions());
    ~FileHolder() { Release(); }
    FileHolder(const FileHolder&) = delete;
    FileHolder& operator=(const FileHolder&) = delete;

    // Waits at most `ms` until the file is held; true when it is.
    bool Holding(DWORD ms = 20000) const;
    // Lets go of the file (if the holder still holds it) and waits for the process to end.
    bool Release();

  private:
    std::string ready_, release_;
    PROCESS_INFORMATION info_ = {};
};
