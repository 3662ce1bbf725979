#include "tools/manifest_writer.h"

#include <algorithm>

#include "manifest/manifest_parser.h"
#include "manifest/mirror_url.h"
#include "manifest/utc_time.h"
#include "tools/delta_records.h"
#include "tools/name_rules.h"
#include "tools/rollout_records.h"

namespace {

const char kMirrorRule[] =
    "a mirror must be an https://HOST[:PORT][/PATH] base URL: HOST a DNS name of lowercase letters, "
    "digits, \"-\" and \".\", PATH of letters, digits and \"-._~/\", no user name, query or fragment";

bool IsDecimal(const std::string& s) {
    return !s.empty() && s.size() <= 18 && s.find_first_not_of("0123456789") == std::string::npos;
}

bool IsLowerHex64(const std::string& s) {
    return s.size() == 64 && s.find_first_not_of("0123456789abcdef") == std::string::npos;
}

// The problems of one "file" record value; the accepted name goes to `names`.
void CheckFileRecord(const std::string& value,
                     const std::string& where,
                     std::vector<std::string>& names,
                     std::vector<std::string>& problems) {
    const size_t p1 = value.find('|');
    const size_t p2 = p1 == std::string::npos ? p1 : value.find('|', p1 + 1);
    const size_t p3 = p2 == std::string::npos ? p2 : value.find('|', p2 + 1);
    if (p3 == std::string::npos) {
        problems.push_back(where + ": a file record needs name|size|sha256|flag");
        return;
    }
    const std::string name = value.substr(0, p1);
    const std::string size = value.substr(p1 + 1, p2 - p1 - 1);
    const std::string digest = value.substr(p2 + 1, p3 - p2 - 1);
    const std::string flag = value.substr(p3 + 1);
    std::string reason;
    if (!CheckReleaseName(name, reason)) {
        problems.push_back(where + ": " + QuoteName(name) + ": " + reason);
    } else {
        names.push_back(name);
    }
    if (!IsDecimal(size)) {
        problems.push_back(where + ": the size " + QuoteName(size) + " is not a decimal byte count");
    }
    if (!IsLowerHex64(digest)) {
        problems.push_back(
            where + ": the digest is not 64 lowercase hex digits (the updater compares it byte for byte)");
    }
    if (flag != "0" && flag != "1") {
        problems.push_back(where + ": the flag " + QuoteName(flag) + " is neither 0 nor 1");
    }
}

}  // namespace

void CheckMirrorRecord(const std::string& value,
                       const std::string& where,
                       std::vector<std::string>& mirrors,
                       std::vector<std::string>& problems) {
    MirrorBase mirror;
    if (!ParseMirrorUrl(value, mirror)) {
        problems.push_back(where + ": " + kMirrorRule + "; the updater skips it");
    } else if (std::find(mirrors.begin(), mirrors.end(), mirror.url) != mirrors.end()) {
        problems.push_back(where + ": the mirror " + mirror.url + " is listed twice; the updater skips it");
    } else if (mirrors.size() == kMirrorsMost) {
        problems.push_back(where + ": more than " + std::to_string(kMirrorsMost) +
                           " mirrors; the updater skips this one");
    } else {
        mirrors.push_back(mirror.url);
    }
}

std::string WithMirrorRecords(const std::string& text, const std::vector<std::string>& urls) {
    std::string records;
    for (const std::string& url : urls) {
        records += "mirror=" + url + "\n";
    }
    const size_t afterMagic = text.find('\n') + 1;
    return text.substr(0, afterMagic) + records + text.substr(afterMagic);
}

bool EncodeNotes(const std::string& notes, std::vector<std::string>& values, std::string& reason) {
    std::vector<std::string> lines;
    std::string line;
    for (size_t i = 0; i < notes.size(); ++i) {
        if (notes[i] == '\r' && i + 1 < notes.size() && notes[i + 1] == '\n') {
            continue;  // the LF that follows ends the line
        }
        if (notes[i] == '\n') {
            lines.push_back(line);
            line.clear();
        } else {
            line.push_back(notes[i]);
        }
    }
    lines.push_back(line);
    while (!lines.empty() && lines.back().empty()) {
        lines.pop_back();
    }
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].find("\\n") != std::string::npos) {
            reason = "line " + std::to_string(i + 1) +
                     " holds a backslash followed by \"n\", which the updater shows as a line break";
            return false;
        }
    }
    values.clear();
    for (size_t i = 0; i < lines.size(); ++i) {
        values.push_back(i + 1 < lines.size() ? lines[i] + "\\n" : lines[i]);
    }
    return true;
}

std::string FormatManifestText(const ManifestDraft& draft) {
    std::string text = std::string(kManifestMagic) + "\n";
    text += "version=" + draft.version + "\n";
    if (!draft.date.empty()) {
        text += "date=" + draft.date + "\n";
    }
    for (const std::string& value : draft.notes) {
        text += "notes=" + value + "\n";
    }
    for (const ManifestFile& f : draft.files) {
        text += "file=" + f.name + "|" + std::to_string(f.size) + "|" + f.sha256 + "|" +
                (f.onlyIfMissing ? "1" : "0") + "\n";
    }
    return text;
}

std::vector<std::string> FindManifestProblems(const std::string& signedText) {
    std::vector<std::string> problems;
    if (signedText.empty() || signedText.back() != '\n') {
        problems.push_back("the text must end with a line feed");
    }
    if (signedText.size() + kSignatureLineLength > kManifestByteLimit) {
        problems.push_back(
            "the manifest would be " + std::to_string(signedText.size() + kSignatureLineLength) +
            " bytes once signed; the updater reads at most " + std::to_string(kManifestByteLimit));
    }
    std::vector<std::string> names;
    bool haveVersion = false;
    int serialRecords = 0;
    int expiresRecords = 0;
    int rolloutRecords = 0;
    int criticalRecords = 0;
    int channelRecords = 0;
    std::vector<std::string> mirrors;
    std::vector<std::pair<std::string, DeltaRecord>> deltas;
    size_t start = 0;
    for (size_t number = 1; start < signedText.size(); ++number) {
        size_t lf = signedText.find('\n', start);
        if (lf == std::string::npos) {
            lf = signedText.size();
        }
        const std::string line = signedText.substr(start, lf - start);
        start = lf + 1;
        const std::string where = "line " + std::to_string(number);
        if (number == 1) {
            if (line != kManifestMagic) {
                problems.push_back(where + ": the first line must be exactly " + std::string(kManifestMagic));
            }
            continue;
        }
        if (!line.empty() && line.back() == '\r') {
            problems.push_back(where + ": ends in CR; manifests use LF line ends");
            continue;
        }
        if (line.empty()) {
            continue;
        }
        const size_t eq = line.find('=');
        const std::string key = line.substr(0, eq);
        const std::string value = eq == std::string::npos ? "" : line.substr(eq + 1);
        std::string reason;
        if (key == "sig") {
            problems.push_back(where + ": a \"sig=\" line: the manifest is signed already");
        } else if (eq == std::string::npos ||
                   (key != "version" && key != "date" && key != "notes" && key != "file" && key != "serial" &&
                    key != "expires" && key != "rollout" && key != "critical" && key != "channel" &&
                    key != "mirror" && key != "delta")) {
            problems.push_back(where +
                               ": not a version, date, notes, file, serial, expires, rollout, critical, "
                               "channel, mirror or delta record; the updater skips it");
        } else if (key == "delta") {
            DeltaRecord delta;
            if (!ParseDeltaRecord(value, delta, reason)) {
                problems.push_back(where + ": " + reason);
            } else {
                deltas.emplace_back(where, delta);
            }
        } else if (key == "mirror") {
            CheckMirrorRecord(value, where, mirrors, problems);
        } else if (key == "rollout" || key == "critical" || key == "channel") {
            const std::string problem = RolloutValueProblem(key, value);
            if (!problem.empty()) {
                problems.push_back(where + ": " + problem + "; the updater refuses the manifest");
            }
            int& count = key == "rollout"    ? rolloutRecords
                         : key == "critical" ? criticalRecords
                                             : channelRecords;
            if (++count > 1) {
                problems.push_back(where + ": a second " + key + " record");
            }
        } else if (key == "serial" || key == "expires") {
            int64_t ignored = 0;
            const bool serial = key == "serial";
            if (serial ? !ParseSerialText(value, ignored) : !ParseUtcTimestamp(value, ignored)) {
                problems.push_back(where +
                                   (serial ? ": the serial is not 1 to 18 decimal digits"
                                           : ": the expiry is not YYYY-MM-DDTHH:MM:SSZ") +
                                   "; the updater refuses the manifest");
            }
            if (++(serial ? serialRecords : expiresRecords) > 1) {
                problems.push_back(where + ": a second " + key + " record");
            }
        } else if (key == "version") {
            haveVersion = true;
            if (!CheckVersionText(value, reason)) {
                problems.push_back(where + ": " + reason);
            }
        } else if (key == "date") {
            if (!CheckDateText(value, reason)) {
                problems.push_back(where + ": " + reason);
            }
        } else if (key == "file") {
            CheckFileRecord(value, where, names, problems);
        }
    }
    if (!haveVersion) {
        problems.push_back("no version record");
    }
    if (names.empty()) {
        problems.push_back("no file record the updater would accept");
    }
    // A delta only rebuilds a listed file, once per base.
    for (size_t i = 0; i < deltas.size(); ++i) {
        const auto& [where, d] = deltas[i];
        if (std::find(names.begin(), names.end(), d.name) == names.end()) {
            problems.push_back(where + ": a delta for " + QuoteName(d.name) + ", which no file record lists");
        }
        for (size_t j = 0; j < i; ++j) {
            if (deltas[j].second.name == d.name && deltas[j].second.baseSha256 == d.baseSha256) {
                problems.push_back(where + ": a second delta for " + QuoteName(d.name) + " from the same base");
            }
        }
    }
    for (const std::string& clash : FindCaseClashes(names)) {
        problems.push_back(clash);
    }
    return problems;
}
