// The update check's per-file decisions over a whole installation that matches its
// manifest, next to a bare CNG loop over the same files: what our check costs on top of
// reading and hashing. Run by bench/check_half.sh, which makes the files and the manifest.
//   check_half_bench.exe <install folder> <manifest text file> <rounds>
#include <windows.h>

#include <bcrypt.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <vector>

#include "bench/win/bench_clock.h"
#include "manifest/manifest_parser.h"
#include "sys/install_paths.h"
#include "update/update_pass.h"
#include "update/updater_state.h"

#ifndef BCRYPT_SHA256_ALG_HANDLE
#define BCRYPT_SHA256_ALG_HANDLE ((BCRYPT_ALG_HANDLE)0x00000041)
#endif

namespace {

// The platform alone: open, read 256 KiB blocks, hash, close. True when every file hashed.
bool BareCngLoop(const ReleaseManifest& manifest) {
    std::vector<UCHAR> block(262144);
    for (const ManifestFile& entry : manifest.files) {
        HANDLE file = CreateFileA(MakeInstallPath(entry.name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            return false;
        }
        BCRYPT_HASH_HANDLE hash = nullptr;
        BCryptCreateHash(BCRYPT_SHA256_ALG_HANDLE, &hash, nullptr, 0, nullptr, 0, 0);
        DWORD got = 0;
        while (ReadFile(file, block.data(), static_cast<DWORD>(block.size()), &got, nullptr) && got > 0) {
            BCryptHashData(hash, block.data(), got, 0);
        }
        UCHAR digest[32];
        BCryptFinishHash(hash, digest, sizeof(digest), 0);
        BCryptDestroyHash(hash);
        CloseHandle(file);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: check_half_bench <install folder> <manifest text> <rounds>\n");
        return 2;
    }
    InstallDir = argv[1];
    std::ifstream in(argv[2], std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    ReleaseManifest manifest;
    std::string error;
    if (!ParseManifestText(text.str(), manifest, error)) {
        std::fprintf(stderr, "manifest: %s\n", error.c_str());
        return 1;
    }
    int64_t bytes = 0;
    for (const ManifestFile& entry : manifest.files) {
        bytes += entry.size;
    }
    const double mib = static_cast<double>(bytes) / 1048576.0;
    std::printf("%zu files, %.0f MiB\n", manifest.files.size(), mib);
    const int rounds = std::atoi(argv[3]);
    // The two take turns at going first, so that neither always meets the colder cache.
    for (int round = 1; round <= rounds; ++round) {
        double check = 0, checkCpu = 0, loop = 0, loopCpu = 0;
        size_t toInstall = 0;
        bool bare = false;
        for (int turn = 0; turn < 2; ++turn) {
            const double start = Seconds(), cpu = CpuSeconds();
            if ((turn == 0) == (round % 2 == 1)) {
                toInstall = BuildInstallList(manifest).files.size();
                check = Seconds() - start, checkCpu = CpuSeconds() - cpu;
            } else {
                bare = BareCngLoop(manifest);
                loop = Seconds() - start, loopCpu = CpuSeconds() - cpu;
            }
        }
        std::printf(
            "round %d: check half %.2f s wall, %.2f s CPU (%.0f MB/s, %zu to install) | "
            "bare CNG loop %.2f s wall, %.2f s CPU (%.0f MB/s%s) | check/bare CPU %.3f\n",
            round, check, checkCpu, bytes / check / 1e6, toInstall, loop, loopCpu, bytes / loop / 1e6,
            bare ? "" : ", FAILED", checkCpu / loopCpu);
    }
    return 0;
}
