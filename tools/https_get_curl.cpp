#include <curl/curl.h>

#include <cctype>
#include <memory>

#include "tools/https_get.h"

namespace {

const char kUserAgent[] = "Vorlane/2";  // the updater's
const long kConnectTimeoutMs = 13000;   // the updater's resolve and connect time-outs together
const long kMaxRedirects = 10;          // WinHTTP's default

struct Transfer {
    const ChunkSink* sink;
    HttpsAnswer* answer;
};

size_t OnBody(char* data, size_t size, size_t count, void* user) {
    Transfer* t = static_cast<Transfer*>(user);
    const size_t bytes = size * count;
    if (bytes > 0 && !(*t->sink)(reinterpret_cast<const uint8_t*>(data), static_cast<uint32_t>(bytes))) {
        t->answer->stopped = true;
        return 0;  // libcurl ends the transfer
    }
    return bytes;
}

// The value of `line` when it is the header `name` (given in small letters, with its colon).
bool HeaderValue(const std::string& line, const std::string& name, std::string& value) {
    if (line.size() <= name.size()) {
        return false;
    }
    std::string start = line.substr(0, name.size());
    for (char& c : start) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    if (start != name) {
        return false;
    }
    const std::string rest = line.substr(name.size());
    const size_t first = rest.find_first_not_of(" \t");
    const size_t last = rest.find_last_not_of(" \t\r\n");
    value = first == std::string::npos ? "" : rest.substr(first, last - first + 1);
    return true;
}

// Keeps the headers of the last answer (a redirect's headers come first).
size_t OnHeader(char* data, size_t size, size_t count, void* user) {
    HttpsAnswer& answer = *static_cast<Transfer*>(user)->answer;
    const std::string line(data, size * count);
    if (line.rfind("HTTP/", 0) == 0) {
        answer.contentEncoding.clear();
        answer.contentRange.clear();
        answer.etag.clear();
        answer.lastModified.clear();
        answer.cacheControl.clear();
    }
    std::string cacheControl;
    if (HeaderValue(line, "cache-control:", cacheControl)) {
        answer.cacheControl += (answer.cacheControl.empty() ? "" : ", ") + cacheControl;
    }
    HeaderValue(line, "content-encoding:", answer.contentEncoding) ||
        HeaderValue(line, "content-range:", answer.contentRange) || HeaderValue(line, "etag:", answer.etag) ||
        HeaderValue(line, "last-modified:", answer.lastModified);
    return size * count;
}

struct CurlFree {
    void operator()(CURL* c) const { curl_easy_cleanup(c); }
    void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};

// libcurl's list of `lines`; a line it cannot take is left out.
std::unique_ptr<curl_slist, CurlFree> StringList(const std::vector<std::string>& lines) {
    std::unique_ptr<curl_slist, CurlFree> list;
    for (const std::string& line : lines) {
        curl_slist* grown = curl_slist_append(list.get(), line.c_str());
        if (grown) {
            list.release();
            list.reset(grown);
        }
    }
    return list;
}

}  // namespace

HttpsAnswer HttpsGet(const HttpsOrigin& origin,
                     const std::string& path,
                     const ChunkSink& sink,
                     long receiveTimeoutMs,
                     const std::vector<std::string>& headers) {
    HttpsAnswer answer;
    std::unique_ptr<CURL, CurlFree> curl(curl_easy_init());
    if (!curl) {
        answer.error = "libcurl cannot start";
        return answer;
    }
    const auto resolve = StringList(origin.resolve);
    const auto extra = StringList(headers);
    Transfer transfer{&sink, &answer};
    char reason[CURL_ERROR_SIZE] = {};
    CURL* c = curl.get();
    const std::string url = origin.url + path;
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "https");
    curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "https");
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(c, CURLOPT_MAXREDIRS, kMaxRedirects);
    curl_easy_setopt(c, CURLOPT_USERAGENT, kUserAgent);
    // The updater speaks HTTP/1.1 only: a server that answers HTTP/2 otherwise is judged as
    // the updater meets it.
    curl_easy_setopt(c, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, kConnectTimeoutMs);
    // No byte for the receive time-out: the transfer is stalled.
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, (receiveTimeoutMs + 999) / 1000);
    if (!origin.caFile.empty()) {
        curl_easy_setopt(c, CURLOPT_CAINFO, origin.caFile.c_str());
    }
    if (resolve) {
        curl_easy_setopt(c, CURLOPT_RESOLVE, resolve.get());
    }
    if (extra) {
        curl_easy_setopt(c, CURLOPT_HTTPHEADER, extra.get());
    }
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, OnBody);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, OnHeader);
    curl_easy_setopt(c, CURLOPT_HEADERDATA, &transfer);
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, reason);
    const CURLcode result = curl_easy_perform(c);
    if (result != CURLE_OK && !(result == CURLE_WRITE_ERROR && answer.stopped)) {
        answer.error = reason[0] ? reason : curl_easy_strerror(result);
        return answer;
    }
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &answer.status);
    return answer;
}
