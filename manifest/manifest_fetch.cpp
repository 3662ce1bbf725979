// Fetches the manifest over HTTPS into memory, up to a fixed limit, and judges it.
#include "manifest/manifest_fetch.h"

#include "net/https_client.h"
#include "sys/clock.h"

namespace {
const int32_t kReceiveTimeoutMs = 12000;
}  // namespace

bool FetchReleaseManifest(size_t host,
                          const std::u16string& path,
                          ReleaseManifest& manifest,
                          ManifestReply& reply,
                          std::string& error) {
    manifest = ReleaseManifest();
    std::string body;
    const ChunkSink sink = [&body](const uint8_t* data, uint32_t count) {
        body.append(reinterpret_cast<const char*>(data), count);
        return body.size() < kManifestBodyLimit;
    };
    // Even a manifest of the largest size read has to arrive within its bound.
    FetchHeaders bound;
    bound.boundBytes = kManifestBodyLimit;
    FetchServer server;
    server.host = host;
    const uint32_t started = TickCountMs();
    reply.status = HttpsFetch(path, std::string(), sink, error, kReceiveTimeoutMs, &bound, server);
    reply.bytes = body.size();
    reply.elapsedMs = TickCountMs() - started;
    return AcceptManifestResponse(reply.status, body, manifest, error);
}
