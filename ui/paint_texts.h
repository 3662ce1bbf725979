// The formatted lines of the window. Versions and file names come from the release
// manifest and may be arbitrarily long: each line is formatted into a fixed buffer and a
// longer result is cut at the buffer's end (the detail line's drawing then ends in "...").
#pragma once

#include <cstdint>
#include <string>

// Bytes as megabytes with one decimal, "1.5 MB"; negative counts stay negative.
std::string FormatMegabytes(int64_t bytes);

// "Twoja wersja:  <installed>        Najnowsza:  <latest>", "brak" and "..." for empty
// versions; at most 159 bytes.
std::string FormatVersionLine(const std::string& installed, const std::string& latest);

// "<count> plikow, <size>" (the word does not change with the count); at most 159 bytes.
std::string FormatFileCountLine(int32_t fileCount, int64_t totalBytes);

// "<n> / <m>   <file>   (<done> / <total>)"; at most 199 bytes.
std::string FormatDownloadLine(int32_t fileNumber,
                               int32_t fileCount,
                               const std::string& currentFile,
                               int64_t doneBytes,
                               int64_t totalBytes);

// Drawing a text costs time in its whole length, while a line of the window shows at most a
// few hundred characters and the notes box six lines. These cuts keep a paint cheap with
// texts of any length and leave what is seen unchanged (a cut line still ends in "..." where
// its flags ask for it). Both also stop at a zero byte, as drawing does.
// A one-line text: at most 1,024 bytes.
std::string CutForLine(const std::string& text);
// The notes: at most 8 lines (each line break starts a line) and 8,192 bytes.
std::string CutForNotes(const std::string& text);
