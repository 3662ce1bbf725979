// The one HTTPS GET of the program: one of the configured update hosts on port 443, or a mirror
// that a signed manifest names, the body streamed block by block to a sink that may stop the
// transfer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

// Receives each block of the body (at most 64 KiB; the pointer is valid only during
// the call). Returns false to stop the transfer.
using ChunkSink = std::function<bool(const uint8_t* data, uint32_t count)>;

// Extra request headers and the transfer's bound, and the response headers a resumed
// download needs. The received fields are filled before the first block reaches the sink.
struct FetchHeaders {
    std::string range;    // sent as "Range: <value>" when not empty
    std::string ifRange;  // sent as "If-Range: <value>" when not empty
    // When not 0, the body must also arrive within TransferBoundMs of this many bytes.
    uint64_t boundBytes = 0;
    uint32_t status = 0;
    std::string contentRange;
    std::string etag;
    std::string lastModified;
};

// The server a request goes to: configured update server `host` (its index, BuildServerHost in
// net/server_address.h) on port 443, or, when `name` is set, that host name on `port` (a
// mirror of the signed manifest).
struct FetchServer {
    size_t host = 0;
    std::string name;
    uint16_t port = 443;
};

// The text of a transfer ended because its progress stayed below TransferPace's floor, or
// because it took longer than its bound.
extern const char kErrTooSlow[];  // "przerwane pobieranie (serwer wysyla dane zbyt wolno)"

// Returns the HTTP status (any value, unjudged) or 0 when the transfer failed, in
// which case `error` holds "WinHttpOpen", "blad sieci <code>", "przerwane pobieranie"
// or kErrTooSlow. Each read waits at most `receiveTimeoutMs` for bytes, and the body must
// keep TransferPace (net/transfer_pace.h), within the bound that `headers` may set; the
// sink still receives blocks of up to 64 KiB.
// A sink that stops the transfer leaves the status as read and `error` untouched.
uint32_t HttpsFetch(const std::u16string& path,
                    const std::string& body,
                    const ChunkSink& sink,
                    std::string& error,
                    int32_t receiveTimeoutMs,
                    FetchHeaders* headers = nullptr,
                    const FetchServer& server = FetchServer());
