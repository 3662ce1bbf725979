#include "tools/rclone_destination.h"

#include <cctype>
#include <cstdlib>

namespace {

const char kPrefix[] = "rclone:";

// rclone's own rule for a remote's name: letters, digits, "_", "-", ".", "+", "@" and
// blanks, not starting with "-" or a blank (which would read as an option or be trimmed).
bool IsRemoteName(const std::string& name) {
    if (name.empty() || name[0] == '-' || name[0] == ' ' || name.back() == ' ') {
        return false;
    }
    for (const char c : name) {
        const bool ok = std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == '.' ||
                        c == '+' || c == '@' || c == ' ';
        if (!ok) {
            return false;
        }
    }
    return true;
}

// The common head of every run: errors only on standard error (ours), no progress.
std::vector<std::string> Head(const char* command) {
    return {command, "-q"};
}

// A small reader of the one JSON shape rclone lsjson writes.
class JsonReader {
  public:
    explicit JsonReader(const std::string& text) : t_(text) {}

    void Blank() {
        while (i_ < t_.size() && (t_[i_] == ' ' || t_[i_] == '\n' || t_[i_] == '\r' || t_[i_] == '\t')) {
            ++i_;
        }
    }
    bool Take(char c) {
        Blank();
        if (i_ < t_.size() && t_[i_] == c) {
            ++i_;
            return true;
        }
        return false;
    }
    bool AtEnd() {
        Blank();
        return i_ == t_.size();
    }
    char Peek() {
        Blank();
        return i_ < t_.size() ? t_[i_] : '\0';
    }

    bool String(std::string& out) {
        if (!Take('"')) {
            return false;
        }
        out.clear();
        while (i_ < t_.size()) {
            const char c = t_[i_++];
            if (c == '"') {
                return true;
            }
            if (static_cast<unsigned char>(c) < 0x20) {
                return false;
            }
            if (c != '\\') {
                out.push_back(c);
                continue;
            }
            if (i_ >= t_.size()) {
                return false;
            }
            const char e = t_[i_++];
            switch (e) {
                case '"':
                case '\\':
                case '/':
                    out.push_back(e);
                    break;
                case 'b':
                    out.push_back('\b');
                    break;
                case 'f':
                    out.push_back('\f');
                    break;
                case 'n':
                    out.push_back('\n');
                    break;
                case 'r':
                    out.push_back('\r');
                    break;
                case 't':
                    out.push_back('\t');
                    break;
                case 'u': {
                    unsigned code = 0;
                    if (!Hex4(code)) {
                        return false;
                    }
                    if (code >= 0xD800 && code < 0xDC00) {
                        unsigned low = 0;
                        if (i_ + 1 >= t_.size() || t_[i_] != '\\' || t_[i_ + 1] != 'u') {
                            return false;
                        }
                        i_ += 2;
                        if (!Hex4(low) || low < 0xDC00 || low >= 0xE000) {
                            return false;
                        }
                        code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                    } else if (code >= 0xDC00 && code < 0xE000) {
                        return false;
                    }
                    Utf8(code, out);
                    break;
                }
                default:
                    return false;
            }
        }
        return false;
    }

    // A number, true or false, null, or a whole value skipped.
    bool Scalar(std::string& out) {
        Blank();
        const size_t from = i_;
        while (i_ < t_.size() && (std::isalnum(static_cast<unsigned char>(t_[i_])) || t_[i_] == '-' ||
                                  t_[i_] == '+' || t_[i_] == '.')) {
            ++i_;
        }
        out = t_.substr(from, i_ - from);
        return !out.empty();
    }
    bool Skip(int depth = 0) {
        if (depth > 16) {
            return false;
        }
        const char c = Peek();
        std::string ignored;
        if (c == '"') {
            return String(ignored);
        }
        if (c == '{' || c == '[') {
            const char close = c == '{' ? '}' : ']';
            Take(c);
            if (Take(close)) {
                return true;
            }
            do {
                if (c == '{' && !(String(ignored) && Take(':'))) {
                    return false;
                }
                if (!Skip(depth + 1)) {
                    return false;
                }
            } while (Take(','));
            return Take(close);
        }
        return Scalar(ignored);
    }

  private:
    bool Hex4(unsigned& code) {
        if (i_ + 4 > t_.size()) {
            return false;
        }
        for (int k = 0; k < 4; ++k) {
            const char h = t_[i_++];
            code <<= 4;
            if (h >= '0' && h <= '9') {
                code |= h - '0';
            } else if (h >= 'a' && h <= 'f') {
                code |= h - 'a' + 10;
            } else if (h >= 'A' && h <= 'F') {
                code |= h - 'A' + 10;
            } else {
                return false;
            }
        }
        return true;
    }
    static void Utf8(unsigned code, std::string& out) {
        if (code < 0x80) {
            out.push_back(static_cast<char>(code));
        } else if (code < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (code >> 6)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else if (code < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (code >> 12)));
            out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (code >> 18)));
            out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        }
    }

    const std::string& t_;
    size_t i_ = 0;
};

bool ParseEntry(JsonReader& in, RcloneEntry& entry) {
    if (!in.Take('{')) {
        return false;
    }
    bool havePath = false;
    bool haveDir = false;
    if (in.Take('}')) {
        return false;
    }
    do {
        std::string key;
        if (!in.String(key) || !in.Take(':')) {
            return false;
        }
        std::string value;
        if (key == "Path") {
            if (!in.String(value) || value.empty()) {
                return false;
            }
            entry.path = value;
            havePath = true;
        } else if (key == "IsDir") {
            if (!in.Scalar(value) || (value != "true" && value != "false")) {
                return false;
            }
            entry.isFolder = value == "true";
            haveDir = true;
        } else if (key == "Size") {
            char* end = nullptr;
            if (!in.Scalar(value)) {
                return false;
            }
            entry.size = std::strtoll(value.c_str(), &end, 10);
            if (*end != '\0') {
                return false;
            }
        } else if (!in.Skip()) {
            return false;
        }
    } while (in.Take(','));
    return in.Take('}') && havePath && haveDir;
}

}  // namespace

bool IsRcloneDestination(const std::string& dest) {
    return dest.rfind(kPrefix, 0) == 0;
}

bool ParseRcloneDestination(const std::string& dest, std::string& remote, std::string& error) {
    const std::string rest = IsRcloneDestination(dest) ? dest.substr(std::string(kPrefix).size()) : "";
    const size_t colon = rest.find(':');
    if (colon == std::string::npos || !IsRemoteName(rest.substr(0, colon))) {
        error =
            dest + ": not of the form rclone:REMOTE:BUCKET/PATH (REMOTE: a remote of rclone's configuration)";
        return false;
    }
    remote = rest;
    while (remote.size() > colon + 1 && remote.back() == '/') {
        remote.pop_back();
    }
    return true;
}

std::string RcloneObject(const std::string& remote, const std::string& relative) {
    if (relative.empty()) {
        return remote;
    }
    return remote.back() == ':' || remote.back() == '/' ? remote + relative : remote + "/" + relative;
}

std::string ManifestCacheControl(int maxAgeSeconds) {
    return maxAgeSeconds <= 0 ? "no-cache" : "public, max-age=" + std::to_string(maxAgeSeconds);
}

bool ParseManifestMaxAge(const std::string& text, int& seconds, std::string& error) {
    const bool digits =
        !text.empty() && text.size() <= 3 && text.find_first_not_of("0123456789") == std::string::npos;
    if (!digits || std::atoi(text.c_str()) > kManifestMaxAgeMost) {
        error = "--manifest-max-age " + text + ": give whole seconds from 0 to " +
                std::to_string(kManifestMaxAgeMost) + " (a cache holds the manifest at most that long)";
        return false;
    }
    seconds = std::atoi(text.c_str());
    return true;
}

std::vector<std::string> RcloneUploadFilesArgs(const std::string& sourceFolder,
                                               const std::string& targetFolder,
                                               const std::string& filesFrom,
                                               const std::string& cacheControl) {
    // --ignore-existing: an object of a published version is never written again (the
    // refusal before this saw that the ones there are the manifest's).
    std::vector<std::string> argv = Head("copy");
    for (const char* option : {"--ignore-existing", "--no-traverse", "--files-from-raw"}) {
        argv.push_back(option);
    }
    argv.push_back(filesFrom);
    argv.push_back("--header-upload");
    argv.push_back("Cache-Control: " + cacheControl);
    argv.push_back("--");
    argv.push_back(sourceFolder);
    argv.push_back(targetFolder);
    return argv;
}

std::vector<std::string> RcloneUploadOneArgs(const std::string& sourceFile,
                                             const std::string& targetObject,
                                             const std::string& cacheControl) {
    // --ignore-times: the manifest is always sent, with this run's header, even when an
    // object of the same size and time is there.
    std::vector<std::string> argv = Head("copyto");
    argv.push_back("--ignore-times");
    argv.push_back("--header-upload");
    argv.push_back("Cache-Control: " + cacheControl);
    argv.push_back("--");
    argv.push_back(sourceFile);
    argv.push_back(targetObject);
    return argv;
}

std::vector<std::string> RcloneDownloadFilesArgs(const std::string& sourceFolder,
                                                 const std::string& targetFolder,
                                                 const std::string& filesFrom) {
    std::vector<std::string> argv = Head("copy");
    argv.push_back("--no-traverse");
    argv.push_back("--files-from-raw");
    argv.push_back(filesFrom);
    argv.push_back("--");
    argv.push_back(sourceFolder);
    argv.push_back(targetFolder);
    return argv;
}

std::vector<std::string> RcloneListArgs(const std::string& folder, int depth, bool foldersOnly) {
    std::vector<std::string> argv = Head("lsjson");
    argv.push_back("-R");
    if (depth > 0) {
        argv.push_back("--max-depth");
        argv.push_back(std::to_string(depth));
    }
    if (foldersOnly) {
        argv.push_back("--dirs-only");
    }
    argv.push_back("--");
    argv.push_back(folder);
    return argv;
}

std::vector<std::string> RclonePurgeArgs(const std::string& folder) {
    std::vector<std::string> argv = Head("purge");
    argv.push_back("--");
    argv.push_back(folder);
    return argv;
}

bool ParseRcloneListing(const std::string& json, std::vector<RcloneEntry>& entries, std::string& error) {
    JsonReader in(json);
    entries.clear();
    bool ok = in.Take('[');
    if (ok && !in.Take(']')) {
        do {
            RcloneEntry entry;
            ok = ParseEntry(in, entry);
            if (ok) {
                entries.push_back(entry);
            }
        } while (ok && in.Take(','));
        ok = ok && in.Take(']');
    }
    if (!ok || !in.AtEnd()) {
        entries.clear();
        error = "rclone lsjson gave a listing that is not a JSON list of entries";
        return false;
    }
    return true;
}

bool RcloneFilesFromText(const std::vector<std::string>& names, std::string& text, std::string& error) {
    text.clear();
    for (const std::string& n : names) {
        if (n.find('\n') != std::string::npos || n.find('\r') != std::string::npos) {
            error = n + ": a name with a line break, which rclone's list of names cannot carry";
            return false;
        }
        text += n + "\n";
    }
    return true;
}
