// The support log's line: a UTC stamp, then the step's name and its fields as name=value.
#include "sys/support_log.h"

#include <cstdio>

std::string FormatLogLine(const UtcTime& time, const std::string& text) {
    char stamp[40];
    std::snprintf(stamp, sizeof(stamp), "%04d-%02d-%02d %02d:%02d:%02d.%03dZ ", static_cast<int>(time.year),
                  static_cast<int>(time.month), static_cast<int>(time.day), static_cast<int>(time.hour),
                  static_cast<int>(time.minute), static_cast<int>(time.second),
                  static_cast<int>(time.millisecond));
    std::string line = stamp;
    line.reserve(line.size() + text.size() + 2);
    for (char c : text) {
        const unsigned char byte = static_cast<unsigned char>(c);
        line.push_back(byte < 0x20 || byte == 0x7f ? '?' : c);
    }
    line += "\r\n";
    return line;
}

std::string LogField(const std::string& name, const std::string& value) {
    const bool quote = value.empty() || value.find_first_of(" \"") != std::string::npos;
    if (!quote) {
        return " " + name + "=" + value;
    }
    std::string field = " " + name + "=\"";
    for (char c : value) {
        field += c;
        if (c == '"') {
            field += '"';
        }
    }
    return field + "\"";
}

std::string LogField(const std::string& name, uint64_t value) {
    return LogField(name, std::to_string(value));
}

bool LogLineFits(uint64_t spent, uint64_t size, LogKind kind) {
    const uint64_t budget = kind == LogKind::Outcome ? kLogLimitBytes : kLogLimitBytes - kLogOutcomeReserveBytes;
    return spent <= budget && size <= budget - spent;
}
