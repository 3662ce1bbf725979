#include "update/rollout_rule.h"

#include "net/file_digest.h"

bool RolloutBucket(const std::string& installationId, const std::string& version, int32_t& bucket) {
    uint8_t digest[32];
    if (!Sha256Bytes("vorlane-rollout\n" + installationId + "\n" + version, digest)) {
        return false;
    }
    const uint32_t head = (uint32_t{digest[0]} << 24) | (uint32_t{digest[1]} << 16) |
                          (uint32_t{digest[2]} << 8) | uint32_t{digest[3]};
    bucket = static_cast<int32_t>(head % 1000u);
    return true;
}
