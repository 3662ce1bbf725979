// When the rest of a file may be appended to what an earlier attempt kept, and the record
// that keeps what a later attempt needs to know about those bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The validator a kept partial is tied to: the ETag when it is strong (a weak one, "W/...",
// does not promise identical bytes), else Last-Modified, else empty (nothing may be kept).
std::string ResumeValidator(const std::string& etag, const std::string& lastModified);

// True when a 206 answer's Content-Range ("bytes N-M/L") continues exactly at `offset` and
// ends at the declared size: N = offset, M = size - 1, L = size. Anything else is refused.
bool RangeContinues(const std::string& contentRange, uint64_t offset, uint64_t size);

// The partial download a failed pass keeps for the next one: which entry it belongs to
// (name, size and digest as the manifest gave them), how many bytes were kept, the server's
// validator for them, and which place (update server or mirror) they and the validator came
// from: only that place may continue them.
struct PartialRecord {
    std::string name;
    int64_t size = 0;
    std::string sha256;
    uint64_t bytes = 0;
    std::string validator;
    std::string source;
};

std::string FormatPartialRecord(const PartialRecord& record);
// False for anything that is not a complete record as FormatPartialRecord writes it.
bool ParsePartialRecord(const std::string& text, PartialRecord& record);
// Several records, one after another (none: the empty text).
std::string FormatPartialRecords(const std::vector<PartialRecord>& records);
// False for anything that is not a sequence of complete records.
bool ParsePartialRecords(const std::string& text, std::vector<PartialRecord>& records);
