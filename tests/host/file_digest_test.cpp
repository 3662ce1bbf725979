#include <gtest/gtest.h>
#include <openssl/sha.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <streambuf>

#include "net/file_digest.h"

namespace {

std::string OneShotHex(const std::string& data) {
    uint8_t digest[32];
    SHA256(reinterpret_cast<const uint8_t*>(data.data()), data.size(), digest);
    return HexLower(digest);
}

std::string WriteTemp(const std::string& name, const std::string& data) {
    const std::string path = (std::filesystem::temp_directory_path() / name).string();
    std::ofstream(path, std::ios::binary) << data;
    return path;
}

// Serves `good` bytes and then fails the way a disk read fails: libstdc++ turns the
// exception of a failing buffer into the stream's bad state.
class FailingBuf : public std::streambuf {
  public:
    explicit FailingBuf(std::string good) : data_(std::move(good)) {
        setg(data_.data(), data_.data(), data_.data() + data_.size());
    }

  protected:
    int_type underflow() override { throw std::ios_base::failure("read error"); }

  private:
    std::string data_;
};

}  // namespace

TEST(HexLower, TwoLowerCaseDigitsPerByteHighNibbleFirst) {
    uint8_t bytes[32];
    for (int i = 0; i < 32; ++i) {
        bytes[i] = static_cast<uint8_t>(i);
    }
    EXPECT_EQ(HexLower(bytes), "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f");
    uint8_t high[32];
    std::fill(std::begin(high), std::end(high), 0xA5);
    high[31] = 0xF0;
    EXPECT_EQ(HexLower(high).substr(60), "a5f0");
}

TEST(Sha256FileHex, HashesAcrossBlockBoundaries) {
    std::string out = "stale";
    const std::string empty = WriteTemp("vl_digest_empty", "");
    ASSERT_TRUE(Sha256FileHex(empty, out));
    EXPECT_EQ(out, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    for (const size_t size : {size_t(262144), size_t(262145), size_t(3 * 262144 - 7)}) {
        std::string data(size, '\0');
        for (size_t i = 0; i < size; ++i) {
            data[i] = static_cast<char>((i * 131) >> 3);
        }
        const std::string path = WriteTemp("vl_digest_blocks", data);
        ASSERT_TRUE(Sha256FileHex(path, out)) << size;
        EXPECT_EQ(out, OneShotHex(data)) << size;
        std::remove(path.c_str());
    }
    std::remove(empty.c_str());
}

TEST(Sha256FileHex, FailuresLeaveTheOutputEmpty) {
    std::string out = "stale";
    EXPECT_FALSE(Sha256FileHex("/nonexistent/vl_digest", out));
    EXPECT_EQ(out, "");
    // A directory opens on Linux but every read fails: that is no digest of zero bytes.
    out = "stale";
    EXPECT_FALSE(Sha256FileHex(std::filesystem::temp_directory_path().string(), out));
    EXPECT_EQ(out, "");
}

TEST(HashStreamBlocks, AReadErrorMidFileIsAFailure) {
    size_t taken = 0;
    const HashUpdate count = [&](const uint8_t*, size_t n) {
        taken += n;
        return true;
    };
    FailingBuf failing(std::string(300000, 'x'));
    std::istream broken(&failing);
    EXPECT_FALSE(HashStreamBlocks(broken, count));
    EXPECT_EQ(taken, 262144u);  // the first block went through before the read failed

    std::istringstream whole(std::string(300000, 'x'));
    taken = 0;
    EXPECT_TRUE(HashStreamBlocks(whole, count));
    EXPECT_EQ(taken, 300000u);

    std::istringstream refused("abc");
    EXPECT_FALSE(HashStreamBlocks(refused, [](const uint8_t*, size_t) { return false; }));
}
