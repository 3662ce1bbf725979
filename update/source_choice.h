// Where one release file is fetched from next: the update server that served the manifest,
// then each mirror of the manifest in its order; whether kept bytes are continued there; and
// which failure the user is shown when every place has failed.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "net/download_answer.h"

// How one place failed to deliver the file.
enum class FileFault {
    NoAnswer,  // refused, reset, TLS, time-out: no status arrived
    Status,    // an answer that is not the file
    Body,      // the file's answer, but cut, too slow or longer than the manifest's size
    Digest,    // the whole file arrived with another SHA-256
    Local,     // the temporary file did not take the bytes: no other place helps
};

// The fault of a failed download by its cause and the status that arrived (0: none).
FileFault FaultOfDownload(DownloadCause cause, uint32_t status);

struct SourceStep {
    bool tryNext = false;  // false: the file fails with the text of failure `shown`
    size_t source = 0;     // tryNext: the place to ask (0: the manifest's server)
    bool resume = false;   // tryNext: continue the kept bytes, which came from that place
    size_t shown = 0;
};

// After `faults` (one for each place asked, in order) among `sources` (each place's name, as
// kept bytes record it). A place carries no trust, since every file is checked by size and
// digest: any failure but a local one sends the file on to the next place. Kept bytes are
// continued only at the place named by `keptFrom` (their validator is that server's); any
// other place sends the file from its start. When no place is left, the user sees the
// failure that got furthest (no answer, an error status, a bad body, a wrong digest), the
// first among equals: with no mirror, the failure of the manifest's server alone.
SourceStep NextFileSource(const std::vector<FileFault>& faults,
                          const std::vector<std::string>& sources,
                          const std::string& keptFrom);
