// Which update server a pass goes on to when one refuses its manifest, and which refusal the
// user is shown when every server has refused.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// How far one server's manifest got before it was refused.
struct ManifestAttempt {
    uint32_t status = 0;    // the HTTP status; 0: no answer (refused, reset, TLS, time-out)
    bool verified = false;  // signed and well formed, refused only as older or expired
};

struct HostStep {
    bool askNext = false;  // false: the pass fails with the text of attempt `shown`
    size_t shown = 0;
};

// After `attempts` (each refused, in the order asked) of `hostCount` servers. A server carries
// no trust, so any refusal sends the pass on to the next one: a server that is down, wrong or
// stale never stops a release that another one serves. When none is left, the user sees the
// refusal that got furthest (no answer, then an error status, then a manifest that failed its
// signature or content, then a verified one that is older or expired), the first asked among
// equals: with one server, the refusal of today's single server.
HostStep AfterManifestRefusal(const std::vector<ManifestAttempt>& attempts, size_t hostCount);
