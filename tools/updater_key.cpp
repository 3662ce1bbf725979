#include "tools/updater_key.h"

#include <set>

#include "net/file_digest.h"
#include "tools/atomic_file.h"

namespace {

// The two key texts are separate arrays of 65 bytes; the compiler aligns each (mingw to 32
// bytes), so up to a few dozen zero bytes may stand between them.
constexpr size_t kKeyTextLength = 64;
constexpr size_t kMostPadding = 64;

bool IsLowerHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
}

struct HexText {
    size_t at;
    std::string text;
};

// Every run of exactly 64 lowercase hex digits that ends in a NUL byte.
std::vector<HexText> FindKeyTexts(const std::string& bytes) {
    std::vector<HexText> found;
    size_t i = 0;
    while (i < bytes.size()) {
        if (!IsLowerHex(bytes[i])) {
            ++i;
            continue;
        }
        size_t end = i;
        while (end < bytes.size() && IsLowerHex(bytes[end])) {
            ++end;
        }
        if (end - i == kKeyTextLength && end < bytes.size() && bytes[end] == '\0') {
            found.push_back({i, bytes.substr(i, kKeyTextLength)});
        }
        i = end;
    }
    return found;
}

}  // namespace

bool SameKey(const PublicKeyHex& a, const PublicKeyHex& b) {
    return a.x == b.x && a.y == b.y;
}

bool ListsUpdater(const ReleaseManifest& manifest) {
    for (const ManifestFile& f : manifest.files) {
        if (IsUpdaterEntryName(f.name)) {
            return true;
        }
    }
    return false;
}

bool FindUpdaterKey(const std::string& exeBytes, PublicKeyHex& key, std::string& error) {
    const std::vector<HexText> texts = FindKeyTexts(exeBytes);
    std::set<std::pair<std::string, std::string>> keys;
    for (size_t i = 0; i + 1 < texts.size(); ++i) {
        const HexText& first = texts[i];
        const HexText& second = texts[i + 1];
        if (second.at - (first.at + kKeyTextLength + 1) > kMostPadding) {
            continue;
        }
        // X is declared first, but a linker may place Y first: only the right order is on the curve.
        for (const PublicKeyHex& candidate :
             {PublicKeyHex{first.text, second.text}, PublicKeyHex{second.text, first.text}}) {
            if (IsP256Point(candidate)) {
                keys.insert({candidate.x, candidate.y});
            }
        }
    }
    if (keys.empty()) {
        error =
            "holds no recognisable publisher key (no two adjacent texts of 64 lowercase hex digits "
            "that form a P-256 point); is it a VorlanePatcher.exe built by this project?";
        return false;
    }
    if (keys.size() > 1) {
        error = "holds " + std::to_string(keys.size()) +
                " different publisher keys; which one it trusts cannot be told";
        return false;
    }
    key = PublicKeyHex{keys.begin()->first, keys.begin()->second};
    return true;
}

std::string ShortKey(const PublicKeyHex& key) {
    return "x=" + key.x.substr(0, 16) + "...";
}

namespace {

// The key of the updater at `path`, after checking that it is the file the manifest lists.
bool ReadListedUpdaterKey(const std::string& path,
                          const ManifestFile& entry,
                          PublicKeyHex& key,
                          std::string& error) {
    std::string digest;
    if (!Sha256FileHex(path, digest)) {
        error = path + ": cannot be read";
        return false;
    }
    if (digest != entry.sha256) {
        error = path + ": its SHA-256 is not the manifest's (changed since the manifest was made?)";
        return false;
    }
    std::string bytes;
    if (!ReadWholeFile(path, bytes, error) || !FindUpdaterKey(bytes, key, error)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}

}  // namespace

void CheckOnlyIfMissingUpdater(const ReleaseManifest& manifest,
                               const std::string& folder,
                               const SigningKeyFacts& signer,
                               bool rotation,
                               std::vector<std::string>& problems) {
    for (const ManifestFile& entry : manifest.files) {
        if (!IsUpdaterEntryName(entry.name) || !entry.onlyIfMissing) {
            continue;
        }
        const std::string path = folder + "/" + entry.name;
        std::string bytes;
        std::string error;
        PublicKeyHex trusted;
        std::string what;
        if (rotation) {
            what = "the next key";
        } else if (ReadWholeFile(path, bytes, error) && FindUpdaterKey(bytes, trusted, error) &&
                   !signer.signs(trusted)) {
            what = "the key " + ShortKey(trusted);
        } else {
            continue;  // the key the installations trust now: nothing to carry over
        }
        problems.push_back(path + ": marked only-if-missing, but every installation has its " +
                           kUpdaterFileName + ", so none would ever take this one and learn " + what +
                           "; all of them would refuse every release signed with it. Do not mark the updater "
                           "only-if-missing");
    }
}

bool CheckUpdaterKey(const ReleaseManifest& manifest,
                     const std::string& folder,
                     const SigningKeyFacts& signer,
                     const PublicKeyHex* nextKey,
                     std::vector<std::string>& notes,
                     std::vector<std::string>& problems) {
    const size_t before = problems.size();
    if (nextKey && signer.signs(*nextKey)) {
        problems.push_back(
            "this release is signed with the next key " + ShortKey(*nextKey) +
            ": the installed updaters trust only the current key and would refuse it. A rotation signs "
            "with the current key and ships an updater built with the next key");
        return false;
    }
    CheckOnlyIfMissingUpdater(manifest, folder, signer, nextKey != nullptr, problems);
    std::set<std::string> seen;
    for (const ManifestFile& entry : manifest.files) {
        if (!IsUpdaterEntryName(entry.name) || !seen.insert(entry.name).second) {
            continue;
        }
        const std::string path = folder + "/" + entry.name;
        PublicKeyHex trusted;
        std::string error;
        if (!ReadListedUpdaterKey(path, entry, trusted, error)) {
            problems.push_back(error);
        } else if (nextKey) {
            if (SameKey(trusted, *nextKey)) {
                notes.push_back("key rotation: " + entry.name + " trusts the next key " + ShortKey(trusted) +
                                "; this release is signed with " + signer.label +
                                ". Sign every later release with the next key.");
            } else {
                problems.push_back(path + " trusts the key " + ShortKey(trusted) + ", not the next key " +
                                   ShortKey(*nextKey) + " given with --next-key");
            }
        } else if (signer.signs(trusted)) {
            notes.push_back(entry.name + " trusts the key " + ShortKey(trusted) +
                            ", which signs this release");
        } else {
            problems.push_back(
                path + " trusts the key " + ShortKey(trusted) + ", but this release is signed with " +
                signer.label +
                ": installations that take it could never verify a later manifest. For a key rotation, "
                "give the key that updater was built with as --next-key");
        }
    }
    if (seen.empty()) {
        if (nextKey) {
            problems.push_back("--next-key: the release holds no " + std::string(kUpdaterFileName) +
                               ", so no updater would learn the next key");
        } else {
            notes.push_back("the release holds no " + std::string(kUpdaterFileName) +
                            ": installations keep their updater and the key it trusts");
        }
    }
    return problems.size() == before;
}

std::string DescribeUpdaterKey(const std::string& what,
                               const std::string& exePath,
                               const SigningKeyFacts& signer) {
    std::string bytes;
    std::string error;
    PublicKeyHex trusted;
    if (!ReadWholeFile(exePath, bytes, error)) {
        return what + ": none (" + exePath + " cannot be read)";
    }
    if (!FindUpdaterKey(bytes, trusted, error)) {
        return what + ": " + exePath + " " + error;
    }
    return what + ": trusts the key " + ShortKey(trusted) +
           (signer.signs(trusted) ? ", which signs this manifest" : ", not the key that signs this manifest");
}
