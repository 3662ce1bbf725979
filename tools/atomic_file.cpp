#include "tools/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace {

std::string Reason(const std::string& path, const char* what) {
    return path + ": " + what + ": " + std::strerror(errno);
}

// Writes `content` to a new temporary file in the folder of `path` and flushes it to
// disk. Returns the temporary name, or an empty text on failure.
std::string WriteTemporary(const std::string& path,
                           const std::string& content,
                           mode_t mode,
                           std::string& error) {
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string tmpl = folder + "." + base + ".tmp-XXXXXX";
    std::vector<char> name(tmpl.begin(), tmpl.end());
    name.push_back('\0');
    const int fd = mkstemp(name.data());  // mode 0600 until the fchmod below
    if (fd < 0) {
        error = Reason(path, "cannot create a temporary file beside it");
        return {};
    }
    const std::string tmp(name.data());
    bool ok = fchmod(fd, mode) == 0;
    size_t done = 0;
    while (ok && done < content.size()) {
        const ssize_t n = write(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        ok = n > 0;
        done += ok ? static_cast<size_t>(n) : 0;
    }
    ok = ok && fsync(fd) == 0;
    if (!ok) {
        error = Reason(path, "cannot write");
    }
    if (close(fd) != 0 && ok) {
        error = Reason(path, "cannot write");
        ok = false;
    }
    if (!ok) {
        unlink(tmp.c_str());
        return {};
    }
    return tmp;
}

}  // namespace

bool ReadWholeFile(const std::string& path, std::string& content, std::string& error) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = Reason(path, "cannot open");
        return false;
    }
    std::string text;
    char block[65536];
    while (true) {
        const ssize_t n = read(fd, block, sizeof(block));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            error = Reason(path, "cannot read");
            close(fd);
            return false;
        }
        if (n == 0) {
            break;
        }
        text.append(block, static_cast<size_t>(n));
    }
    close(fd);
    content = std::move(text);
    return true;
}

bool WriteFileReplacing(const std::string& path,
                        const std::string& content,
                        mode_t mode,
                        std::string& error) {
    const std::string tmp = WriteTemporary(path, content, mode, error);
    if (tmp.empty()) {
        return false;
    }
    if (rename(tmp.c_str(), path.c_str()) != 0) {
        error = Reason(path, "cannot rename the temporary file into place");
        unlink(tmp.c_str());
        return false;
    }
    return true;
}

bool WriteFileExclusive(const std::string& path,
                        const std::string& content,
                        mode_t mode,
                        std::string& error) {
    const std::string tmp = WriteTemporary(path, content, mode, error);
    if (tmp.empty()) {
        return false;
    }
    // link() never replaces an existing file, unlike rename().
    const bool linked = link(tmp.c_str(), path.c_str()) == 0;
    if (!linked) {
        error = errno == EEXIST ? path + ": exists already; it is not overwritten"
                                : Reason(path, "cannot create");
    }
    unlink(tmp.c_str());
    return linked;
}
