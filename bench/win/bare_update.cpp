// The bare platform doing one whole update pass, the updater's peer in bench/whole_update.py:
// plain WinHTTP, CNG and KERNEL32 calls, no window and none of the updater's code. It makes
// the same requests and file operations as a pass: the manifest (one GET, its ECDSA P-256
// signature checked), every listed file's SHA-256, the bot's lock probe, then per changed
// file a GET into "<name>.download", its SHA-256, a flush to disk and the move over the old
// file. Like the updater it opens one WinHTTP session per request. Prints where the time
// went; asserts nothing.
//   bare_update.exe <host> <manifest path> <key x hex> <key y hex> <installation folder>
#include <windows.h>

#include <bcrypt.h>
#include <winhttp.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#ifndef BCRYPT_SHA256_ALG_HANDLE
#define BCRYPT_SHA256_ALG_HANDLE ((BCRYPT_ALG_HANDLE)0x00000041)
#endif

namespace {

struct Entry {
    std::string name;
    std::string sha256;
    bool onlyIfMissing = false;
};

double Seconds() {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

std::wstring Wide(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

std::vector<UCHAR> FromHex(const std::string& hex) {
    std::vector<UCHAR> bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back(static_cast<UCHAR>(std::strtoul(hex.substr(i, 2).c_str(), nullptr, 16)));
    }
    return bytes;
}

std::string ToHex(const UCHAR* bytes, size_t count) {
    std::string hex;
    char two[3];
    for (size_t i = 0; i < count; ++i) {
        std::snprintf(two, sizeof(two), "%02x", bytes[i]);
        hex += two;
    }
    return hex;
}

// One GET in a session of its own; each block of the body goes to `sink`. True on status 200.
template <typename Sink>
bool Get(const std::wstring& host, const std::wstring& path, Sink sink) {
    HINTERNET session = WinHttpOpen(L"Vorlane/2", WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME,
                                    WINHTTP_NO_PROXY_BYPASS, 0);
    WinHttpSetTimeouts(session, 5000, 8000, 8000, 60000);
    HINTERNET connection = WinHttpConnect(session, host.c_str(), 443, 0);
    HINTERNET request = WinHttpOpenRequest(connection, L"GET", path.c_str(), nullptr, WINHTTP_NO_REFERER,
                                           WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE);
    DWORD status = 0, size = sizeof(status);
    bool ok =
        request &&
        WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) &&
        WinHttpReceiveResponse(request, nullptr) &&
        WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                            WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX) &&
        status == 200;
    std::vector<UCHAR> block(65536);
    while (ok) {
        DWORD read = 0;
        ok = WinHttpReadData(request, block.data(), static_cast<DWORD>(block.size()), &read);
        if (!ok || read == 0) {
            break;
        }
        ok = sink(block.data(), read);
    }
    WinHttpCloseHandle(request);
    WinHttpCloseHandle(connection);
    WinHttpCloseHandle(session);
    return ok;
}

bool VerifySignature(const std::string& text,
                     const std::vector<UCHAR>& signature,
                     const std::string& x,
                     const std::string& y) {
    std::vector<UCHAR> blob(8);
    const ULONG header[2] = {BCRYPT_ECDSA_PUBLIC_P256_MAGIC, 32};
    std::memcpy(blob.data(), header, sizeof(header));
    for (const std::string& half : {x, y}) {
        const std::vector<UCHAR> bytes = FromHex(half);
        blob.insert(blob.end(), bytes.begin(), bytes.end());
    }
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_KEY_HANDLE key = nullptr;
    UCHAR digest[32];
    const bool ok = BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0) == 0 &&
                    BCryptImportKeyPair(algorithm, nullptr, BCRYPT_ECCPUBLIC_BLOB, &key, blob.data(),
                                        static_cast<ULONG>(blob.size()), 0) == 0 &&
                    BCryptHash(BCRYPT_SHA256_ALG_HANDLE, nullptr, 0,
                               reinterpret_cast<PUCHAR>(const_cast<char*>(text.data())),
                               static_cast<ULONG>(text.size()), digest, sizeof(digest)) == 0 &&
                    signature.size() == 64 &&
                    BCryptVerifySignature(key, nullptr, digest, sizeof(digest),
                                          const_cast<PUCHAR>(signature.data()), 64, 0) == 0;
    if (key) {
        BCryptDestroyKey(key);
    }
    if (algorithm) {
        BCryptCloseAlgorithmProvider(algorithm, 0);
    }
    return ok;
}

// SHA-256 of a file in 256 KiB reads; empty when it cannot be read.
std::string HashFile(const std::string& path) {
    HANDLE file =
        CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return std::string();
    }
    static std::vector<UCHAR> block(262144);
    BCRYPT_HASH_HANDLE hash = nullptr;
    BCryptCreateHash(BCRYPT_SHA256_ALG_HANDLE, &hash, nullptr, 0, nullptr, 0, 0);
    DWORD got = 0;
    bool ok = true;
    while ((ok = ReadFile(file, block.data(), static_cast<DWORD>(block.size()), &got, nullptr)) && got > 0) {
        BCryptHashData(hash, block.data(), got, 0);
    }
    UCHAR digest[32];
    ok = BCryptFinishHash(hash, digest, sizeof(digest), 0) == 0 && ok;
    BCryptDestroyHash(hash);
    CloseHandle(file);
    return ok ? ToHex(digest, sizeof(digest)) : std::string();
}

// The text after "key=" on the line that starts with it, or empty.
std::string Field(const std::string& line, const char* key) {
    const size_t length = std::strlen(key);
    return line.compare(0, length, key) == 0 ? line.substr(length) : std::string();
}

void CreateParents(const std::string& folder, const std::string& name) {
    for (size_t slash = name.find('\\'); slash != std::string::npos; slash = name.find('\\', slash + 1)) {
        CreateDirectoryA((folder + name.substr(0, slash)).c_str(), nullptr);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 6) {
        std::fprintf(stderr, "usage: bare_update <host> <manifest path> <key x hex> <key y hex> <folder>\n");
        return 2;
    }
    const std::wstring host = Wide(argv[1]);
    std::string folder = argv[5];
    if (folder.back() != '\\') {
        folder += '\\';
    }
    const double start = Seconds();

    std::string body;
    bool ok = Get(host, Wide(argv[2]), [&](const UCHAR* data, DWORD count) {
        body.append(reinterpret_cast<const char*>(data), count);
        return body.size() < 524288;
    });
    const size_t sig = body.rfind("sig=");
    ok = ok && sig != std::string::npos &&
         VerifySignature(body.substr(0, sig), FromHex(body.substr(sig + 4, 128)), argv[3], argv[4]);
    std::string version;
    std::vector<Entry> entries;
    for (size_t at = 0; ok && at < sig;) {
        const size_t end = body.find('\n', at);
        const std::string line = body.substr(at, end - at);
        at = end + 1;
        if (!Field(line, "version=").empty()) {
            version = Field(line, "version=");
        }
        const std::string file = Field(line, "file=");
        const size_t bar1 = file.find('|'), bar2 = file.find('|', bar1 + 1), bar3 = file.find('|', bar2 + 1);
        if (bar3 != std::string::npos) {
            entries.push_back(
                {file.substr(0, bar1), file.substr(bar2 + 1, bar3 - bar2 - 1), file[bar3 + 1] == '1'});
        }
    }
    const double manifestDone = Seconds();
    std::printf("manifest %.3f s: %s, %zu files%s\n", manifestDone - start, version.c_str(), entries.size(),
                ok ? "" : ", FAILED");
    if (!ok) {
        return 1;
    }

    std::vector<Entry> changed;
    for (Entry entry : entries) {
        for (char& c : entry.name) {
            c = c == '/' ? '\\' : c;
        }
        const std::string path = folder + entry.name;
        const bool exists = GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
        if (!exists || (!entry.onlyIfMissing && HashFile(path) != entry.sha256)) {
            changed.push_back(entry);
        }
    }
    const double checkDone = Seconds();
    std::printf("check %.3f s: %zu of %zu files differ\n", checkDone - manifestDone, changed.size(),
                entries.size());

    // The bot's executable is opened for writing once, as the updater probes whether it runs.
    HANDLE bot =
        CreateFileA((folder + "Vorlane.exe").c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (bot != INVALID_HANDLE_VALUE) {
        CloseHandle(bot);
    }
    std::printf("wait %.3f s\n", Seconds() - checkDone);

    double download = 0, verify = 0, move = 0;
    for (const Entry& entry : changed) {
        const std::string target = folder + entry.name, temporary = target + ".download";
        std::string urlName = entry.name;
        for (char& c : urlName) {
            c = c == '\\' ? '/' : c;
        }
        const double began = Seconds();
        CreateParents(folder, entry.name);
        HANDLE out = CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ok = out != INVALID_HANDLE_VALUE &&
             Get(host, Wide("/download/" + version + "/" + urlName), [&](const UCHAR* data, DWORD count) {
                 DWORD written = 0;
                 return WriteFile(out, data, count, &written, nullptr) && written == count;
             });
        CloseHandle(out);
        const double downloaded = Seconds();
        ok = ok && HashFile(temporary) == entry.sha256;
        const double verified = Seconds();
        HANDLE flush = CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ok = ok && flush != INVALID_HANDLE_VALUE && FlushFileBuffers(flush);
        CloseHandle(flush);
        ok = ok && MoveFileExA(temporary.c_str(), target.c_str(),
                               MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
        const double moved = Seconds();
        std::printf("file %s: download %.3f s, verify %.3f s, flush and move %.3f s%s\n", urlName.c_str(),
                    downloaded - began, verified - downloaded, moved - verified, ok ? "" : ", FAILED");
        download += downloaded - began, verify += verified - downloaded, move += moved - verified;
        if (!ok) {
            return 1;
        }
    }
    std::printf("downloads %.3f s, verify %.3f s, flush and move %.3f s; whole pass %.3f s\n", download,
                verify, move, Seconds() - start);
    return 0;
}
