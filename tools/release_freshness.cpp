#include "tools/release_freshness.h"

#include <algorithm>
#include <ctime>

#include "manifest/manifest_parser.h"
#include "manifest/utc_time.h"
#include "tools/updater_key.h"
#include "update/release_guard.h"

namespace {

const int64_t kDay = 86400;
const int64_t kMaxExpiryDays = 3650;

// Whole days, rounded: an expiry set to 30 days shows as 30 days just after signing.
std::string DaysText(int64_t seconds) {
    if (seconds < kDay) {
        return "less than a day";
    }
    const int64_t days = (seconds + kDay / 2) / kDay;
    return std::to_string(days) + (days == 1 ? " day" : " days");
}

}  // namespace

std::string InParentheses(const std::string& text) {
    return text.empty() ? "" : " (" + text + ")";
}

std::string SerialAheadText(int64_t serial, int64_t now) {
    return serial > now + kClockAllowanceSeconds ? DaysText(serial - now) + " ahead of this machine's clock" : "";
}

int64_t NowSeconds() {
    return static_cast<int64_t>(std::time(nullptr));
}

std::string FreshnessLines(const ReleaseManifest& m, int64_t now) {
    std::string text = m.hasSerial
                           ? "serial: " + std::to_string(m.serial) + InParentheses(SerialAheadText(m.serial, now)) + "\n"
                           : "serial: none (an updater that has accepted a serial refuses this manifest)\n";
    if (!m.hasExpires) {
        return text + "expires: never\n";
    }
    text += "expires: " + FormatUtcTimestamp(m.expires);
    if (m.expires >= now) {
        text += " (in " + DaysText(m.expires - now) + ")\n";
    } else if (now - m.expires <= kClockAllowanceSeconds) {
        text += " (passed " + DaysText(now - m.expires) + " ago; updaters still take it for up to a day)\n";
    } else {
        text += " (passed " + DaysText(now - m.expires) + " ago; updaters refuse it)\n";
    }
    return text;
}

bool ChooseSerial(const std::string& option,
                  const std::string& aboveOption,
                  int64_t now,
                  int64_t& serial,
                  std::string& error) {
    if (!option.empty() && !aboveOption.empty()) {
        error = "give --serial or --serial-above, not both";
        return false;
    }
    if (!aboveOption.empty()) {
        int64_t above = 0;
        if (!ParseSerialText(aboveOption, above) ||
            !ParseSerialText(std::to_string(std::max(now, above + 1)), serial)) {
            error = "--serial-above " + aboveOption + ": not 1 to " + std::to_string(kSerialMaxDigits) +
                    " decimal digits with room for one more";
            return false;
        }
        return true;
    }
    if (option.empty()) {
        serial = now;
        return true;
    }
    if (!ParseSerialText(option, serial)) {
        error = "--serial " + option + ": not 1 to " + std::to_string(kSerialMaxDigits) + " decimal digits";
        return false;
    }
    if (serial > now + kClockAllowanceSeconds) {
        error = "--serial " + option + " is more than a day ahead of this machine's clock (now " +
                std::to_string(now) +
                "): installations would refuse every later release signed with a lower serial. To "
                "outrun a serial already published by a machine with a fast clock, give --serial-above "
                "that serial";
        return false;
    }
    return true;
}

bool ParseExpiresOption(const std::string& option, int64_t now, int64_t& expires, std::string& error) {
    const std::string days = option.empty() ? "" : option.substr(0, option.size() - 1);
    int64_t count = 0;
    if (!days.empty() && option.back() == 'd' && days.size() <= 4 && ParseSerialText(days, count)) {
        if (count < 1 || count > kMaxExpiryDays) {
            error = "--expires " + option + ": give 1d to " + std::to_string(kMaxExpiryDays) + "d";
            return false;
        }
        expires = now + count * kDay;
        return true;
    }
    if (!ParseUtcTimestamp(option.size() == 10 ? option + "T00:00:00Z" : option, expires)) {
        error = "--expires " + option + ": give days (30d), a date (YYYY-MM-DD, UTC) or YYYY-MM-DDTHH:MM:SSZ";
        return false;
    }
    if (expires <= now) {
        error = "--expires " + option + " has passed already; updaters would refuse the manifest";
        return false;
    }
    return true;
}

std::string WithFreshnessRecords(const std::string& text, int64_t serial, int64_t expires) {
    std::string records = "serial=" + std::to_string(serial) + "\n";
    if (expires > 0) {
        records += "expires=" + FormatUtcTimestamp(expires) + "\n";
    }
    const size_t afterMagic = text.find('\n') + 1;
    return text.substr(0, afterMagic) + records + text.substr(afterMagic);
}

void CheckFollowsCurrentManifest(const std::string& currentBody,
                                 const std::string& where,
                                 const LoadedManifest& next,
                                 int64_t clock,
                                 std::vector<std::string>& notes,
                                 std::vector<std::string>& problems) {
    LoadedManifest current;
    current.body = currentBody;
    std::string error;
    if (!JudgeManifestBody(nullptr, current, error)) {
        notes.push_back(where + ": " + error + "; its serial was not compared");
        return;
    }
    const ReleaseManifest& now = current.manifest;
    const ReleaseManifest& m = next.manifest;
    if (current.body == next.body || !now.hasSerial || (m.hasSerial && m.serial > now.serial)) {
        return;
    }
    const std::string ahead = SerialAheadText(now.serial, clock);
    const std::string refused = where + " has serial " + std::to_string(now.serial) + " (version " + now.version +
                                (ahead.empty() ? "" : ", " + ahead) + ")" +
                                "; installations that took it refuse this manifest's " +
                                (m.hasSerial ? "serial " + std::to_string(m.serial)
                                             : std::string("missing serial"));
    if (now.serial + 1 <= clock + kClockAllowanceSeconds) {
        problems.push_back(refused + ". Sign the unsigned manifest again with --serial " +
                           std::to_string(now.serial + 1) +
                           " or higher (the default, the signing time, is higher unless a clock is wrong)");
        return;
    }
    // sign refuses --serial that far ahead of this clock; --serial-above is the way past it.
    problems.push_back(refused + ". Sign the unsigned manifest again with: vorlane-release sign --key PRIVATE_KEY" +
                       (ListsUpdater(m) ? " --release-dir RELEASE_DIR" : "") + " --serial-above " +
                       std::to_string(now.serial) + " UNSIGNED_MANIFEST");
}
