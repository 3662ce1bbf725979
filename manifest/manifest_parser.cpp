#include "manifest/manifest_parser.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "manifest/channel_name.h"
#include "manifest/utc_time.h"

const char kManifestMagic[] = "VLR1";
const char kErrUnknownFormat[] = "nieznany format manifestu";
const char kErrEmptyManifest[] = "pusty manifest";
const char kErrBadSerial[] = "nieprawidlowy numer wydania w manifescie";
const char kErrBadExpires[] = "nieprawidlowy termin waznosci manifestu";
const char kErrBadRollout[] = "nieprawidlowy udzial wydania w manifescie";
const char kErrBadCritical[] = "nieprawidlowy znacznik krytycznego wydania w manifescie";
const char kErrBadChannel[] = "nieprawidlowy kanal w manifescie";
const char kUpdaterFileName[] = "VorlanePatcher.exe";

namespace {

char FoldAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// The size field: base-10 strtoll semantics (white space, sign, stop at the first
// non-digit, 0 without digits, clamped at the limits). The text is copied so that
// strtoll stops at the field's end and not at the next "|".
int64_t ParseSizeText(std::string_view text) {
    std::string copy(text);
    return static_cast<int64_t>(std::strtoll(copy.c_str(), nullptr, 10));
}

}  // namespace

bool ParseSerialText(const std::string& text, int64_t& serial) {
    if (text.empty() || text.size() > kSerialMaxDigits ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    serial = static_cast<int64_t>(std::strtoll(text.c_str(), nullptr, 10));
    return true;
}

bool ParseRolloutText(const std::string& text, int32_t& perMille) {
    if (text.empty() || text.size() > 4 || text.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    const long value = std::strtol(text.c_str(), nullptr, 10);
    if (value > 1000) {
        return false;
    }
    perMille = static_cast<int32_t>(value);
    return true;
}

bool IsUpdaterEntryName(const std::string& name) {
    const size_t n = std::strlen(kUpdaterFileName);
    if (name.size() != n) {
        return false;
    }
    for (size_t i = 0; i < n; ++i) {
        if (FoldAscii(name[i]) != FoldAscii(kUpdaterFileName[i])) {
            return false;
        }
    }
    return true;
}

std::string DecodeNotesValue(const std::string& value) {
    std::string out;
    out.reserve(value.size());
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size() && value[i + 1] == 'n') {
            out.push_back('\n');
            ++i;
        } else {
            out.push_back(value[i]);
        }
    }
    return out;
}

bool IsAcceptedManifestName(const std::string& name) {
    // Every file call ends a name at a zero byte: "Vorlane.exe\0x" would be written
    // straight over the installed Vorlane.exe.
    return !name.empty() && name.find("..") == std::string::npos && name[0] != '/' &&
           name.find(':') == std::string::npos && name.find('\0') == std::string::npos;
}

bool ParseFileRecord(const std::string& value, ManifestFile& entry) {
    const size_t p1 = value.find('|');
    if (p1 == std::string::npos) {
        return false;
    }
    const size_t p2 = value.find('|', p1 + 1);
    if (p2 == std::string::npos) {
        return false;
    }
    const size_t p3 = value.find('|', p2 + 1);
    if (p3 == std::string::npos) {
        return false;
    }
    std::string name = value.substr(0, p1);
    if (!IsAcceptedManifestName(name)) {
        return false;
    }
    entry.name = std::move(name);
    entry.size = ParseSizeText(std::string_view(value).substr(p1 + 1, p2 - p1 - 1));
    entry.sha256 = value.substr(p2 + 1, p3 - p2 - 1);
    // Only the single byte "1" marks the file; "1|x", "01" or "1 " do not.
    entry.onlyIfMissing = value.compare(p3 + 1, std::string::npos, "1") == 0;
    return true;
}

bool ParseManifestText(const std::string& signedText, ReleaseManifest& manifest, std::string& error) {
    const std::string_view text(signedText);
    size_t lineStart = 0;
    bool first = true;
    // Lines are split at LF; the signed text ends with LF, so a trailing piece without
    // one (possible only for text that did not come through the split) is ignored.
    while (lineStart < text.size()) {
        const size_t lf = text.find('\n', lineStart);
        if (lf == std::string_view::npos) {
            break;
        }
        const std::string_view line = text.substr(lineStart, lf - lineStart);
        lineStart = lf + 1;
        if (first) {
            first = false;
            if (line != kManifestMagic) {
                error = kErrUnknownFormat;
                return false;
            }
            continue;
        }
        const size_t eq = line.find('=');
        if (line.empty() || eq == std::string_view::npos) {
            continue;
        }
        const std::string_view key = line.substr(0, eq);
        const std::string value(line.substr(eq + 1));
        if (key == "version") {
            manifest.version = value;
        } else if (key == "date") {
            manifest.date = value;
        } else if (key == "notes") {
            manifest.notes += DecodeNotesValue(value);
        } else if (key == "file") {
            ManifestFile entry;
            if (ParseFileRecord(value, entry)) {
                manifest.files.push_back(std::move(entry));
            }
        } else if (key == "mirror") {
            // A mirror only adds a place to fetch from, and every file is checked by its size
            // and digest wherever it comes from: a mirror record that cannot be used is skipped.
            MirrorBase mirror;
            const bool usable = ParseMirrorUrl(value, mirror) && manifest.mirrors.size() < kMirrorsMost &&
                                std::none_of(manifest.mirrors.begin(), manifest.mirrors.end(),
                                             [&](const MirrorBase& m) { return m.url == mirror.url; });
            if (usable) {
                manifest.mirrors.push_back(mirror);
            } else {
                manifest.skippedMirrors.push_back(value);
            }
        } else if (key == "serial") {
            // A record that guards against old manifests is never skipped when malformed:
            // skipping it would turn the manifest into one without the guard.
            if (!ParseSerialText(value, manifest.serial)) {
                error = kErrBadSerial;
                return false;
            }
            manifest.hasSerial = true;
        } else if (key == "expires") {
            if (!ParseUtcTimestamp(value, manifest.expires)) {
                error = kErrBadExpires;
                return false;
            }
            manifest.hasExpires = true;
        } else if (key == "rollout") {
            // Skipped, a malformed share would open a halted release to everyone.
            if (!ParseRolloutText(value, manifest.rolloutPerMille)) {
                error = kErrBadRollout;
                return false;
            }
            manifest.hasRollout = true;
        } else if (key == "critical") {
            if (value != "1") {
                error = kErrBadCritical;
                return false;
            }
            manifest.critical = true;
        } else if (key == "channel") {
            // Skipped, a beta manifest served at the default path would pass for a default one.
            if (!IsChannelName(value)) {
                error = kErrBadChannel;
                return false;
            }
            manifest.channel = value;
        }
    }
    if (first) {  // empty text: no first line at all
        error = kErrUnknownFormat;
        return false;
    }
    if (manifest.version.empty() || manifest.files.empty()) {
        error = kErrEmptyManifest;
        return false;
    }
    return true;
}
