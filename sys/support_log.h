// The support log's writer: one plain-text line per step of every pass, appended to a file
// beside the program, so that support can see what a user's updater did and why. Every floor
// may write to it; the texts of the steps live with the code that takes them.
#pragma once

#include <cstdint>
#include <string>

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

// "2026-12-09 21:05:03.123Z " + text + CRLF. Control bytes of `text` become '?', so that a
// value taken from a server or a file name can never start a line of its own.
std::string FormatLogLine(const UtcTime& time, const std::string& text);
// ` name=value`, the value in double quotes (inner quotes doubled) when it is empty or
// holds a blank or a quote.
std::string LogField(const std::string& name, const std::string& value);
std::string LogField(const std::string& name, uint64_t value);

// What a line is to the run's budget of kLogLimitBytes. Routine lines (a file's decision, a
// transfer or a check that went well, ...) may spend all of it but kLogOutcomeReserveBytes;
// outcome lines (a failure, the pass's end, the bot's start, the program's exit) may spend
// all of it, so that a run whose per-file lines filled the log still shows how it ended.
enum class LogKind { Routine, Outcome };
inline constexpr uint64_t kLogOutcomeReserveBytes = 65536;
// Whether a line of `size` bytes of `kind` is written when this run has written `spent`.
bool LogLineFits(uint64_t spent, uint64_t size, LogKind kind);

// Opens the log beside the program (InstallDir must be set), turning an over-long log into
// the older file first. Called once, before the first pass (a second call closes the first
// log and starts over). Any failure leaves the log off.
void OpenSupportLog();
// Appends one line stamped with the current UTC time, if it fits the run's budget. Never
// fails the caller: a log that could not be opened or written is skipped. Safe from both
// threads; takes no lock.
void WriteLog(const std::string& text, LogKind kind = LogKind::Routine);
