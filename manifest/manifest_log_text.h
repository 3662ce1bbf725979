// The manifest step's line in the support log.
#pragma once

#include <cstdint>
#include <string>

// The manifest step's line for one update server (`host`, its name): accepted with its
// version, or refused with the reason (of the fetch or of the serial and expiry rules).
std::string ManifestText(uint32_t status,
                         uint64_t bytes,
                         uint32_t elapsedMs,
                         bool accepted,
                         const std::string& versionOrError,
                         const std::string& host);
