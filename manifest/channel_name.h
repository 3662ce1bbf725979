// Release channels: their names, where each channel's manifest is served, and which serial
// record each one keeps. The default channel is the empty name inside the program and
// "stable" in texts, files and on the command line.
#pragma once

#include <string>

extern const char kDefaultChannelName[];  // "stable"
// The installation's records of channels beside the program: the channel it follows, and the
// channel its installed files came from.
extern const char kChannelFileName[];  // "VorlanePatcher.channel"
extern const char kFromFileName[];     // "VorlanePatcher.from"

// 1 to 16 bytes of [a-z0-9-], the first a letter; never "stable" (the default channel has no
// name of its own in a manifest) and never "download" (the folder of the release files).
bool IsChannelName(const std::string& name);

// The channel's name as texts show it: "stable" for the default channel.
std::string ChannelShownName(const std::string& channel);

// The manifest path of `channel` below the built-in path D/F: D/F itself for the default
// channel, D/C/F for channel C ("/vlr/latest.txt" -> "/vlr/beta/latest.txt").
std::u16string ChannelManifestPath(const std::u16string& builtInPath, const std::string& channel);

// The serial record of the channel in the installation folder: "VorlanePatcher.serial" for
// the default channel, "VorlanePatcher.<channel>.serial" for another, so that channels with
// sequences of their own never refuse each other's manifests.
std::string ChannelSerialRecordName(const std::string& channel);

// The text of a channel file (VorlanePatcher.channel, VorlanePatcher.from): one line, the
// line end (LF or CR LF) optional. True with the channel ("" for "stable"); false for any
// other text, which the caller counts as the default channel.
bool ParseChannelFileText(const std::string& text, std::string& channel);
// The file's text for `channel`: its shown name and LF.
std::string FormatChannelFileText(const std::string& channel);
