// The installation's identifier and channel files, read and written in InstallDir.
#include "update/install_records.h"

#include <fstream>

#include "manifest/channel_name.h"
#include "sys/file_ops.h"
#include "sys/file_replace.h"
#include "sys/install_paths.h"
#include "sys/support_log.h"
#include "sys/system_random.h"
#include "update/installation_id.h"
#include "update/pass_log_texts.h"

namespace {

// Anything longer is no record this program or the bot wrote.
const std::streamsize kRecordReadLimit = 64;

bool ReadSmallFile(const std::string& name, std::string& text) {
    std::ifstream in;
    if (!OpenReadStream(in, MakeInstallPath(name))) {
        return false;
    }
    text.assign(static_cast<size_t>(kRecordReadLimit), '\0');
    in.read(text.data(), kRecordReadLimit);
    text.resize(static_cast<size_t>(in.gcount()));
    return true;
}

bool WriteSmallFile(const std::string& name, const std::string& text) {
    const bool written = ReplaceFileDurably(MakeInstallPath(name), text) == FileStep::Done;
    WriteLog(InstallRecordText(name, text.substr(0, text.size() - 1), written),
             written ? LogKind::Routine : LogKind::Outcome);
    return written;
}

bool RemoveSmallFile(const std::string& name) {
    const std::string path = MakeInstallPath(name);
    DeleteFileQuietly(path);
    const bool gone = !PathExists(path);
    WriteLog(InstallRecordText(name, "", gone), gone ? LogKind::Routine : LogKind::Outcome);
    return gone;
}

// A channel file's channel; "" when absent or malformed (`malformed` then tells which).
std::string ReadChannelFile(const std::string& name, bool& malformed) {
    malformed = false;
    std::string text;
    std::string channel;
    if (!ReadSmallFile(name, text)) {
        return std::string();
    }
    if (!ParseChannelFileText(text, channel)) {
        malformed = true;
        return std::string();
    }
    return channel;
}

}  // namespace

bool LoadOrDrawInstallationId(std::string& id) {
    std::string text;
    if (ReadSmallFile(kInstallationIdName, text) && ParseInstallationIdFile(text, id)) {
        return true;
    }
    uint8_t bytes[kInstallationIdBytes];
    if (!DrawSystemRandom(bytes, sizeof(bytes))) {
        WriteLog(InstallRecordText(kInstallationIdName, "brak losowania", false), LogKind::Outcome);
        return false;
    }
    id = InstallationIdFromBytes(bytes);
    WriteSmallFile(kInstallationIdName, id + "\n");
    return true;
}

std::string ReadFollowedChannel() {
    bool malformed = false;
    const std::string channel = ReadChannelFile(kChannelFileName, malformed);
    if (malformed) {
        WriteLog(
            "kanal" + LogField("plik", kChannelFileName) + LogField("blad", "nieprawidlowy, sledze stable"),
            LogKind::Outcome);
    }
    return channel;
}

std::string ReadInstalledFrom() {
    bool malformed = false;
    return ReadChannelFile(kFromFileName, malformed);
}

void KeepInstalledFrom(const std::string& channel) {
    // The default channel is the file's absence, so an installation that never left it keeps
    // no such file.
    std::string text;
    const bool present = ReadSmallFile(kFromFileName, text);
    if (channel.empty()) {
        if (present) {
            RemoveSmallFile(kFromFileName);
        }
        return;
    }
    if (!present || text != FormatChannelFileText(channel)) {
        WriteSmallFile(kFromFileName, FormatChannelFileText(channel));
    }
}

bool FollowChannel(const std::string& name) {
    if (name == kDefaultChannelName) {
        return RemoveSmallFile(kChannelFileName);
    }
    if (!IsChannelName(name)) {
        WriteLog("kanal" + LogField("nazwa", name) + LogField("blad", "nieprawidlowa nazwa kanalu"),
                 LogKind::Outcome);
        return false;
    }
    return WriteSmallFile(kChannelFileName, FormatChannelFileText(name));
}
