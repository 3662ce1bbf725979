#include "update/release_guard.h"

#include "manifest/channel_name.h"
#include "manifest/manifest_parser.h"
#include "manifest/utc_time.h"

const char kSerialRecordName[] = "VorlanePatcher.serial";

std::string FormatSerialRecord(int64_t serial) {
    const std::string digits = std::to_string(serial);
    return digits + " " + digits + "\n";
}

SerialRecord ParseSerialRecord(const std::string& text) {
    SerialRecord record;
    const size_t blank = text.find(' ');
    if (blank == std::string::npos || text.empty() || text.back() != '\n') {
        return record;
    }
    const std::string first = text.substr(0, blank);
    const std::string second = text.substr(blank + 1, text.size() - blank - 2);
    int64_t serial = 0;
    if (first == second && ParseSerialText(first, serial)) {
        record.known = true;
        record.serial = serial;
    }
    return record;
}

bool JudgeManifestFreshness(const ReleaseManifest& manifest,
                            const SerialRecord& accepted,
                            int64_t now,
                            std::string& error) {
    const std::string acceptedText = std::to_string(accepted.serial);
    if (accepted.known && !manifest.hasSerial) {
        error = "manifest bez numeru wydania (przyjety byl juz numer " + acceptedText + ")";
        return false;
    }
    if (accepted.known && manifest.serial < accepted.serial) {
        error = "manifest starszy niz juz przyjety (numer wydania " + std::to_string(manifest.serial) +
                ", przyjety byl " + acceptedText + ")";
        return false;
    }
    if (manifest.hasExpires && now > manifest.expires && now - manifest.expires > kClockAllowanceSeconds) {
        std::string when = FormatUtcTimestamp(manifest.expires);
        when[10] = ' ';
        when.back() = ' ';
        error = "manifest wygasl (byl wazny do " + when + "UTC)";
        return false;
    }
    return true;
}

bool JudgeManifestChannel(const ReleaseManifest& manifest, const std::string& channel, std::string& error) {
    if (manifest.channel != channel) {
        error = "manifest innego kanalu (" + ChannelShownName(manifest.channel) + " zamiast " +
                ChannelShownName(channel) + ")";
        return false;
    }
    return true;
}

SerialRecord CountedSerialRecord(const SerialRecord& stored, int64_t writtenAt, int64_t now) {
    if (!stored.known || stored.serial <= now || stored.serial - now <= kClockAllowanceSeconds) {
        return stored;
    }
    SerialRecord counted;
    counted.known = true;
    if (writtenAt >= 0 && (writtenAt <= now || writtenAt - now <= kClockAllowanceSeconds)) {
        counted.serial = writtenAt;
    }
    return counted;
}

bool SerialToKeep(const ReleaseManifest& manifest,
                  const SerialRecord& stored,
                  const SerialRecord& counted,
                  int64_t now,
                  int64_t& keep) {
    if (!manifest.hasSerial) {
        return false;
    }
    keep = manifest.serial < now ? manifest.serial : now;
    if (counted.known && keep < counted.serial) {
        keep = counted.serial;
    }
    return !stored.known || keep != stored.serial;
}
