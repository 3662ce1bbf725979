// Request paths of release files: the encoding of file names and the widening to the
// UTF-16 that WinHTTP takes.
#include <cstdio>

#include "net/file_download.h"

namespace {

// The C library's alphanumeric test in the "C" locale, which the program never changes.
bool IsUnreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '_' || c == '-' || c == '/';
}

}  // namespace

std::string PercentEncode(const std::string& text) {
    std::string encoded;
    encoded.reserve(text.size());
    for (const char ch : text) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (IsUnreserved(c)) {
            encoded.push_back(ch);
        } else {
            char escape[4];
            std::snprintf(escape, sizeof(escape), "%%%02X", c);
            encoded.append(escape, 3);
        }
    }
    return encoded;
}

std::u16string WidenAscii(const std::string& text) {
    std::u16string wide;
    wide.reserve(text.size());
    for (const char ch : text) {
        // Sign extension: bytes from 0x80 become 0xFF80 to 0xFFFF.
        wide.push_back(static_cast<char16_t>(static_cast<int16_t>(static_cast<signed char>(ch))));
    }
    return wide;
}

std::string MakeDownloadPath(const std::string& version, const std::string& name) {
    return "/download/" + version + "/" + PercentEncode(name);
}
