#include "test_server.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <utility>

#include "net/server_address.h"

namespace fs = std::filesystem;

namespace test_server {
namespace {

// Rules as set so far, in order; written whole into control/rules on every change.
std::vector<std::pair<std::string, std::string>>& RuleList() {
    static std::vector<std::pair<std::string, std::string>> rules;
    return rules;
}

std::string EnvPath(const char* name) {
    const char* value = std::getenv(name);
    return value ? WinePath(value) : std::string();
}

void WriteWhole(const std::string& path, const std::string& content) {
    // Written beside and renamed over, so that the server never reads half a file.
    const std::string tmp = path + ".tmp";
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        out.write(content.data(), static_cast<std::streamsize>(content.size()));
        ASSERT_TRUE(out.good()) << tmp;
    }
    std::error_code ec;
    fs::rename(tmp, path, ec);
    ASSERT_FALSE(ec) << path << ": " << ec.message();
}

// The JSON string value after "key":" in one log line (the server writes no blanks).
std::string JsonField(const std::string& line, const std::string& key) {
    const std::string start = "\"" + key + "\":\"";
    size_t at = line.find(start);
    if (at == std::string::npos) {
        return std::string();
    }
    std::string value;
    for (at += start.size(); at < line.size() && line[at] != '"'; ++at) {
        if (line[at] != '\\' || at + 1 >= line.size()) {
            value.push_back(line[at]);
            continue;
        }
        const char escape = line[++at];
        switch (escape) {
            case 'n':
                value.push_back('\n');
                break;
            case 'r':
                value.push_back('\r');
                break;
            case 't':
                value.push_back('\t');
                break;
            case 'b':
                value.push_back('\b');
                break;
            case 'f':
                value.push_back('\f');
                break;
            case 'u':
                // The server logs characters as bytes, so every \u escape is below 0x100.
                value.push_back(static_cast<char>(std::stoul(line.substr(at + 1, 4), nullptr, 16)));
                at += 4;
                break;
            default:
                value.push_back(escape);
                break;
        }
    }
    return value;
}

std::string FromHex(const std::string& hex) {
    std::string bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back(static_cast<char>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

}  // namespace

bool Available() {
    return std::getenv("VORLANE_SERVER_STATE") != nullptr;
}

std::string WinePath(const std::string& unixPath) {
    std::string path = "Z:" + unixPath;
    for (char& c : path) {
        if (c == '/') {
            c = '\\';
        }
    }
    return path;
}

std::string StateDir() {
    return EnvPath("VORLANE_SERVER_STATE");
}

std::string RootDir() {
    return EnvPath("VORLANE_SERVER_ROOT");
}

std::string ScratchDir() {
    return StateDir() + "\\scratch";
}

std::string FullDiskDir() {
    return StateDir() + "\\full";
}

std::string ReadOnlyScratchDir() {
    return StateDir() + "\\readonly";
}

std::string ManifestPath() {
    const std::u16string wide = BuildManifestPath();
    return std::string(wide.begin(), wide.end());
}

void PutFile(const std::string& relativePath, const std::string& content) {
    fs::path path = fs::path(RootDir()) / fs::path(relativePath);
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    ASSERT_TRUE(out.good()) << path.string();
}

void ServeSignedManifest(const std::string& signedText, const std::string& key) {
    PutFile(ManifestPath().substr(1), signedText);
    SetRule(ManifestPath(), "sign=" + key);
}

void SetRule(const std::string& target, const std::string& options) {
    auto& rules = RuleList();
    bool replaced = false;
    for (auto& rule : rules) {
        if (rule.first == target) {
            rule.second = options;
            replaced = true;
        }
    }
    if (!replaced) {
        rules.emplace_back(target, options);
    }
    std::string text;
    for (const auto& rule : rules) {
        text += rule.first + " " + rule.second + "\n";
    }
    WriteWhole(StateDir() + "\\control\\rules", text);
}

void SetTls(const std::string& mode) {
    WriteWhole(StateDir() + "\\control\\tls", mode + "\n");
}

std::vector<Request> Requests() {
    std::ifstream in(StateDir() + "\\requests.jsonl", std::ios::binary);
    std::vector<Request> requests;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty()) {
            continue;
        }
        requests.push_back({JsonField(line, "method"), JsonField(line, "path"), JsonField(line, "headers"),
                            FromHex(JsonField(line, "body_hex"))});
    }
    return requests;
}

uint64_t SentBytes(const std::string& path) {
    std::ifstream in(StateDir() + "\\sent.log", std::ios::binary);
    uint64_t total = 0;
    std::string line;
    while (std::getline(in, line)) {
        const size_t blank = line.rfind(' ');
        if (blank != std::string::npos && line.substr(0, blank) == path) {
            total += std::stoull(line.substr(blank + 1));
        }
    }
    return total;
}

void Reset() {
    RuleList().clear();
    std::ofstream(StateDir() + "\\sent.log", std::ios::trunc);
    WriteWhole(StateDir() + "\\control\\rules", "");
    SetTls("good");
    std::ofstream(StateDir() + "\\requests.jsonl", std::ios::trunc);
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(RootDir(), ec)) {
        fs::remove_all(entry.path(), ec);
    }
}

}  // namespace test_server

void ServerTest::SetUp() {
    ASSERT_TRUE(test_server::Available())
        << "run the network tests through tests/winnet/run.sh (a namespace with the local server)";
    test_server::Reset();
}
