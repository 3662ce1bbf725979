// Sha256FileHex over CNG under Wine, next to a one-shot BCryptHash of the same bytes.
#include <gtest/gtest.h>

#include <windows.h>

#include <bcrypt.h>

#include <cstdio>
#include <fstream>

#include "net/file_digest.h"

#ifndef BCRYPT_SHA256_ALG_HANDLE
#define BCRYPT_SHA256_ALG_HANDLE ((BCRYPT_ALG_HANDLE)0x00000041)
#endif

namespace {

std::string TempPath(const char* name) {
    char dir[MAX_PATH];
    GetTempPathA(MAX_PATH, dir);
    return std::string(dir) + name;
}

std::string WriteFile(const char* name, const std::string& data) {
    const std::string path = TempPath(name);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << data;
    return path;
}

std::string OneShotHex(const std::string& data) {
    UCHAR digest[32];
    EXPECT_EQ(BCryptHash(BCRYPT_SHA256_ALG_HANDLE, nullptr, 0,
                         reinterpret_cast<PUCHAR>(const_cast<char*>(data.data())),
                         static_cast<ULONG>(data.size()), digest, sizeof(digest)),
              0);
    return HexLower(digest);
}

}  // namespace

TEST(Sha256FileHex, HashesWholeFilesAcrossTheBlockSize) {
    std::string out = "stale";
    const std::string empty = WriteFile("vl_digest_empty", "");
    ASSERT_TRUE(Sha256FileHex(empty, out));
    EXPECT_EQ(out, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    const std::string abc = WriteFile("vl_digest_abc", "abc");
    ASSERT_TRUE(Sha256FileHex(abc, out));
    EXPECT_EQ(out, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    for (const size_t size : {size_t(262144), size_t(262145), size_t(1000000)}) {
        std::string data(size, '\0');
        for (size_t i = 0; i < size; ++i) {
            data[i] = static_cast<char>((i * 31) ^ (i >> 9));
        }
        const std::string path = WriteFile("vl_digest_blocks", data);
        ASSERT_TRUE(Sha256FileHex(path, out)) << size;
        EXPECT_EQ(out, OneShotHex(data)) << size;
        std::remove(path.c_str());
    }
    std::remove(empty.c_str());
    std::remove(abc.c_str());
}

TEST(Sha256FileHex, AFileThatCannotBeOpenedGivesNoDigest) {
    std::string out = "stale";
    EXPECT_FALSE(Sha256FileHex(TempPath("vl_digest_missing\\nothing.bin"), out));
    EXPECT_EQ(out, "");

    // Held open without sharing, as a running program holds its image.
    const std::string path = WriteFile("vl_digest_locked", "locked");
    HANDLE held =
        CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    out = "stale";
    EXPECT_FALSE(Sha256FileHex(path, out));
    EXPECT_EQ(out, "");
    CloseHandle(held);
    EXPECT_TRUE(Sha256FileHex(path, out));
    std::remove(path.c_str());
}
