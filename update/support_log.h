// The support log: one plain-text line per step of every pass, appended to a file beside
// the program, so that support can see what a user's updater did and why.
#pragma once

#include <cstdint>
#include <string>

#include "update/install_decision.h"

// Beside the program: one log per installation, in the folder the updater must be able to
// write to anyway. Past the limit the log becomes the older file and a new one begins.
inline constexpr char kLogFileName[] = "VorlanePatcher.log";
inline constexpr char kOldLogFileName[] = "VorlanePatcher.old.log";
inline constexpr uint64_t kLogLimitBytes = 1048576;

// A moment in UTC, as the platform's clock gives it.
struct UtcTime {
    int32_t year = 0;
    int32_t month = 0;
    int32_t day = 0;
    int32_t hour = 0;
    int32_t minute = 0;
    int32_t second = 0;
    int32_t millisecond = 0;
};

// What one file's transfer did. `resumedFrom` is the byte the transfer began at: 0 for a
// whole file, more when the bytes before it were kept from an earlier transfer.
struct DownloadRecord {
    std::string name;
    uint32_t status = 0;  // 0: the transfer failed before a status arrived
    uint64_t bytes = 0;
    uint32_t elapsedMs = 0;
    uint64_t resumedFrom = 0;
    std::string error;  // empty when the transfer succeeded
};

// "2026-12-09 21:05:03.123Z " + text + CRLF. Control bytes of `text` become '?', so that a
// value taken from a server or a file name can never start a line of its own.
std::string FormatLogLine(const UtcTime& time, const std::string& text);
// ` name=value`, the value in double quotes (inner quotes doubled) when it is empty or
// holds a blank or a quote.
std::string LogField(const std::string& name, const std::string& value);
std::string LogField(const std::string& name, uint64_t value);

// The texts of the pass's steps, one per line.
std::string PassStartText(const std::string& botVersion, bool autoMode, const std::string& folder);
std::string ManifestText(uint32_t status,
                         uint64_t bytes,
                         uint32_t elapsedMs,
                         bool accepted,
                         const std::string& versionOrError);
std::string DecisionText(const std::string& name, InstallReason reason);
std::string DownloadText(const DownloadRecord& record);
std::string VerifyText(const std::string& name, bool matches, const std::string& digest);
std::string MoveText(const std::string& name, const std::string& target, bool moved);
std::string WaitText(uint32_t elapsedMs, bool confirmed, bool autoMode);
std::string BotSeenText(bool running);
std::string TerminationText(int32_t ended);
std::string StagedUpdaterText(bool staged);
std::string PassEndText(int32_t phase, const std::string& status, const std::string& detail);
std::string BotLaunchText(bool started, const std::string& detail);
std::string ExitText(int32_t phase);

// Opens the log beside the program (InstallDir must be set), turning an over-long log into
// the older file first. Called once, before the first pass (a second call closes the first
// log and starts over). Any failure leaves the log off.
void OpenSupportLog();
// Appends one line stamped with the current UTC time. Never fails the caller: a log that
// could not be opened or written is skipped. Safe from both threads; takes no lock.
void WriteLog(const std::string& text);
