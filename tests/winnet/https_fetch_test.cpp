// HttpsFetch against the local server: the product's host, port and TLS checks.
#include <gtest/gtest.h>

#include "net/https_client.h"
#include "test_server.h"

namespace {

struct Fetched {
    uint32_t status = 0;
    std::string error = "untouched";
    std::string body;
    std::vector<uint32_t> blocks;
};

Fetched Fetch(const std::string& path, int32_t timeoutMs = 10000, const std::string& requestBody = "") {
    Fetched f;
    const std::u16string wide(path.begin(), path.end());
    f.status = HttpsFetch(
        wide, requestBody,
        [&f](const uint8_t* data, uint32_t count) {
            f.body.append(reinterpret_cast<const char*>(data), count);
            f.blocks.push_back(count);
            return true;
        },
        f.error, timeoutMs);
    return f;
}

}  // namespace

using HttpsFetchTest = ServerTest;

TEST_F(HttpsFetchTest, DeliversTheBodyAndTheStatus) {
    test_server::PutFile("hello.txt", "hello");
    const Fetched f = Fetch("/hello.txt");
    EXPECT_EQ(f.status, 200u);
    EXPECT_EQ(f.error, "untouched");
    EXPECT_EQ(f.body, "hello");
    const auto requests = test_server::Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].path, "/hello.txt");
}
