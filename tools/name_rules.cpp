#include "tools/name_rules.h"

#include <algorithm>
#include <cstdio>
#include <map>

#include "manifest/channel_name.h"
#include "sys/support_log.h"
#include "update/installation_id.h"
#include "update/kept_partial.h"
#include "update/release_guard.h"

namespace {

bool IsPrintableAscii(unsigned char c) {
    return c >= 0x20 && c <= 0x7E;
}

std::string FoldAscii(std::string s) {
    for (char& c : s) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return s;
}

// Windows opens these as devices whatever the folder and whatever follows the first dot.
bool IsReservedDeviceName(const std::string& segment) {
    std::string base = segment.substr(0, segment.find('.'));
    while (!base.empty() && base.back() == ' ') {
        base.pop_back();
    }
    base = FoldAscii(base);
    static const char* const kFixed[] = {"con", "prn", "aux", "nul", "conin$", "conout$"};
    for (const char* fixed : kFixed) {
        if (base == fixed) {
            return true;
        }
    }
    return base.size() == 4 && (base.compare(0, 3, "com") == 0 || base.compare(0, 3, "lpt") == 0) &&
           base[3] >= '1' && base[3] <= '9';
}

bool CheckSegment(const std::string& segment, std::string& reason) {
    if (segment.empty()) {
        reason = "has an empty folder level (\"//\" or a trailing \"/\")";
        return false;
    }
    const char last = segment.back();
    if (last == '.' || last == ' ') {
        reason = "the part " + QuoteName(segment) + " ends in " + (last == '.' ? "a dot" : "a blank") +
                 ", which Windows strips";
        return false;
    }
    if (IsReservedDeviceName(segment)) {
        reason = "the part " + QuoteName(segment) + " is a reserved Windows device name";
        return false;
    }
    return true;
}

}  // namespace

std::string QuoteName(const std::string& name) {
    std::string out = "\"";
    for (unsigned char c : name) {
        if (IsPrintableAscii(c)) {
            out.push_back(static_cast<char>(c));
        } else {
            char hex[8];
            std::snprintf(hex, sizeof(hex), "\\x%02X", c);
            out += hex;
        }
    }
    return out + "\"";
}

bool CheckReleaseName(const std::string& name, std::string& reason) {
    if (name.empty()) {
        reason = "the name is empty";
        return false;
    }
    for (unsigned char c : name) {
        if (!IsPrintableAscii(c)) {
            char hex[8];
            std::snprintf(hex, sizeof(hex), "0x%02X", c);
            reason = std::string("holds the byte ") + hex +
                     " outside printable ASCII (the updater reads names in the ANSI code page)";
            return false;
        }
    }
    // The updater's parser drops records with these; "|" also splits the record itself.
    if (name.find('|') != std::string::npos) {
        reason = "holds \"|\", the field separator of file records";
        return false;
    }
    if (name.find(':') != std::string::npos) {
        reason = "holds \":\", which the updater drops";
        return false;
    }
    if (name.find("..") != std::string::npos) {
        reason = "holds \"..\", which the updater drops";
        return false;
    }
    if (name[0] == '/') {
        reason = "begins with \"/\", which the updater drops";
        return false;
    }
    // The updater turns "/" into "\", so a backslash would silently become a folder level.
    if (name[0] == '\\') {
        reason = "begins with a backslash, which would make it a path from the drive's root";
        return false;
    }
    if (name.find('\\') != std::string::npos) {
        reason = "holds a backslash, which the updater takes as a folder separator";
        return false;
    }
    const size_t bad = name.find_first_of("<>\"?*");
    if (bad != std::string::npos) {
        reason = std::string("holds \"") + name[bad] + "\", which Windows does not allow in file names";
        return false;
    }
    const std::string folded = FoldAscii(name);
    // The updater keeps its serial record (and the temporary copy it renames) under this
    // name: a release file there would overwrite what guards the installation.
    const std::string record = FoldAscii(kSerialRecordName);
    if (folded == record || folded.rfind(record + ".", 0) == 0) {
        reason = "is where the updater records the serial of the manifest it accepted";
        return false;
    }
    // The installation's own choices and draw: its followed channel, the channel its files
    // came from, its random identifier and each channel's serial record. A release file there
    // would move every installation to one channel, one rollout bucket or one serial.
    const std::string prefix = FoldAscii("VorlanePatcher.");
    const bool channelSerial = folded.rfind(prefix, 0) == 0 && folded.size() > prefix.size() + 7 &&
                               folded.compare(folded.size() - 7, 7, ".serial") == 0;
    if (folded == FoldAscii(kChannelFileName) || folded == FoldAscii(kFromFileName) ||
        folded == FoldAscii(kInstallationIdName) || channelSerial) {
        reason =
            "is where the updater keeps a record of the installation's own (channel, identifier or serial)";
        return false;
    }
    // An interrupted download's record of the bytes it kept: release content there would be
    // read as such a record, and rewritten by the next interrupted download.
    if (folded == FoldAscii(kPartialRecordName)) {
        reason = "is where the updater records an interrupted download it may continue";
        return false;
    }
    // Every installation appends its own support log beside the updater: a release file of that
    // name would overwrite it, and would differ again after the next pass, so never be current.
    if (folded == FoldAscii(kLogFileName) || folded == FoldAscii(kOldLogFileName)) {
        reason =
            "is the name of the updater's own log, which each installation writes for itself; "
            "leave it out of the release folder";
        return false;
    }
    // The server keeps a version's deltas in its .delta folder, beside the files.
    if (folded == ".delta" || folded.rfind(".delta/", 0) == 0) {
        reason = "is under .delta/, where the server keeps the release's deltas";
        return false;
    }
    size_t start = 0;
    while (true) {
        const size_t slash = name.find('/', start);
        const std::string segment =
            name.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        if (!CheckSegment(segment, reason)) {
            return false;
        }
        if (slash == std::string::npos) {
            return true;
        }
        start = slash + 1;
    }
}

bool CheckVersionText(const std::string& version, std::string& reason) {
    if (version.empty()) {
        reason = "the version is empty";
        return false;
    }
    // RFC 3986 path characters without "%" (the updater does not encode the version, and
    // the server would decode it) and without "/" (the version is one folder on the server).
    static const char kAllowed[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~!$&'()*+,;=:@";
    for (unsigned char c : version) {
        if (c == 0 || std::string(kAllowed).find(static_cast<char>(c)) == std::string::npos) {
            reason = "the version " + QuoteName(version) + " holds " +
                     QuoteName(std::string(1, static_cast<char>(c))) +
                     ", which may not stand unencoded in a URL path";
            return false;
        }
    }
    if (version == "." || version == "..") {
        reason = "the version " + QuoteName(version) + " would name a relative folder on the server";
        return false;
    }
    return true;
}

bool CheckDateText(const std::string& date, std::string& reason) {
    for (unsigned char c : date) {
        if (c < 0x20 || c == 0x7F) {
            reason = "the date holds a control byte; it must fit on one record line";
            return false;
        }
    }
    return true;
}

std::vector<std::string> FindCaseClashes(const std::vector<std::string>& names) {
    std::vector<std::string> clashes;
    std::map<std::string, std::string> files;    // folded name -> first name seen
    std::map<std::string, std::string> folders;  // folded folder -> a file inside it
    for (const std::string& name : names) {
        const std::string folded = FoldAscii(name);
        auto [it, added] = files.emplace(folded, name);
        if (!added && it->second != name) {
            clashes.push_back(QuoteName(it->second) + " and " + QuoteName(name) +
                              " differ only in letter case; Windows keeps one file for both");
        }
        for (size_t slash = folded.find('/'); slash != std::string::npos;
             slash = folded.find('/', slash + 1)) {
            folders.emplace(folded.substr(0, slash), name);
        }
    }
    for (const auto& [folded, name] : files) {
        auto folder = folders.find(folded);
        if (folder != folders.end()) {
            clashes.push_back(QuoteName(name) + " is a file, but " + QuoteName(folder->second) +
                              " needs a folder of that name");
        }
    }
    return clashes;
}
