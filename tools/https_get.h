// The probe's HTTPS GET, over Debian's libcurl, set up as the updater's WinHTTP request
// is: HTTP/1.1, its user agent, no request for compressed bodies (so a body arrives as the server
// sends it), redirects followed but never to plain HTTP, the peer certificate and host
// name checked.
#pragma once

#include <string>
#include <vector>

#include "net/https_client.h"

struct HttpsOrigin {
    std::string url;                   // "https://host[:port]", no path
    std::string caFile;                // empty: the system's certificate bundle
    std::vector<std::string> resolve;  // "HOST:PORT:ADDRESS", as curl's --resolve
};

struct HttpsAnswer {
    long status = 0;              // 0: no answer, `error` says why
    std::string error;            // libcurl's reason
    std::string contentEncoding;  // the answer's Content-Encoding header, if any
    std::string contentRange;     // and its Content-Range, ETag and Last-Modified
    std::string etag;
    std::string lastModified;
    std::string cacheControl;  // its Cache-Control headers, joined by ", "
    bool stopped = false;  // the sink ended the transfer
};

// GET `path` (sent as it is, already percent-encoded) from `origin`. The body goes to
// `sink` block by block; a sink that returns false ends the transfer, which is no error.
// `receiveTimeoutMs`: the longest wait for data from the server. `headers`: extra request
// header lines ("Range: bytes=10-").
HttpsAnswer HttpsGet(const HttpsOrigin& origin,
                     const std::string& path,
                     const ChunkSink& sink,
                     long receiveTimeoutMs,
                     const std::vector<std::string>& headers = {});
