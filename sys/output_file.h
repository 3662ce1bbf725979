// A file written through the system's own handle, with no buffer of the program's: each
// write hands its bytes to the system at once. For large blocks (a download's 64 KiB) a
// stream's buffer only adds a copy.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class OutputFile {
  public:
    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Opens a path of any length, closing what was open before. Append keeps the file's
    // bytes (creating it when missing) and writes after them; Empty starts it empty. True
    // when the file is open.
    bool OpenAppend(const std::string& path);
    bool OpenEmpty(const std::string& path);
    // True when every byte was written; false when the file is not open.
    bool Write(const uint8_t* data, size_t count);
    // True when a file was open and closed without error.
    bool Close();

  private:
    void* handle_ = nullptr;
};
