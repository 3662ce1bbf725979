#include "manifest/channel_name.h"

const char kDefaultChannelName[] = "stable";
const char kChannelFileName[] = "VorlanePatcher.channel";
const char kFromFileName[] = "VorlanePatcher.from";

namespace {
const size_t kChannelNameMax = 16;
}  // namespace

bool IsChannelName(const std::string& name) {
    if (name.empty() || name.size() > kChannelNameMax || name[0] < 'a' || name[0] > 'z') {
        return false;
    }
    if (name.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789-") != std::string::npos) {
        return false;
    }
    return name != kDefaultChannelName && name != "download";
}

std::string ChannelShownName(const std::string& channel) {
    return channel.empty() ? std::string(kDefaultChannelName) : channel;
}

std::u16string ChannelManifestPath(const std::u16string& builtInPath, const std::string& channel) {
    if (channel.empty()) {
        return builtInPath;
    }
    const size_t cut = builtInPath.rfind(u'/');
    const size_t at = cut == std::u16string::npos ? 0 : cut + 1;
    std::u16string path = builtInPath.substr(0, at);
    if (at == 0) {
        path = u"/";
    }
    for (const char c : channel) {
        path.push_back(static_cast<char16_t>(c));
    }
    path.push_back(u'/');
    return path + builtInPath.substr(at);
}

std::string ChannelSerialRecordName(const std::string& channel) {
    return channel.empty() ? std::string("VorlanePatcher.serial") : "VorlanePatcher." + channel + ".serial";
}

bool ParseChannelFileText(const std::string& text, std::string& channel) {
    std::string line = text;
    if (!line.empty() && line.back() == '\n') {
        line.pop_back();
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
    }
    if (line == kDefaultChannelName) {
        channel.clear();
        return true;
    }
    if (!IsChannelName(line)) {
        return false;
    }
    channel = line;
    return true;
}

std::string FormatChannelFileText(const std::string& channel) {
    return ChannelShownName(channel) + "\n";
}
