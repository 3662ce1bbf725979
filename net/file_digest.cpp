// The platform-neutral half of the file digest: the read loop and the hex form.
#include "net/file_digest.h"

#include <istream>
#include <vector>

namespace {
const size_t kReadBlock = 262144;
}  // namespace

bool HashStreamBlocks(std::istream& in, const HashUpdate& update) {
    std::vector<char> block(kReadBlock);
    while (in.good()) {
        in.read(block.data(), static_cast<std::streamsize>(block.size()));
        const size_t count = static_cast<size_t>(in.gcount());
        if (in.bad()) {
            return false;
        }
        if (count > 0 && !update(reinterpret_cast<const uint8_t*>(block.data()), count)) {
            return false;
        }
    }
    // A short read sets eof and fail together; fail alone would be a stream error.
    return in.eof() && !in.bad();
}

std::string HexLower(const uint8_t digest[32]) {
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(64);
    for (int i = 0; i < 32; ++i) {
        hex.push_back(kDigits[digest[i] >> 4]);
        hex.push_back(kDigits[digest[i] & 0x0F]);
    }
    return hex;
}
