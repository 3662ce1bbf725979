// The one HTTPS GET of the program: a fixed host on port 443, the body streamed
// block by block to a sink that may stop the transfer.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

// Receives each block of the body (at most 64 KiB; the pointer is valid only during
// the call). Returns false to stop the transfer.
using ChunkSink = std::function<bool(const uint8_t* data, uint32_t count)>;

// Returns the HTTP status (any value, unjudged) or 0 when the transfer failed, in
// which case `error` holds "WinHttpOpen", "blad sieci <code>" or "przerwane pobieranie".
// A sink that stops the transfer leaves the status as read and `error` untouched.
uint32_t HttpsFetch(const std::u16string& path, const std::string& body, const ChunkSink& sink,
                    std::string& error, int32_t receiveTimeoutMs);
