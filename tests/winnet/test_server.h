// Steering the local update server from a test that runs inside Wine.
//
// winnet_tests.exe (every tests/winnet/*.cpp) runs through tests/winnet/run.sh, which runs
// it in a private network namespace where the program's own host name, port 443 and TLS
// checks lead to tests/fixtures/update_server.py (its header documents the protocol). The
// server's state directory is reached through Wine's Z: drive; these helpers write its
// files and read its request log.
//
//   TEST_F(ServerTest, Example) {               // ServerTest resets the server first
//       test_server::ServeSignedManifest(text);  // signed by the build's development key
//       test_server::PutFile("download/2.0/my file.txt", "data");   // decoded path
//       test_server::SetRule("/download/2.0/my%20file.txt", "cut=2"); // path as sent
//       ... call the product's code ...
//       auto requests = test_server::Requests();  // path, headers, body of each request
//   }
//
// Rules and the certificate mode stay until the next Reset (every ServerTest does one).
// Manual run: build the win32 preset, then
//   ctest --test-dir build/<dir> -R winnet --output-on-failure
// or   bash tests/winnet/run.sh build/<dir>/tests/winnet_tests.exe --gtest_filter=...
// (with WINEPREFIX and VORLANE_BUILD_DIR set as CTest sets them).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace test_server {

struct Request {
    std::string method;
    std::string path;     // as sent, e.g. "/download/1.0/my%20file.txt"
    std::string headers;  // the header block as received, CR LF between lines
    std::string body;
};

// True when the test runs under the namespace runner (VORLANE_SERVER_STATE is set).
bool Available();
// The Windows form ("Z:\...") of a Unix path.
std::string WinePath(const std::string& unixPath);
// The server's state directory, the served tree, and a scratch directory for the
// test's own files (emptied at the start of the run), all as Windows paths.
std::string StateDir();
std::string RootDir();
std::string ScratchDir();
// A directory on a 64 KiB file system: writing more than that fails as on a full disk.
std::string FullDiskDir();
// ScratchDir() seen through a read-only mount: what a test lays out in the scratch
// directory can be read here, and every write here fails.
std::string ReadOnlyScratchDir();
// The manifest path of the program, narrow ("/vlr/latest.txt").
std::string ManifestPath();

// Writes `content` at `relativePath` under the served tree (decoded form: blanks and all).
void PutFile(const std::string& relativePath, const std::string& content);
// Serves `signedText` at the manifest path with a "sig=" line that the server adds,
// signed by `key`: "dev" (the key this build trusts) or "other" (a key it does not).
void ServeSignedManifest(const std::string& signedText, const std::string& key = "dev");
// Sets the rule for one request path (as sent) or "*", replacing an earlier rule for
// the same target; rules apply in the order they were first set.
void SetRule(const std::string& target, const std::string& options);
// "good", "wronghost" or "untrusted": the certificate of the next connections.
void SetTls(const std::string& mode);
std::vector<Request> Requests();
// Body bytes the server has sent for one request path (as sent), summed over its answers
// since the last Reset.
uint64_t SentBytes(const std::string& path);
// Empties the served tree and the request log, drops the rules, certificate "good".
void Reset();

}  // namespace test_server

// Base of the network tests: fails at once when not run under tests/winnet/run.sh,
// otherwise starts from a clean server.
class ServerTest : public ::testing::Test {
  protected:
    void SetUp() override;
};
