// Paths below the installation folder and the file-in-use probe.
#pragma once

#include <string>
#include <vector>

// The installation folder: written once before the first pass starts, read-only afterwards.
// Ends with a separator.
extern std::string InstallDir;

// InstallDir followed by `relative`, every "/" turned into a backslash.
std::string MakeInstallPath(const std::string& relative);
// Creates each folder of `fullPath` below InstallDir, outermost first; results ignored.
void CreateParentDirectories(const std::string& fullPath);
// True only when the file exists and another process holds it against a writer.
bool IsFileLocked(const std::string& path);

// The folders CreateParentDirectories makes, outermost first: the prefix before each
// backslash that stands after InstallDir's length. Never InstallDir itself, never the file.
std::vector<std::string> ParentDirectoriesBelowInstallDir(const std::string& fullPath);
// The path without a leading "\\?\" ("\\?\UNC\" becomes "\\"), as a process's image name
// may carry it when the process was started under that form.
std::string WithoutLongPathPrefix(const std::string& path);
// The one form in which a path names its file or folder, whichever form it came in (an 8.3
// form, a relative or "\\?\" one): `longForm` (the system's long form of the absolute path)
// where the system gave one, else `absoluteForm`, else `given`; without the "\\?\" prefix.
// An 8.3 form and its long form then name the same lock and compare equal; a form the system
// could not give ("") never replaces one it could.
std::string OnePathForm(const std::string& given, const std::string& absoluteForm,
                        const std::string& longForm);
// An ASCII capital as its small letter; every other byte as it is.
inline char FoldAsciiCase(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}
// Equal texts when ASCII letters are folded; every other byte must match.
bool EqualIgnoringAsciiCase(const std::string& a, const std::string& b);
