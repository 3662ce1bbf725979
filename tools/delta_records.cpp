#include "tools/delta_records.h"

#include <algorithm>
#include <cstdio>

#include "tools/command_common.h"
#include "tools/name_rules.h"
#include "tools/prune_choice.h"

namespace {

bool IsLowerHex64(const std::string& s) {
    return s.size() == 64 && s.find_first_not_of("0123456789abcdef") == std::string::npos;
}

}  // namespace

bool ParseDeltaRecord(const std::string& value, DeltaRecord& record, std::string& reason) {
    std::vector<std::string> fields;
    size_t start = 0;
    while (true) {
        const size_t bar = value.find('|', start);
        fields.push_back(value.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
        if (bar == std::string::npos) {
            break;
        }
        start = bar + 1;
    }
    if (fields.size() != 5) {
        reason = "a delta record needs name|base sha256|size|sha256|base version";
        return false;
    }
    if (!CheckReleaseName(fields[0], reason)) {
        reason = QuoteName(fields[0]) + ": " + reason;
        return false;
    }
    if (!IsLowerHex64(fields[1]) || !IsLowerHex64(fields[3])) {
        reason = "a delta's base digest and its own digest must be 64 lowercase hex digits";
        return false;
    }
    if (fields[2].empty() || fields[2].size() > 18 ||
        fields[2].find_first_not_of("0123456789") != std::string::npos) {
        reason = "the delta's size " + QuoteName(fields[2]) + " is not a decimal byte count";
        return false;
    }
    if (!CheckVersionText(fields[4], reason)) {
        return false;
    }
    record.name = fields[0];
    record.baseSha256 = fields[1];
    record.size = std::stoll(fields[2]);
    record.sha256 = fields[3];
    record.baseVersion = fields[4];
    return true;
}

std::string FormatDeltaRecord(const DeltaRecord& r) {
    return "delta=" + r.name + "|" + r.baseSha256 + "|" + std::to_string(r.size) + "|" + r.sha256 + "|" +
           r.baseVersion + "\n";
}

std::vector<DeltaRecord> DeltaRecordsOf(const std::string& text) {
    std::vector<DeltaRecord> out;
    size_t start = 0;
    while (start < text.size()) {
        size_t lf = text.find('\n', start);
        if (lf == std::string::npos) {
            lf = text.size();
        }
        const std::string line = text.substr(start, lf - start);
        start = lf + 1;
        DeltaRecord r;
        std::string ignored;
        if (line.rfind("delta=", 0) == 0 && ParseDeltaRecord(line.substr(6), r, ignored)) {
            out.push_back(r);
        }
    }
    return out;
}

std::string DeltaServedName(const DeltaRecord& r) {
    return ".delta/" + r.baseSha256 + "/" + r.name + ".zst";
}

std::string DescribeDelta(const DeltaRecord& r, int64_t fileSize) {
    char share[32];
    std::snprintf(share, sizeof(share), "%.1f %%",
                  fileSize > 0 ? 100.0 * static_cast<double>(r.size) / static_cast<double>(fileSize) : 0.0);
    return "delta: " + r.name + " from " + r.baseVersion + " (" + FormatBytes(static_cast<uint64_t>(r.size)) +
           ", " + share + ")";
}

std::vector<std::string> ChooseBaseVersions(const std::vector<std::string>& folders,
                                            const std::string& newVersion,
                                            size_t most) {
    std::vector<std::string> older;
    for (const std::string& f : folders) {
        if (!f.empty() && f[0] != '.' && VersionBefore(f, newVersion)) {
            older.push_back(f);
        }
    }
    std::sort(older.begin(), older.end(),
              [](const std::string& a, const std::string& b) { return VersionBefore(b, a); });
    if (older.size() > most) {
        older.resize(most);
    }
    return older;
}
