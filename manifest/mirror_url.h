// A mirror of the release files, named by a "mirror" record of the signed manifest: an HTTPS
// base URL under which download/<version>/<name> is found.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// A manifest names at most this many mirrors; later records are skipped.
inline constexpr size_t kMirrorsMost = 8;

struct MirrorBase {
    std::string url;   // as the updater names the mirror: https://HOST[:PORT]PATH
    std::string host;  // a DNS name, as the configured update hosts are
    uint16_t port = 443;
    std::string path;  // "" or "/SEG[/SEG...]", without a trailing "/"
};

// Reads "https://HOST[:PORT][/PATH]": HOST by the configured hosts' rule (lowercase letters,
// digits, "-" and ".", at least two labels, at most 64 characters), PORT 1 to 65535 without
// leading zeros, PATH segments of letters, digits and "-._~" (none ".", ".." or empty) up
// to 200 characters; a trailing "/" is dropped. No user name, query or fragment. False for
// anything else, leaving `mirror` as it was.
bool ParseMirrorUrl(const std::string& text, MirrorBase& mirror);
