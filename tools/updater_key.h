// The key a release's updater trusts, read from the executable's bytes, and the rule
// that keeps installations reachable: the updater a release ships must trust the key
// that signs it (or, in a key rotation, exactly the next key).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "manifest/release_manifest.h"
#include "tools/signing.h"

// The publisher key built into an updater executable. Its X and Y stand in the binary as
// two NUL-terminated texts of 64 lowercase hex digits, one right after the other. Only a
// pair that is a point of P-256 counts, so other hex texts cannot be taken for the key.
// False with a message when the bytes hold no such pair, or two different ones.
bool FindUpdaterKey(const std::string& exeBytes, PublicKeyHex& key, std::string& error);

// Whether the manifest lists the updater itself.
bool ListsUpdater(const ReleaseManifest& manifest);

// Whether two keys are one.
bool SameKey(const PublicKeyHex& a, const PublicKeyHex& b);

// "x=" and the first 16 digits of X: enough to tell keys apart in a message.
std::string ShortKey(const PublicKeyHex& key);

// What a command knows about the key that signs a release.
struct SigningKeyFacts {
    std::function<bool(const PublicKeyHex&)> signs;  // does this key sign the manifest?
    std::string label;  // "x=..." when the signing key is known, else a description
};

// Judges the updater entries of `manifest`, each read from `folder`, against the key that
// signs. `nextKey` (may be null) is the key of a rotation: the updater must then trust
// exactly it. A release without the updater passes (with a note), except in a rotation.
// Notes for the publisher go to `notes`; false with the reasons in `problems`.
bool CheckUpdaterKey(const ReleaseManifest& manifest,
                     const std::string& folder,
                     const SigningKeyFacts& signer,
                     const PublicKeyHex* nextKey,
                     std::vector<std::string>& notes,
                     std::vector<std::string>& problems);

// Every installation has its updater, so an updater entry marked only-if-missing is never
// installed: a key change it carries reaches no installation, and every release signed
// with the new key is then refused by all of them. Adds a problem for each such entry
// whose key matters: always in a key rotation (`rotation`), otherwise when the updater in
// `folder` trusts another key than the one that signs (the key installations trust today).
void CheckOnlyIfMissingUpdater(const ReleaseManifest& manifest,
                               const std::string& folder,
                               const SigningKeyFacts& signer,
                               bool rotation,
                               std::vector<std::string>& problems);

// One line on the updater in `folder` (for check): which key it trusts, and whether that is
// the key that signs.
std::string DescribeUpdaterKey(const std::string& what,
                               const std::string& exePath,
                               const SigningKeyFacts& signer);
