// The rollout, critical and channel records as the publisher's tool writes, reads, shows
// and checks them, and where a channel's manifest lies.
#pragma once

#include <string>
#include <vector>

// The share is kept in per mille: "rollout=N", N from 0 (halted) to 1000 (everyone).
inline constexpr int kFullShare = 1000;
// The default channel's name in commands and texts; it is never written as a record.
inline constexpr char kDefaultChannel[] = "stable";

struct RolloutRecords {
    bool hasRollout = false;
    int rollout = kFullShare;  // per mille; kFullShare without a record
    bool critical = false;
    std::string channel;  // "" for the default channel
};

// A share as sign --rollout and rollout --to take it: a percentage from 0 to 100 with at
// most one decimal ("5", "2.5"), or per mille as "NNN‰" or "NNNpm". False with the reason.
bool ParseShareOption(const std::string& option, int& perMille, std::string& error);

// A channel name: 1 to 16 of a-z, 0-9 and "-", beginning with a letter, and not "download"
// (the release files' folder). "stable", the default channel, is a valid name here.
bool CheckChannelName(const std::string& name, std::string& reason);
// The value of --channel: "" and "stable" give "" (the default channel). False with the reason.
bool ParseChannelOption(const std::string& option, std::string& channel, std::string& error);
// The channel's name in texts: "stable" for "".
std::string ChannelText(const std::string& channel);

// The problem with one record's value ("" when it is sound), as the updater refuses it:
// a malformed guard record makes it refuse the whole manifest.
std::string RolloutValueProblem(const std::string& key, const std::string& value);

// The three records of a manifest's signed text. False with the reason when one is
// malformed (the updater refuses the manifest) or given twice.
bool ReadRolloutRecords(const std::string& signedText, RolloutRecords& out, std::string& error);

// "25 %", "2.5 %", "0 % (halted)".
std::string ShareText(int perMille);
// "channel: ...", "share: ..." and "critical: ..." lines.
std::string RolloutLines(const RolloutRecords& records);

// The records' lines as sign writes them ("" for each default).
std::string FormatRolloutRecords(const RolloutRecords& records);
// `text` with `records` written right after the magic line.
std::string WithRecordsAfterMagic(const std::string& text, const std::string& records);
// `signedText` without its lines whose key is one of `keys`.
std::string WithoutRecords(const std::string& signedText, const std::vector<std::string>& keys);

// Where channel `channel`'s manifest lies for the default channel's `relative` D/F: D/C/F
// (C/F when F stands alone). The default channel ("") keeps `relative`.
std::string ChannelManifestPath(const std::string& relative, const std::string& channel);

// Why the manifest `signedText` may not be published for `channel` ("" for the default
// one): signed for another channel, or with a malformed record. "" when it may.
std::string ChannelProblem(const std::string& signedText, const std::string& channel);
