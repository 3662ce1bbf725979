// How a download reports its progress to whoever shows it.
#pragma once

#include <cstdint>
#include <functional>

// Receives the byte count of the current file after each received block.
using DownloadProgress = std::function<void(uint64_t)>;
