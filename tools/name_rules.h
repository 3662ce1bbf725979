// What the tool refuses to write into a manifest because the updater would drop,
// mangle or fail on it. Each check returns false with the reason in `reason`.
#pragma once

#include <string>
#include <vector>

// A file name as the manifest writes it: "/" between folders, every segment a name
// Windows can create and the updater keeps.
bool CheckReleaseName(const std::string& name, std::string& reason);

// The version goes verbatim into download paths: it must be a non-empty URL path segment.
bool CheckVersionText(const std::string& version, std::string& reason);

// The date is free text on one record line.
bool CheckDateText(const std::string& date, std::string& reason);

// Names that Windows would take for one file (they differ only in letter case), or a
// file whose name is also used as a folder. Empty when there is no clash.
std::vector<std::string> FindCaseClashes(const std::vector<std::string>& names);

// A name for messages: bytes outside printable ASCII as \xNN, in double quotes.
std::string QuoteName(const std::string& name);
