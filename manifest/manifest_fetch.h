// Retrieval of the signed release manifest from the update server.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "manifest/release_manifest.h"

// The most of a manifest response that is read. A longer body is cut after the block
// that reaches the limit; what is kept then lacks its signature or fails it, so no
// message of its own is needed.
inline constexpr size_t kManifestBodyLimit = 524288;

extern const char kErrNoSignature[];   // "manifest bez podpisu"
extern const char kErrBadSignature[];  // "podpis manifestu sie nie zgadza"

// What one manifest request did, for the support log.
struct ManifestReply {
    uint32_t status = 0;  // 0: no answer
    uint64_t bytes = 0;
    uint32_t elapsedMs = 0;
};

// Asks update server `host` (net/server_address.h) for the manifest at `path` (the followed
// channel's). True with a parsed manifest whose signature verified; false with a Polish reason.
bool FetchReleaseManifest(size_t host,
                          const std::u16string& path,
                          ReleaseManifest& manifest,
                          ManifestReply& reply,
                          std::string& error);

// The judgement of one response, in a fixed order: transport (status 0 leaves `error`
// as the transfer set it), status, presence of the signature, its validity, content.
// `manifest` should be in its default state.
bool AcceptManifestResponse(uint32_t status,
                            const std::string& body,
                            ReleaseManifest& manifest,
                            std::string& error);
