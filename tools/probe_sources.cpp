#include "tools/probe_sources.h"

#include <openssl/evp.h>

#include <cctype>
#include <cstdlib>
#include <memory>
#include <ostream>
#include <sstream>

#include "manifest/manifest_fetch.h"
#include "net/file_digest.h"
#include "net/file_download.h"
#include "net/server_address.h"
#include "tools/release_freshness.h"
#include "tools/rollout_records.h"
#include "update/release_guard.h"

namespace {

const long kManifestTimeoutMs = 12000;
const long kFileTimeoutMs = 60000;

std::string Lower(std::string s) {
    for (char& c : s) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return s;
}

struct DigestFree {
    void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};

// GET `path` from `origin` and check it against `f`: "" when it is as the manifest says.
std::string CheckOneFile(const HttpsOrigin& origin, const std::string& path, const ManifestFile& f) {
    std::unique_ptr<EVP_MD_CTX, DigestFree> ctx(EVP_MD_CTX_new());
    if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) != 1) {
        return "OpenSSL cannot hash";
    }
    const uint64_t declared = static_cast<uint64_t>(f.size);
    uint64_t received = 0;
    const ChunkSink sink = [&](const uint8_t* data, uint32_t count) {
        received += count;
        return EVP_DigestUpdate(ctx.get(), data, count) == 1 && received <= declared;
    };
    const HttpsAnswer answer = HttpsGet(origin, path, sink, kFileTimeoutMs);
    if (answer.status == 0) {
        return "no answer for " + path + ": " + answer.error;
    }
    if (answer.status != 200) {
        return "HTTP " + std::to_string(answer.status) + " for " + path;
    }
    if (received != declared) {
        return std::to_string(received) + (received > declared ? "+" : "") + " bytes from " + path +
               ", the manifest says " + std::to_string(declared);
    }
    uint8_t digest[32];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(ctx.get(), digest, &length) != 1 || length != 32) {
        return "OpenSSL cannot hash";
    }
    return HexLower(digest) == f.sha256
               ? ""
               : "other content from " + path + ": its SHA-256 is not the manifest's";
}

// The manifest of `origin` as the updater takes it; false with the reason in `problem`.
bool FetchManifest(const HttpsOrigin& origin,
                   const std::string& path,
                   const std::string& channel,
                   const PublicKeyHex& key,
                   LoadedManifest& loaded,
                   std::string& cacheControl,
                   std::string& problem) {
    const ChunkSink sink = [&loaded](const uint8_t* data, uint32_t count) {
        loaded.body.append(reinterpret_cast<const char*>(data), count);
        return loaded.body.size() <= kManifestBodyLimit;
    };
    const HttpsAnswer answer = HttpsGet(origin, path, sink, kManifestTimeoutMs);
    cacheControl = answer.cacheControl;
    std::string error;
    if (answer.status == 0) {
        problem = "no answer: " + answer.error;
    } else if (answer.status != 200) {
        problem = "HTTP " + std::to_string(answer.status) + " for " + path;
    } else if (loaded.body.size() > kManifestBodyLimit) {
        problem = "longer than " + std::to_string(kManifestBodyLimit) + " bytes";
    } else if (!JudgeManifestBody(&key, loaded, error) ||
               !JudgeManifestFreshness(loaded.manifest, SerialRecord(), NowSeconds(), error)) {
        problem = "the updater reports \"" + error + "\"";
    } else if (const std::string other = ChannelProblem(loaded.split.signedText, channel); !other.empty()) {
        problem = other;
    } else {
        return true;
    }
    return false;
}

}  // namespace

std::string ManifestCacheWarning(const std::string& cacheControl) {
    int64_t maxAge = -1;
    int64_t sMaxAge = -1;
    std::istringstream parts(cacheControl);
    std::string part;
    while (std::getline(parts, part, ',')) {
        const size_t first = part.find_first_not_of(" \t");
        if (first == std::string::npos) {
            continue;
        }
        part = Lower(part.substr(first, part.find_last_not_of(" \t") - first + 1));
        if (part == "no-cache" || part == "no-store" || part == "private") {
            return "";
        }
        const size_t eq = part.find('=');
        const std::string name = part.substr(0, eq);
        if (eq == std::string::npos || (name != "max-age" && name != "s-maxage")) {
            continue;
        }
        std::string value = part.substr(eq + 1);
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
            value = value.substr(1, value.size() - 2);
        }
        if (value.empty() || value.size() > 12 ||
            value.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        (name == "max-age" ? maxAge : sMaxAge) = std::atoll(value.c_str());
    }
    const int64_t lifetime = sMaxAge >= 0 ? sMaxAge : maxAge;
    if (lifetime < 0) {
        return "the manifest is served with no cache lifetime (Cache-Control: " +
               (cacheControl.empty() ? std::string("none") : cacheControl) +
               "); a CDN then keeps it for its own default, often hours: serve it with "
               "\"Cache-Control: no-cache\" or a max-age of at most " +
               std::to_string(kManifestCacheMostSeconds);
    }
    if (lifetime > kManifestCacheMostSeconds) {
        return "the manifest may be cached for " + std::to_string(lifetime) +
               " s (Cache-Control: " + cacheControl + "), more than " +
               std::to_string(kManifestCacheMostSeconds) +
               ": an edge keeps serving the old release that long after a publish";
    }
    return "";
}

std::vector<std::string> MirrorRecords(const std::string& signedText) {
    std::vector<std::string> mirrors;
    std::istringstream lines(signedText);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind("mirror=", 0) == 0) {
            mirrors.push_back(line.substr(7));
        }
    }
    return mirrors;
}

bool SplitMirrorUrl(const std::string& url, std::string& origin, std::string& prefix, std::string& error) {
    const std::string scheme = "https://";
    const size_t slash = url.find('/', scheme.size());
    const std::string authority =
        url.substr(scheme.size(), slash == std::string::npos ? std::string::npos : slash - scheme.size());
    if (url.rfind(scheme, 0) != 0 || authority.empty() || url.find_first_of("?#@ ") != std::string::npos) {
        error = "not an https://HOST[:PORT][/PATH] base URL";
        return false;
    }
    origin = scheme + authority;
    prefix = slash == std::string::npos ? "" : url.substr(slash);
    while (!prefix.empty() && prefix.back() == '/') {
        prefix.pop_back();
    }
    return true;
}

std::string SerialDisagreement(const std::vector<HostManifest>& hosts) {
    std::string listed;
    bool differ = false;
    const HostManifest* seen = nullptr;
    for (const HostManifest& h : hosts) {
        if (!h.accepted) {
            continue;
        }
        if (seen && (seen->hasSerial != h.hasSerial || seen->serial != h.serial)) {
            differ = true;
        }
        seen = &h;
        listed += (listed.empty() ? "" : ", ") + h.url + " serial " +
                  (h.hasSerial ? std::to_string(h.serial) : std::string("none")) + " (version " + h.version +
                  ")";
    }
    if (!differ) {
        return "";
    }
    return "the hosts disagree on the serial: " + listed +
           "; an installation that asks a host with the older one first stays on its release (a stale edge, "
           "or a "
           "host the publish left out)";
}

size_t ProbeOtherSources(CommandIo& io,
                         const HttpsOrigin& like,
                         const std::string& manifestPath,
                         const std::string& channel,
                         const PublicKeyHex& key,
                         const HostManifest& first,
                         const LoadedManifest* firstLoaded,
                         const std::vector<std::string>& otherUrls) {
    size_t failed = 0;
    std::vector<HostManifest> hosts = {first};
    std::vector<LoadedManifest> loadedAll(otherUrls.size());
    const LoadedManifest* newest = firstLoaded;
    for (size_t i = 0; i < otherUrls.size(); ++i) {
        HttpsOrigin origin = like;
        origin.url = otherUrls[i];
        HostManifest host;
        host.url = otherUrls[i];
        std::string cacheControl;
        std::string problem;
        LoadedManifest& loaded = loadedAll[i];
        if (!FetchManifest(origin, manifestPath, channel, key, loaded, cacheControl, problem)) {
            ++failed;
            io.out << "FAILED  host " << host.url << ": manifest " << problem
                   << "; the updater skips this host for the next\n";
            hosts.push_back(host);
            continue;
        }
        const ReleaseManifest& m = loaded.manifest;
        host.accepted = true;
        host.version = m.version;
        host.hasSerial = m.hasSerial;
        host.serial = m.serial;
        hosts.push_back(host);
        const ManifestFile& f = m.files.front();
        const std::string fileProblem = CheckOneFile(origin, MakeDownloadPath(m.version, f.name), f);
        if (fileProblem.empty()) {
            io.out << "ok      host " << host.url << ": version " << m.version << ", serial "
                   << (m.hasSerial ? std::to_string(m.serial) : std::string("none")) << ", signature good; "
                   << f.name << " as the manifest says\n";
        } else {
            ++failed;
            io.out << "FAILED  host " << host.url << ": " << f.name << ": " << fileProblem << "\n";
        }
        const std::string warning = ManifestCacheWarning(cacheControl);
        if (!warning.empty()) {
            io.out << "warning host " << host.url << ": " << warning << "\n";
        }
        if (!newest || (m.hasSerial && (!newest->manifest.hasSerial || m.serial > newest->manifest.serial))) {
            newest = &loaded;
        }
    }
    const std::string disagreement = SerialDisagreement(hosts);
    if (!disagreement.empty()) {
        io.out << "warning: " << disagreement << "\n";
    }
    if (!newest) {
        return failed;
    }
    // Each mirror of the newest release: its first file, fetched as the updater would.
    const ReleaseManifest& m = newest->manifest;
    for (const std::string& mirror : MirrorRecords(newest->split.signedText)) {
        HttpsOrigin origin = like;
        std::string prefix;
        std::string error;
        if (!SplitMirrorUrl(mirror, origin.url, prefix, error)) {
            io.out << "warning mirror " << mirror << ": " << error << "; the updater skips this record\n";
            continue;
        }
        const ManifestFile& f = m.files.front();
        const std::string problem = CheckOneFile(origin, prefix + MakeDownloadPath(m.version, f.name), f);
        if (problem.empty()) {
            io.out << "ok      mirror " << mirror << ": " << f.name << " of version " << m.version
                   << " as the manifest says\n";
        } else {
            ++failed;
            io.out << "FAILED  mirror " << mirror << ": " << f.name << ": " << problem
                   << "; the updater takes the next source for each file\n";
        }
    }
    return failed;
}
