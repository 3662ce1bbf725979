#include "ui/paint_texts.h"

#include <algorithm>
#include <cstdio>

namespace {

// The line buffers: a formatted line longer than the buffer is cut after capacity - 1
// bytes by snprintf, which never writes past the buffer.
constexpr size_t kLineBuffer = 160;
constexpr size_t kDownloadLineBuffer = 200;

// Far more than the widest line (554 pixels) or the notes box (six lines) can show: a
// wrapped line takes at most 1,024 characters of the text, so six take no more than 6,144.
constexpr size_t kLineDrawLimit = 1024;
constexpr size_t kNotesDrawLimit = 8192;
constexpr int kNotesDrawLines = 8;

size_t UpToZero(const std::string& text, size_t limit) {
    const size_t zero = text.find('\0');
    return std::min(limit, zero == std::string::npos ? text.size() : zero);
}

}  // namespace

std::string FormatMegabytes(int64_t bytes) {
    char text[32];
    // The largest count, about 8.8e12 MB, takes 18 characters: it always fits.
    std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) * (1.0 / 1048576.0));
    return text;
}

std::string FormatVersionLine(const std::string& installed, const std::string& latest) {
    char line[kLineBuffer];
    // Cut here: a version of any length ends the line at 159 bytes.
    std::snprintf(line, sizeof line, "Twoja wersja:  %s        Najnowsza:  %s",
                  installed.empty() ? "brak" : installed.c_str(), latest.empty() ? "..." : latest.c_str());
    return line;
}

std::string FormatFileCountLine(int32_t fileCount, int64_t totalBytes) {
    char line[kLineBuffer];
    std::snprintf(line, sizeof line, "%d plikow, %s", static_cast<int>(fileCount),
                  FormatMegabytes(totalBytes).c_str());
    return line;
}

std::string FormatDownloadLine(int32_t fileNumber,
                               int32_t fileCount,
                               const std::string& currentFile,
                               int64_t doneBytes,
                               int64_t totalBytes) {
    char line[kDownloadLineBuffer];
    // Cut here: a long file name ends the line at 199 bytes (the sizes after it are lost,
    // as they would be anyway beyond the width of the line).
    std::snprintf(line, sizeof line, "%d / %d   %s   (%s / %s)", static_cast<int>(fileNumber),
                  static_cast<int>(fileCount), currentFile.c_str(), FormatMegabytes(doneBytes).c_str(),
                  FormatMegabytes(totalBytes).c_str());
    return line;
}

std::string CutForLine(const std::string& text) {
    return text.substr(0, UpToZero(text, kLineDrawLimit));
}

std::string CutForNotes(const std::string& text) {
    size_t end = UpToZero(text, kNotesDrawLimit);
    int lines = 1;
    for (size_t i = 0; i < end; ++i) {
        if (text[i] == '\n' && ++lines > kNotesDrawLines) {
            end = i;  // cut before the line break that would start the ninth line
            break;
        }
    }
    return text.substr(0, end);
}
