#include "tools/rollout_records.h"

#include "manifest/channel_name.h"
#include "manifest/manifest_parser.h"

namespace {

const char kPerMilleSign[] = "\xE2\x80\xB0";  // "‰" in UTF-8

bool IsDigits(const std::string& s, size_t maxDigits) {
    return !s.empty() && s.size() <= maxDigits && s.find_first_not_of("0123456789") == std::string::npos;
}

bool EndsWith(const std::string& s, const std::string& end) {
    return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}

}  // namespace

bool ParseShareOption(const std::string& option, int& perMille, std::string& error) {
    const std::string usage =
        " (give a percentage from 0 to 100 with at most one decimal, such as 5 or "
        "2.5, or per mille as 25pm)";
    std::string digits = option;
    bool perMilleGiven = false;
    for (const std::string& sign : {std::string(kPerMilleSign), std::string("pm")}) {
        if (EndsWith(digits, sign)) {
            digits.resize(digits.size() - sign.size());
            perMilleGiven = true;
            break;
        }
    }
    if (perMilleGiven) {
        if (!IsDigits(digits, 4) || std::stoi(digits) > kFullShare) {
            error = option + " is not 0 to 1000 per mille" + usage;
            return false;
        }
        perMille = std::stoi(digits);
        return true;
    }
    if (EndsWith(digits, "%")) {
        digits.pop_back();
    }
    const size_t dot = digits.find('.');
    const std::string whole = digits.substr(0, dot);
    const std::string tenths = dot == std::string::npos ? "0" : digits.substr(dot + 1);
    if (!IsDigits(whole, 3) || !IsDigits(tenths, 1)) {
        error = option + " is no share" + usage;
        return false;
    }
    const int value = std::stoi(whole) * 10 + std::stoi(tenths);
    if (value > kFullShare) {
        error = option + " is more than 100 %" + usage;
        return false;
    }
    perMille = value;
    return true;
}

bool CheckChannelName(const std::string& name, std::string& reason) {
    if (name.empty() || name.size() > 16) {
        reason = "a channel name has 1 to 16 characters";
        return false;
    }
    if (name.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789-") != std::string::npos) {
        reason = "a channel name holds only a-z, 0-9 and \"-\"";
        return false;
    }
    if (name[0] < 'a' || name[0] > 'z') {
        reason = "a channel name begins with a letter";
        return false;
    }
    if (name == "download") {
        reason = "\"download\" is the release files' folder, not a channel";
        return false;
    }
    return true;
}

bool ParseChannelOption(const std::string& option, std::string& channel, std::string& error) {
    std::string reason;
    if (!CheckChannelName(option, reason)) {
        error = "--channel " + option + ": " + reason;
        return false;
    }
    channel = option == kDefaultChannel ? "" : option;
    return true;
}

std::string ChannelText(const std::string& channel) {
    return channel.empty() ? kDefaultChannel : channel;
}

std::string RolloutValueProblem(const std::string& key, const std::string& value) {
    // The updater's own rules for the values, so that what the tool lets through the updater takes.
    int32_t perMille = 0;
    if (key == "rollout" && !ParseRolloutText(value, perMille)) {
        return "the rollout share is not 0 to 1000 per mille in digits";
    }
    if (key == "critical" && value != "1") {
        return "a critical record holds only \"1\"";
    }
    std::string reason;
    if (key == "channel") {
        if (!CheckChannelName(value, reason)) {
            return reason;
        }
        if (value == kDefaultChannel) {
            return "the default channel has no channel record";
        }
        if (!IsChannelName(value)) {
            return "not a channel name the updater takes";
        }
    }
    return "";
}

bool ReadRolloutRecords(const std::string& signedText, RolloutRecords& out, std::string& error) {
    out = RolloutRecords();
    bool seen[3] = {false, false, false};
    const char* keys[3] = {"rollout", "critical", "channel"};
    size_t start = signedText.find('\n');
    while (start != std::string::npos && start + 1 < signedText.size()) {
        ++start;
        const size_t lf = signedText.find('\n', start);
        const std::string line = signedText.substr(start, lf == std::string::npos ? lf : lf - start);
        start = lf;
        const size_t eq = line.find('=');
        if (eq == std::string::npos) {
            continue;
        }
        const std::string key = line.substr(0, eq);
        const std::string value = line.substr(eq + 1);
        for (int k = 0; k < 3; ++k) {
            if (key != keys[k]) {
                continue;
            }
            const std::string problem = RolloutValueProblem(key, value);
            if (!problem.empty() || seen[k]) {
                error = "\"" + line + "\": " + (problem.empty() ? "a second " + key + " record" : problem) +
                        "; the updater refuses the manifest";
                return false;
            }
            seen[k] = true;
            if (k == 0) {
                out.hasRollout = true;
                out.rollout = std::stoi(value);
            } else if (k == 1) {
                out.critical = true;
            } else {
                out.channel = value;
            }
        }
    }
    return true;
}

std::string ShareText(int perMille) {
    std::string text = std::to_string(perMille / 10);
    if (perMille % 10 != 0) {
        text.push_back('.');
        text.push_back(static_cast<char>('0' + perMille % 10));
    }
    return text + " %" + (perMille == 0 ? " (halted)" : "");
}

std::string RolloutLines(const RolloutRecords& r) {
    return "channel: " + ChannelText(r.channel) + "\n" + "share: " + ShareText(r.rollout) +
           (r.hasRollout ? "" : " (no rollout record)") + "\n" +
           "critical: " + (r.critical ? "yes (installed everywhere, whatever the share)" : "no") + "\n";
}

std::string FormatRolloutRecords(const RolloutRecords& r) {
    std::string text;
    if (r.hasRollout) {
        text += "rollout=" + std::to_string(r.rollout) + "\n";
    }
    if (r.critical) {
        text += "critical=1\n";
    }
    if (!r.channel.empty()) {
        text += "channel=" + r.channel + "\n";
    }
    return text;
}

std::string WithRecordsAfterMagic(const std::string& text, const std::string& records) {
    const size_t afterMagic = text.find('\n') + 1;
    return text.substr(0, afterMagic) + records + text.substr(afterMagic);
}

std::string WithoutRecords(const std::string& signedText, const std::vector<std::string>& keys) {
    std::string text;
    size_t start = 0;
    for (bool first = true; start < signedText.size(); first = false) {
        size_t lf = signedText.find('\n', start);
        lf = lf == std::string::npos ? signedText.size() : lf + 1;
        const std::string line = signedText.substr(start, lf - start);
        start = lf;
        bool drop = false;
        for (const std::string& key : keys) {
            drop = drop || (!first && line.rfind(key + "=", 0) == 0);
        }
        if (!drop) {
            text += line;
        }
    }
    return text;
}

std::string ChannelManifestPath(const std::string& relative, const std::string& channel) {
    if (channel.empty()) {
        return relative;
    }
    const size_t slash = relative.rfind('/');
    return slash == std::string::npos ? channel + "/" + relative
                                      : relative.substr(0, slash + 1) + channel + relative.substr(slash);
}

std::string ChannelProblem(const std::string& signedText, const std::string& channel) {
    RolloutRecords records;
    std::string error;
    if (!ReadRolloutRecords(signedText, records, error)) {
        return error;
    }
    if (records.channel == channel) {
        return "";
    }
    return "signed for the channel " + ChannelText(records.channel) + ", not " + ChannelText(channel) +
           "; installations on " + ChannelText(channel) + " would refuse it (sign it " +
           (channel.empty() ? std::string("without --channel") : "with --channel " + channel) +
           ", or give --channel " + ChannelText(records.channel) + ")";
}
