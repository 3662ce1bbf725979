#include "tools/command_common.h"

#include <sys/stat.h>

#include <cstdio>
#include <istream>
#include <iterator>
#include <ostream>

#include "manifest/manifest_fetch.h"
#include "manifest/manifest_parser.h"
#include "net/server_address.h"
#include "tools/atomic_file.h"
#include "tools/manifest_writer.h"

namespace {
const char kTool[] = "vorlane-release";
}  // namespace

int Fail(CommandIo& io, const char* command, const std::string& message) {
    io.err << kTool << " " << command << ": " << message << "\n";
    return kExitFailed;
}

int UsageError(CommandIo& io, const char* command, const std::string& message) {
    io.err << kTool << " " << command << ": " << message << "\n"
           << "See \"" << kTool << " " << command << " --help\".\n";
    return kExitUsage;
}

int Refuse(CommandIo& io, const char* command, const std::vector<std::string>& problems) {
    for (const std::string& p : problems) {
        io.err << kTool << " " << command << ": " << p << "\n";
    }
    io.err << kTool << " " << command << ": refused; nothing was written\n";
    return kExitFailed;
}

std::string FormatBytes(uint64_t bytes) {
    char text[32];
    if (bytes < 1024) {
        std::snprintf(text, sizeof(text), "%llu B", static_cast<unsigned long long>(bytes));
    } else if (bytes < (1ull << 20)) {
        std::snprintf(text, sizeof(text), "%.1f KiB", bytes / 1024.0);
    } else if (bytes < (1ull << 30)) {
        std::snprintf(text, sizeof(text), "%.1f MiB", bytes / 1048576.0);
    } else {
        std::snprintf(text, sizeof(text), "%.2f GiB", bytes / 1073741824.0);
    }
    return text;
}

ProgressLine::ProgressLine(CommandIo& io, const char* what, uint64_t files, uint64_t bytes)
    : io_(io),
      what_(what),
      files_(files),
      bytes_(bytes),
      shown_(bytes >= kProgressBytes),
      start_(std::chrono::steady_clock::now()),
      last_(start_) {
    if (shown_) {
        io_.err << what_ << " " << files_ << " files, " << FormatBytes(bytes_)
                << (io_.errIsTerminal ? "" : "\n") << std::flush;
    }
}

void ProgressLine::Update(uint64_t filesDone, uint64_t bytesDone) {
    const auto now = std::chrono::steady_clock::now();
    // A terminal line is redrawn often; a log gets a line every few seconds.
    const auto every = io_.errIsTerminal ? std::chrono::milliseconds(200) : std::chrono::milliseconds(3000);
    if (!shown_ || now - last_ < every) {
        return;
    }
    last_ = now;
    const int percent = bytes_ ? static_cast<int>(bytesDone * 100 / bytes_) : 100;
    io_.err << (io_.errIsTerminal ? "\r\033[K" : "") << what_ << ": " << filesDone << "/" << files_
            << " files, " << FormatBytes(bytesDone) << " of " << FormatBytes(bytes_) << " (" << percent
            << "%)" << (io_.errIsTerminal ? "" : "\n") << std::flush;
}

void ProgressLine::Finish() {
    if (!shown_) {
        return;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    char took[32];
    std::snprintf(took, sizeof(took), "%.1f s", seconds);
    io_.err << (io_.errIsTerminal ? "\r\033[K" : "") << what_ << ": " << files_ << " files, "
            << FormatBytes(bytes_) << " in " << took << "\n"
            << std::flush;
}

bool ReadPrivateKey(CommandIo& io, const std::string& source, std::string& pem, std::string& error) {
    if (source == "-") {
        pem.assign(std::istreambuf_iterator<char>(io.in), std::istreambuf_iterator<char>());
        return true;
    }
    struct stat st;
    if (stat(source.c_str(), &st) == 0 && (st.st_mode & 077) != 0) {
        io.err << "warning: " << source
               << " can be read by other users; keep the private key to yourself (chmod 600)\n";
    }
    return ReadWholeFile(source, pem, error);
}

bool ReadPublicKey(const std::string& path, PublicKeyHex& key, std::string& error) {
    std::string text;
    if (!ReadWholeFile(path, text, error)) {
        return false;
    }
    if (!ParsePublicKeyFile(text, key, error)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}

bool LoadSignedManifest(const std::string& path,
                        const PublicKeyHex* key,
                        LoadedManifest& out,
                        std::string& error) {
    if (!ReadWholeFile(path, out.body, error)) {
        return false;
    }
    // The updater stops reading here, so a longer manifest arrives cut and never verifies.
    if (out.body.size() > kManifestByteLimit) {
        error = "the manifest is " + std::to_string(out.body.size()) + " bytes; the updater reads at most " +
                std::to_string(kManifestByteLimit) + " and refuses it cut short";
        return false;
    }
    return JudgeManifestBody(key, out, error);
}

bool JudgeManifestBody(const PublicKeyHex* key, LoadedManifest& loaded, std::string& error) {
    if (!SplitManifestSignature(loaded.body, loaded.split)) {
        error = kErrNoSignature;
        return false;
    }
    if (key && !VerifyManifestSignatureWithKey(loaded.split.signedText, loaded.split.signatureText,
                                               key->x.c_str(), key->y.c_str())) {
        error = kErrBadSignature;
        return false;
    }
    return ParseManifestText(loaded.split.signedText, loaded.manifest, error);
}

std::string NarrowAscii(const std::u16string& wide) {
    std::string text;
    for (const char16_t c : wide) {
        if (c == 0) {
            break;  // the built-in texts end at the first zero unit
        }
        text.push_back(c > 0x7E ? '?' : static_cast<char>(c));
    }
    return text;
}

bool ManifestPathUnderRoot(std::string& relative, std::string& error) {
    const std::string path = NarrowAscii(BuildManifestPath());
    if (path.find('?') != std::string::npos) {
        error = "the built-in manifest path is not plain ASCII";
        return false;
    }
    relative = path;
    while (!relative.empty() && relative.front() == '/') {
        relative.erase(0, 1);
    }
    if (relative.empty() || relative.find("..") != std::string::npos) {
        error = "the built-in manifest path is unusable";
        return false;
    }
    return true;
}
