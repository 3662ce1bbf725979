// SHA-256 of many files at once: one thread per core, large reads, OpenSSL's SHA-256
// (which uses the processor's SHA instructions). Used for the manifest and for checking
// a staged tree.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Called on the calling thread about four times a second with the files and bytes done.
using HashProgressFn = std::function<void(uint64_t filesDone, uint64_t bytesDone)>;

// Fills `digests` (64 lowercase hex digits each) in the order of `paths`. False with the
// first unreadable file named in `error`.
bool HashFiles(const std::vector<std::string>& paths,
               std::vector<std::string>& digests,
               const HashProgressFn& progress,
               std::string& error,
               unsigned threads = 0);
