// Paths below the installation folder and the file-in-use probe.
#pragma once

#include <string>

// InstallDir followed by `relative`, every "/" turned into a backslash.
std::string MakeInstallPath(const std::string& relative);
// Creates each folder of `fullPath` below InstallDir, outermost first; results ignored.
void CreateParentDirectories(const std::string& fullPath);
// True only when the file exists and another process holds it against a writer.
bool IsFileLocked(const std::string& path);
