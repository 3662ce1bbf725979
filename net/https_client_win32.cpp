// The HTTPS GET over WinHTTP, synchronous, one session per call. Proxy detection,
// redirects and certificate checks are WinHTTP's defaults: a bad certificate fails.
#include <windows.h>

#include <winhttp.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "net/https_client.h"
#include "net/server_address.h"
#include "net/transfer_pace.h"
#include "sys/clock.h"

namespace {

const wchar_t kUserAgent[] = L"Vorlane/2";
const char kJsonHeader[] = "Content-Type: application/json\r\n";
const int kResolveTimeoutMs = 5000;
// A host whose packets are dropped costs this much before the next host or mirror is asked
// (bench/host_fallback.py measures it). Windows' own 60 s would hold a pass on one dead host;
// 8 s still outlasts one lost SYN (Windows sends the first retry after 3 s) on a slow link.
const int kConnectTimeoutMs = 8000;
const int kSendTimeoutMs = 8000;
const DWORD kBlockSize = 65536;

// Owns one WinHTTP handle. Declared session, connection, request, so that they close
// in the reverse order: request, connection, session.
class ScopedInternet {
  public:
    explicit ScopedInternet(HINTERNET handle = nullptr) : handle_(handle) {}
    ~ScopedInternet() {
        if (handle_) {
            WinHttpCloseHandle(handle_);
        }
    }
    ScopedInternet(const ScopedInternet&) = delete;
    ScopedInternet& operator=(const ScopedInternet&) = delete;
    HINTERNET get() const { return handle_; }

  private:
    HINTERNET handle_;
};

HINTERNET OpenSession() {
    HINTERNET session = WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME,
                                    WINHTTP_NO_PROXY_BYPASS, 0);
    if (!session) {
        // Systems without automatic proxy support refuse the first form.
        session = WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                              WINHTTP_NO_PROXY_BYPASS, 0);
    }
    return session;
}

HINTERNET Connect(HINTERNET session, const FetchServer& server) {
    // A configured host's plain name lives only for this call.
    std::u16string host = BuildServerHost(server.host);
    if (!server.name.empty()) {
        host.assign(server.name.begin(), server.name.end());
    }
    return WinHttpConnect(session, reinterpret_cast<const wchar_t*>(host.c_str()),
                          static_cast<INTERNET_PORT>(server.port), 0);
}

void SetNetworkError(std::string& error) {
    const DWORD code = GetLastError();
    char text[64];
    std::snprintf(text, sizeof(text), "blad sieci %lu", static_cast<unsigned long>(code));
    error = text;
}

// One byte per UTF-16 unit each way: header values are 8-bit text on the wire.
std::wstring WidenBytes(const std::string& text) {
    std::wstring wide;
    for (char c : text) {
        wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
    }
    return wide;
}

std::string QueryTextHeader(HINTERNET request, DWORD which) {
    wchar_t value[512];
    DWORD size = sizeof(value);
    if (!WinHttpQueryHeaders(request, which, WINHTTP_HEADER_NAME_BY_INDEX, value, &size,
                             WINHTTP_NO_HEADER_INDEX)) {
        return std::string();
    }
    std::string text;
    for (DWORD i = 0; i < size / sizeof(wchar_t); ++i) {
        text.push_back(static_cast<char>(value[i]));
    }
    return text;
}

std::wstring RequestHeaders(const std::string& body, const FetchHeaders* headers) {
    std::string text = body.empty() ? std::string() : std::string(kJsonHeader);
    if (headers && !headers->range.empty()) {
        text += "Range: " + headers->range + "\r\n";
    }
    if (headers && !headers->ifRange.empty()) {
        text += "If-Range: " + headers->ifRange + "\r\n";
    }
    return WidenBytes(text);
}

enum class BodyEnd { Complete, ReadFailed, TooSlow };

// Hands the body to the sink in blocks of up to 64 KiB. Each read takes only the bytes that
// have arrived: a block read would wait (under Wine) until 64 KiB came or one receive
// time-out passed without a byte, so a trickle would never show. The pace and the bound of
// `boundBytes` (0: none) are judged after every read. A sink that stops the transfer is not
// a failure. When the transfer fails, the bytes of the unfinished block still go to the
// sink: they are as good as the earlier ones.
BodyEnd ReadBody(HINTERNET request, const ChunkSink& sink, uint64_t boundBytes) {
    std::vector<uint8_t> block(kBlockSize);
    DWORD filled = 0;
    uint64_t total = 0;
    PaceWatch pace =
        StartPaceWatch(TickCountMs(), boundBytes ? TransferBoundMs(boundBytes, TransferPace) : 0);
    const auto fail = [&](BodyEnd end) {
        if (filled > 0) {
            sink(block.data(), filled);
        }
        return end;
    };
    for (;;) {
        DWORD available = 0;
        if (!WinHttpQueryDataAvailable(request, &available)) {
            return fail(BodyEnd::ReadFailed);
        }
        DWORD read = 0;
        if (available > 0 && !WinHttpReadData(request, block.data() + filled,
                                              std::min<DWORD>(available, kBlockSize - filled), &read)) {
            return fail(BodyEnd::ReadFailed);
        }
        filled += read;
        total += read;
        const bool end = read == 0;
        if (filled == kBlockSize || (end && filled > 0)) {
            if (!sink(block.data(), filled)) {
                return BodyEnd::Complete;
            }
            filled = 0;
        }
        if (end) {
            return BodyEnd::Complete;
        }
        if (!KeepsPace(pace, TickCountMs(), total, TransferPace)) {
            return fail(BodyEnd::TooSlow);
        }
    }
}

}  // namespace

const char kErrTooSlow[] = "przerwane pobieranie (serwer wysyla dane zbyt wolno)";

uint32_t HttpsFetch(const std::u16string& path,
                    const std::string& body,
                    const ChunkSink& sink,
                    std::string& error,
                    int32_t receiveTimeoutMs,
                    FetchHeaders* headers,
                    const FetchServer& server) {
    ScopedInternet session(OpenSession());
    if (!session.get()) {
        error = "WinHttpOpen";
        return 0;
    }
    WinHttpSetTimeouts(session.get(), kResolveTimeoutMs, kConnectTimeoutMs, kSendTimeoutMs, receiveTimeoutMs);

    ScopedInternet connection(Connect(session.get(), server));
    ScopedInternet request(
        connection.get() ? WinHttpOpenRequest(
                               connection.get(), L"GET", reinterpret_cast<const wchar_t*>(path.c_str()),
                               nullptr, WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE)
                         : nullptr);

    if (request.get()) {
        // The wait for the response headers gets the receive time-out too: Windows gives up
        // after 90 s by default, Wine never (a server that sends nothing held the pass).
        DWORD responseTimeout = static_cast<DWORD>(receiveTimeoutMs);
        WinHttpSetOption(request.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &responseTimeout,
                         sizeof(responseTimeout));
    }
    const std::wstring extra = RequestHeaders(body, headers);
    const wchar_t* extraHeaders = extra.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : extra.c_str();
    const DWORD extraLength = extra.empty() ? 0 : static_cast<DWORD>(-1);
    const DWORD bodyLength = static_cast<DWORD>(body.size());
    void* bodyData = body.empty() ? WINHTTP_NO_REQUEST_DATA : const_cast<char*>(body.data());

    if (!request.get() ||
        !WinHttpSendRequest(request.get(), extraHeaders, extraLength, bodyData, bodyLength, bodyLength, 0) ||
        !WinHttpReceiveResponse(request.get(), nullptr)) {
        SetNetworkError(error);
        return 0;
    }

    // A failed query leaves 0, which the caller takes as a failure with its text unchanged.
    DWORD status = 0;
    DWORD statusSize = sizeof(status);
    WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                        WINHTTP_HEADER_NAME_BY_INDEX, &status, &statusSize, WINHTTP_NO_HEADER_INDEX);

    if (headers) {
        headers->status = status;
        headers->contentRange = QueryTextHeader(request.get(), WINHTTP_QUERY_CONTENT_RANGE);
        headers->etag = QueryTextHeader(request.get(), WINHTTP_QUERY_ETAG);
        headers->lastModified = QueryTextHeader(request.get(), WINHTTP_QUERY_LAST_MODIFIED);
    }

    // Error pages are bodies too: the caller judges the status.
    switch (ReadBody(request.get(), sink, headers ? headers->boundBytes : 0)) {
        case BodyEnd::Complete:
            return status;
        case BodyEnd::ReadFailed:
            error = "przerwane pobieranie";
            return 0;
        case BodyEnd::TooSlow:
            error = kErrTooSlow;
            return 0;
    }
    return 0;
}
