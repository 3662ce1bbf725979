// Any name through the request-path encoding: the result holds only unreserved bytes and
// %XX escapes, and decoding it gives the name back.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "net/file_download.h"

namespace {
int HexValue(char c) {
    return (c >= '0' && c <= '9') ? c - '0' : (c >= 'A' && c <= 'F') ? c - 'A' + 10 : -1;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string name(reinterpret_cast<const char*>(data), size);
    const std::string encoded = PercentEncode(name);
    std::string decoded;
    for (size_t i = 0; i < encoded.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(encoded[i]);
        if (c == '%') {
            if (i + 2 >= encoded.size()) {
                std::abort();
            }
            const int hi = HexValue(encoded[i + 1]);
            const int lo = HexValue(encoded[i + 2]);
            if (hi < 0 || lo < 0) {
                std::abort();
            }
            decoded.push_back(static_cast<char>(hi * 16 + lo));
            i += 2;
        } else if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
                   c == '_' || c == '-' || c == '/') {
            decoded.push_back(static_cast<char>(c));
        } else {
            std::abort();
        }
    }
    if (decoded != name) {
        std::abort();
    }
    const std::u16string wide = WidenAscii(encoded);
    for (char16_t unit : wide) {
        if (unit > 0x7F) {  // the encoded name is pure ASCII
            std::abort();
        }
    }
    return 0;
}
