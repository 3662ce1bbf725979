// What the tool's commands share: their streams, how they fail, the progress line,
// keys and the updater's own judgement of a signed manifest.
#pragma once

#include <chrono>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "manifest/manifest_signature.h"
#include "manifest/release_manifest.h"
#include "tools/signing.h"

struct CommandIo {
    std::ostream& out;
    std::ostream& err;
    std::istream& in;
    bool errIsTerminal = false;  // progress is redrawn in place on a terminal
};

// Exit codes: 0 done, 1 refused or failed, 2 wrong usage.
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

// Prints "vorlane-release COMMAND: message" on standard error.
int Fail(CommandIo& io, const char* command, const std::string& message);
int UsageError(CommandIo& io, const char* command, const std::string& message);
// Prints each problem on its own line, then that nothing was written.
int Refuse(CommandIo& io, const char* command, const std::vector<std::string>& problems);

// A progress line on standard error for hashing a release of at least kProgressBytes.
inline constexpr uint64_t kProgressBytes = 64ull << 20;
class ProgressLine {
  public:
    ProgressLine(CommandIo& io, const char* what, uint64_t files, uint64_t bytes);
    void Update(uint64_t filesDone, uint64_t bytesDone);
    void Finish();

  private:
    CommandIo& io_;
    std::string what_;
    uint64_t files_;
    uint64_t bytes_;
    bool shown_;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point last_;
};

// The private key from a file or, for "-", from standard input. Warns when the file can
// be read by others.
bool ReadPrivateKey(CommandIo& io, const std::string& source, std::string& pem, std::string& error);
bool ReadPublicKey(const std::string& path, PublicKeyHex& key, std::string& error);

struct LoadedManifest {
    std::string body;
    SplitManifest split;
    ReleaseManifest manifest;
};

// Reads a signed manifest and takes the updater's decisions on it: size limit, split,
// signature (skipped when `key` is null), parse. False with the updater's own message
// (or why the file could not be read) in `error`.
bool LoadSignedManifest(const std::string& path,
                        const PublicKeyHex* key,
                        LoadedManifest& out,
                        std::string& error);
// The same decisions on a body already in `loaded.body` (one fetched from a server),
// without the size limit, which the caller applies as it reads.
bool JudgeManifestBody(const PublicKeyHex* key, LoadedManifest& loaded, std::string& error);

// The built-in host name and manifest path as 8-bit text (units above 0x7E become "?").
std::string NarrowAscii(const std::u16string& wide);
// The manifest's place under a server's document root: the path the updater requests,
// without its leading "/". False when that path is not plain ASCII or climbs out.
bool ManifestPathUnderRoot(std::string& relative, std::string& error);

// Bytes as a short human figure ("12.3 MiB").
std::string FormatBytes(uint64_t bytes);
