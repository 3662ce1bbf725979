// The HTTPS GET over WinHTTP, synchronous, one session per call. Proxy detection,
// redirects and certificate checks are WinHTTP's defaults: a bad certificate fails.
#include <windows.h>

#include <winhttp.h>

#include <cstdio>
#include <vector>

#include "net/https_client.h"
#include "net/server_address.h"

namespace {

const wchar_t kUserAgent[] = L"Vorlane/2";
const wchar_t kJsonHeader[] = L"Content-Type: application/json";
const INTERNET_PORT kPort = 443;
const int kResolveTimeoutMs = 5000;
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

HINTERNET Connect(HINTERNET session) {
    // The plain host name lives only for this call.
    const std::u16string host = BuildServerHost();
    return WinHttpConnect(session, reinterpret_cast<const wchar_t*>(host.c_str()), kPort, 0);
}

void SetNetworkError(std::string& error) {
    const DWORD code = GetLastError();
    char text[64];
    std::snprintf(text, sizeof(text), "blad sieci %lu", static_cast<unsigned long>(code));
    error = text;
}

// Hands every block of the body to the sink. Returns false when a read fails; a sink
// that stops the transfer is not a failure.
bool ReadBody(HINTERNET request, const ChunkSink& sink) {
    std::vector<uint8_t> block(kBlockSize);
    for (;;) {
        DWORD read = 0;
        if (!WinHttpReadData(request, block.data(), kBlockSize, &read)) {
            return false;
        }
        if (read == 0 || !sink(block.data(), read)) {
            return true;
        }
    }
}

}  // namespace

uint32_t HttpsFetch(const std::u16string& path,
                    const std::string& body,
                    const ChunkSink& sink,
                    std::string& error,
                    int32_t receiveTimeoutMs) {
    ScopedInternet session(OpenSession());
    if (!session.get()) {
        error = "WinHttpOpen";
        return 0;
    }
    WinHttpSetTimeouts(session.get(), kResolveTimeoutMs, kConnectTimeoutMs, kSendTimeoutMs, receiveTimeoutMs);

    ScopedInternet connection(Connect(session.get()));
    ScopedInternet request(
        connection.get() ? WinHttpOpenRequest(
                               connection.get(), L"GET", reinterpret_cast<const wchar_t*>(path.c_str()),
                               nullptr, WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE)
                         : nullptr);

    const wchar_t* headers = body.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : kJsonHeader;
    const DWORD headersLength = body.empty() ? 0 : static_cast<DWORD>(-1);
    const DWORD bodyLength = static_cast<DWORD>(body.size());
    void* bodyData = body.empty() ? WINHTTP_NO_REQUEST_DATA : const_cast<char*>(body.data());

    if (!request.get() ||
        !WinHttpSendRequest(request.get(), headers, headersLength, bodyData, bodyLength, bodyLength, 0) ||
        !WinHttpReceiveResponse(request.get(), nullptr)) {
        SetNetworkError(error);
        return 0;
    }

    // A failed query leaves 0, which the caller takes as a failure with its text unchanged.
    DWORD status = 0;
    DWORD statusSize = sizeof(status);
    WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                        WINHTTP_HEADER_NAME_BY_INDEX, &status, &statusSize, WINHTTP_NO_HEADER_INDEX);

    // Error pages are bodies too: the caller judges the status.
    if (!ReadBody(request.get(), sink)) {
        error = "przerwane pobieranie";
        return 0;
    }
    return status;
}
