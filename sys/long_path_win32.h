// The one place where the program's 8-bit paths become the wide paths of the file calls.
#pragma once

#include <string>

// `path` for the wide calls: converted from the ANSI code page as the 8-bit calls convert
// it, made absolute, and given the "\\?\" prefix ("\\?\UNC\" for a share). Under it Windows
// takes paths of any length (up to 32767 units) on every version, whatever the long-path
// policy. A path already in that form is only converted.
std::wstring LongPathW(const std::string& path);
// The same absolute wide path without the prefix, for calls that do not take it (a command
// line, the shell).
std::wstring FullPathW(const std::string& path);
// The 8.3 form of an existing file or folder, absolute and without the prefix; "" when the
// system gives none. Where the volume keeps no short names it is the long path again.
std::wstring ShortPathW(const std::string& path);
// The long form of an existing file or folder (each 8.3 name in it expanded), absolute and
// without the prefix; "" when the system gives none.
std::wstring LongFormW(const std::string& path);
// A wide path as 8-bit text in the ANSI code page, as the 8-bit calls would return it.
std::string NarrowPath(const std::wstring& path);
// The same, but "" when a character of it has no form in the ANSI code page: such a text
// would name another path, or none.
std::string NarrowPathExactly(const std::wstring& path);
// `path` in the one form in which it is named and compared (OnePathForm of its absolute and
// long forms), whichever form it came in.
std::string OneFormOfPath(const std::string& path);
