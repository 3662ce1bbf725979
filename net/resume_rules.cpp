#include "net/resume_rules.h"

#include <charconv>

namespace {

// The second form adds the place the bytes came from; a record of the first form is none.
const char kRecordHeader[] = "VLPART2";

// A decimal number that fills the whole text (no sign, no blanks, no overflow).
bool ParseDecimal(const std::string& text, uint64_t& value) {
    if (text.empty()) {
        return false;
    }
    const char* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, value);
    return result.ec == std::errc() && result.ptr == end;
}

// The value of the next line, which must read "<key>=<value>".
bool NextField(const std::string& text, size_t& at, const std::string& key, std::string& value) {
    const size_t end = text.find('\n', at);
    if (end == std::string::npos || text.compare(at, key.size() + 1, key + "=") != 0) {
        return false;
    }
    value = text.substr(at + key.size() + 1, end - at - key.size() - 1);
    at = end + 1;
    return true;
}

}  // namespace

std::string ResumeValidator(const std::string& etag, const std::string& lastModified) {
    if (!etag.empty() && etag.rfind("W/", 0) != 0) {
        return etag;
    }
    return lastModified;
}

bool RangeContinues(const std::string& contentRange, uint64_t offset, uint64_t size) {
    const std::string unit = "bytes ";
    if (size == 0 || contentRange.rfind(unit, 0) != 0) {
        return false;
    }
    const size_t dash = contentRange.find('-', unit.size());
    const size_t slash = contentRange.find('/', unit.size());
    if (dash == std::string::npos || slash == std::string::npos || dash > slash) {
        return false;
    }
    uint64_t first = 0, last = 0, length = 0;
    return ParseDecimal(contentRange.substr(unit.size(), dash - unit.size()), first) &&
           ParseDecimal(contentRange.substr(dash + 1, slash - dash - 1), last) &&
           ParseDecimal(contentRange.substr(slash + 1), length) && first == offset && last == size - 1 &&
           length == size;
}

std::string FormatPartialRecord(const PartialRecord& record) {
    return std::string(kRecordHeader) + "\nname=" + record.name + "\nsize=" + std::to_string(record.size) +
           "\nsha256=" + record.sha256 + "\nbytes=" + std::to_string(record.bytes) +
           "\nvalidator=" + record.validator + "\nsource=" + record.source + "\n";
}

bool ParsePartialRecord(const std::string& text, PartialRecord& record) {
    const std::string header = std::string(kRecordHeader) + "\n";
    if (text.rfind(header, 0) != 0) {
        return false;
    }
    size_t at = header.size();
    std::string size, bytes;
    PartialRecord parsed;
    uint64_t sizeValue = 0;
    if (!NextField(text, at, "name", parsed.name) || !NextField(text, at, "size", size) ||
        !NextField(text, at, "sha256", parsed.sha256) || !NextField(text, at, "bytes", bytes) ||
        !NextField(text, at, "validator", parsed.validator) || !NextField(text, at, "source", parsed.source) ||
        at != text.size() || parsed.source.empty() ||
        !ParseDecimal(size, sizeValue) || sizeValue > static_cast<uint64_t>(INT64_MAX) ||
        !ParseDecimal(bytes, parsed.bytes) || parsed.name.empty() || parsed.validator.empty()) {
        return false;
    }
    parsed.size = static_cast<int64_t>(sizeValue);
    record = parsed;
    return true;
}

std::string FormatPartialRecords(const std::vector<PartialRecord>& records) {
    std::string text;
    for (const PartialRecord& record : records) {
        text += FormatPartialRecord(record);
    }
    return text;
}

bool ParsePartialRecords(const std::string& text, std::vector<PartialRecord>& records) {
    const size_t kLinesPerRecord = 7;
    std::vector<PartialRecord> parsed;
    for (size_t at = 0; at < text.size();) {
        size_t end = at;
        for (size_t line = 0; line < kLinesPerRecord && end != std::string::npos; ++line) {
            end = text.find('\n', end);
            end = end == std::string::npos ? end : end + 1;
        }
        PartialRecord record;
        if (end == std::string::npos || !ParsePartialRecord(text.substr(at, end - at), record)) {
            return false;
        }
        parsed.push_back(record);
        at = end;
    }
    records = parsed;
    return true;
}
