// The manifest step's line in the support log.
#pragma once

#include <cstdint>
#include <string>

std::string ManifestText(uint32_t status,
                         uint64_t bytes,
                         uint32_t elapsedMs,
                         bool accepted,
                         const std::string& versionOrError);
