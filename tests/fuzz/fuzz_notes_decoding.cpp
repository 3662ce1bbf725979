// The notes decoding never grows a value, and turns exactly the backslash-n pairs into LF.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "manifest/manifest_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string value(reinterpret_cast<const char*>(data), size);
    const std::string decoded = DecodeNotesValue(value);
    size_t pairs = 0;
    for (size_t i = 0; i + 1 < value.size(); ++i) {
        if (value[i] == '\\' && value[i + 1] == 'n') {
            ++pairs;
            ++i;
        }
    }
    if (decoded.size() != value.size() - pairs) {
        std::abort();
    }
    return 0;
}
