// The network side's cost on top of the platform under Wine: Sha256FileHex next to a bare
// CNG loop over the same file, and DownloadReleaseFile next to a bare WinHTTP loop that
// writes the same body to a file. Run by bench/net.sh (the download modes inside the test
// namespace with the local update server). Prints figures; asserts nothing.
//   net_bench.exe digest <file> <rounds>
//   net_bench.exe download <version> <name> <size> <temporary path> <rounds>
//   net_bench.exe memory <version> <name> <size> <temporary path>
#include <windows.h>

#include <bcrypt.h>
#include <psapi.h>
#include <winhttp.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "net/file_digest.h"
#include "net/file_download.h"
#include "net/server_address.h"

#ifndef BCRYPT_SHA256_ALG_HANDLE
#define BCRYPT_SHA256_ALG_HANDLE ((BCRYPT_ALG_HANDLE)0x00000041)
#endif

namespace {

double Seconds() {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// CPU time of the whole process (user + kernel), Wine's worker threads included.
double CpuSeconds() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto value = [](const FILETIME& t) {
        return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    return static_cast<double>(value(kernel) + value(user)) / 1e7;
}

double ResidentMiB() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    K32GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
    return static_cast<double>(counters.WorkingSetSize) / 1048576.0;
}

// The platform alone: ReadFile in 256 KiB blocks into CNG's SHA-256.
bool BareCngLoop(const char* path, uint64_t& bytes) {
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    std::vector<UCHAR> block(262144);
    BCRYPT_HASH_HANDLE hash = nullptr;
    BCryptCreateHash(BCRYPT_SHA256_ALG_HANDLE, &hash, nullptr, 0, nullptr, 0, 0);
    DWORD got = 0;
    bytes = 0;
    while (ReadFile(file, block.data(), static_cast<DWORD>(block.size()), &got, nullptr) && got > 0) {
        BCryptHashData(hash, block.data(), got, 0);
        bytes += got;
    }
    UCHAR digest[32];
    const bool ok = BCryptFinishHash(hash, digest, sizeof(digest), 0) == 0;
    BCryptDestroyHash(hash);
    CloseHandle(file);
    return ok;
}

// The platform alone: one WinHTTP GET with the program's settings, 64 KiB reads, each
// block written to the file with WriteFile.
bool BareWinHttpLoop(const std::wstring& path, const char* target, uint64_t& bytes) {
    HANDLE file = CreateFileA(target, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    const std::u16string host = BuildServerHost();
    HINTERNET session = WinHttpOpen(L"Vorlane/2", WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME,
                                    WINHTTP_NO_PROXY_BYPASS, 0);
    WinHttpSetTimeouts(session, 5000, 8000, 8000, 60000);
    HINTERNET connection = WinHttpConnect(session, reinterpret_cast<const wchar_t*>(host.c_str()), 443, 0);
    HINTERNET request = WinHttpOpenRequest(connection, L"GET", path.c_str(), nullptr, WINHTTP_NO_REFERER,
                                           WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE);
    bool ok =
        request &&
        WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) &&
        WinHttpReceiveResponse(request, nullptr);
    std::vector<uint8_t> block(65536);
    bytes = 0;
    while (ok) {
        DWORD read = 0, written = 0;
        ok = WinHttpReadData(request, block.data(), 65536, &read);
        if (!ok || read == 0) {
            break;
        }
        ok = WriteFile(file, block.data(), read, &written, nullptr) && written == read;
        bytes += read;
    }
    WinHttpCloseHandle(request);
    WinHttpCloseHandle(connection);
    WinHttpCloseHandle(session);
    CloseHandle(file);
    return ok;
}

int Digest(const char* path, int rounds) {
    // Turns alternate which goes first, so that neither always meets a colder cache.
    for (int round = 1; round <= rounds; ++round) {
        double ours = 0, oursCpu = 0, bare = 0, bareCpu = 0;
        uint64_t bytes = 0;
        bool okOurs = false, okBare = false;
        for (int turn = 0; turn < 2; ++turn) {
            const double start = Seconds(), cpu = CpuSeconds();
            if ((turn == 0) == (round % 2 == 1)) {
                std::string hex;
                okOurs = Sha256FileHex(path, hex);
                ours = Seconds() - start, oursCpu = CpuSeconds() - cpu;
            } else {
                okBare = BareCngLoop(path, bytes);
                bare = Seconds() - start, bareCpu = CpuSeconds() - cpu;
            }
        }
        std::printf(
            "round %d: Sha256FileHex %.2f s (%.0f MB/s, %.2f s CPU%s) | bare CNG loop %.2f s (%.0f MB/s, "
            "%.2f s CPU%s) | ours/bare wall %.3f, CPU %.3f\n",
            round, ours, bytes / ours / 1e6, oursCpu, okOurs ? "" : ", FAILED", bare, bytes / bare / 1e6,
            bareCpu, okBare ? "" : ", FAILED", ours / bare, oursCpu / bareCpu);
        std::fflush(stdout);
    }
    return 0;
}

int Download(const char* version, const char* name, int64_t size, const char* target, int rounds) {
    ReleaseManifest manifest;
    manifest.version = version;
    ManifestFile file;
    file.name = name;
    file.size = size;  // a body past the declared size is stopped
    const std::string narrow = MakeDownloadPath(version, name);
    const std::wstring path(narrow.begin(), narrow.end());
    const std::string bareTarget = std::string(target) + ".bare";
    // The first request of a process loads and starts Wine's TLS stack: keep that out of round 1.
    uint64_t warmUp = 0;
    BareWinHttpLoop(L"/", bareTarget.c_str(), warmUp);
    for (int round = 1; round <= rounds; ++round) {
        double ours = 0, oursCpu = 0, bare = 0, bareCpu = 0;
        uint64_t bytes = 0, oursBytes = 0;
        bool okOurs = false, okBare = false;
        std::string error;
        for (int turn = 0; turn < 2; ++turn) {
            const double start = Seconds(), cpu = CpuSeconds();
            if ((turn == 0) == (round % 2 == 1)) {
                okOurs = DownloadReleaseFile(
                    manifest, file, target, [&](uint64_t done) { oursBytes = done; }, error);
                ours = Seconds() - start, oursCpu = CpuSeconds() - cpu;
            } else {
                okBare = BareWinHttpLoop(path, bareTarget.c_str(), bytes);
                bare = Seconds() - start, bareCpu = CpuSeconds() - cpu;
            }
        }
        std::printf(
            "round %d: DownloadReleaseFile %.2f s (%.0f MB/s, %.2f s CPU%s) | bare WinHTTP loop %.2f s "
            "(%.0f MB/s, %.2f s CPU%s) | ours/bare wall %.3f, CPU %.3f\n",
            round, ours, oursBytes / ours / 1e6, oursCpu, okOurs ? "" : (", FAILED: " + error).c_str(), bare,
            bytes / bare / 1e6, bareCpu, okBare ? "" : ", FAILED", ours / bare, oursCpu / bareCpu);
        std::fflush(stdout);
        DeleteFileA(target);
        DeleteFileA(bareTarget.c_str());
    }
    return 0;
}

// One download; the resident size is printed every 128 MiB and the peak at the end.
int Memory(const char* version, const char* name, int64_t size, const char* target) {
    ReleaseManifest manifest;
    manifest.version = version;
    ManifestFile file;
    file.name = name;
    file.size = size;
    std::string error;
    uint64_t nextReport = 0;
    std::printf("resident MiB at each 128 MiB received:");
    const double start = Seconds();
    const bool ok = DownloadReleaseFile(
        manifest, file, target,
        [&](uint64_t done) {
            if (done >= nextReport) {
                std::printf(" %.1f", ResidentMiB());
                nextReport += 128ull << 20;
            }
        },
        error);
    const double wall = Seconds() - start;
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    K32GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
    std::printf("\n%s in %.1f s; peak working set %.1f MiB%s\n", name, wall,
                static_cast<double>(counters.PeakWorkingSetSize) / 1048576.0,
                ok ? "" : (", FAILED: " + error).c_str());
    DeleteFileA(target);
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "digest" && argc == 4) {
        return Digest(argv[2], std::atoi(argv[3]));
    }
    if (mode == "download" && argc == 7) {
        return Download(argv[2], argv[3], std::atoll(argv[4]), argv[5], std::atoi(argv[6]));
    }
    if (mode == "memory" && argc == 6) {
        return Memory(argv[2], argv[3], std::atoll(argv[4]), argv[5]);
    }
    std::fprintf(stderr,
                 "usage: net_bench digest <file> <rounds>\n"
                 "       net_bench download <version> <name> <size> <temporary path> <rounds>\n"
                 "       net_bench memory <version> <name> <size> <temporary path>\n");
    return 2;
}
