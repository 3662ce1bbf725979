// probe: ask a live server for the release exactly as the updater does (the same
// request paths, percent-encoding, manifest size limit and signature check), then fetch
// every file of the manifest and check its SHA-256. Finds what CDNs and object stores do
// to a staged tree: stale cached manifests, "+" taken for a blank, rewritten or
// compressed bodies, names refused.
#include <openssl/evp.h>

#include <curl/curl.h>

#include <map>
#include <memory>
#include <ostream>

#include "manifest/utc_time.h"
#include "net/file_digest.h"
#include "net/file_download.h"
#include "net/resume_rules.h"
#include "net/server_address.h"
#include "tools/atomic_file.h"
#include "tools/cli_args.h"
#include "tools/commands.h"
#include "tools/https_get.h"
#include "tools/manifest_writer.h"
#include "tools/probe_sources.h"
#include "tools/release_freshness.h"
#include "tools/rollout_records.h"
#include "update/release_guard.h"

extern const char kProbeHelp[] =
    "Usage: vorlane-release probe --public PUBLIC_KEY [--signed SIGNED_MANIFEST] [--channel C]\n"
    "                             [--ca-file FILE] [--resolve HOST:PORT:ADDRESS]... [URL]...\n"
    "\n"
    "Does over HTTPS what the updater does: fetches the manifest from URL under the\n"
    "manifest path of this build (at most as many bytes as the updater reads), verifies\n"
    "its signature with PUBLIC_KEY and reads it; then fetches every file as\n"
    "/download/<version>/<name, percent-encoded as the updater does> and checks its\n"
    "SHA-256. One line per file, then a summary. Exit status 0 only when an installation\n"
    "could update from that server. It speaks HTTP/1.1, as the updater does. It also asks\n"
    "for the last byte of a file as an interrupted download asks for its rest (Range and\n"
    "If-Range) and warns when the server does not answer with exactly that byte: updates\n"
    "still work, but an interrupted download then starts over. It cannot judge the TLS\n"
    "versions that old Windows clients offer (it uses OpenSSL's): a server that passes here\n"
    "may still refuse an installation on an old Windows.\n"
    "\n"
    "  URL        https://HOST[:PORT] to reach; the paths are always the updater's. The\n"
    "             updater itself asks the host built into it on port 443.\n"
    "  --signed   the manifest you published: the server must serve exactly it (a stale\n"
    "             manifest from a cache is reported)\n"
    "  --ca-file  trust the certificates in FILE instead of the system's (a test CA)\n"
    "  --resolve  reach HOST:PORT at ADDRESS, as curl's --resolve (a server not yet in DNS)\n"
    "  --channel  probe channel C's manifest (the manifest path with C/ before the file name),\n"
    "             as an installation that follows C asks for it; it must be signed for C\n"
    "\n"
    "Shows the served manifest's serial, expiry, channel, share and critical mark, warns when it\n"
    "expires within 7 days\n"
    "(publish a newly signed one before then) and fails when updaters refuse it as expired.\n"
    "\n"
    "Without URL, every update host of this build is probed, in the order the updater asks\n"
    "them; with several, each. The first is checked whole as above; each other one by its\n"
    "manifest (signature, serial, expiry) and one file; then each mirror= record of the\n"
    "newest manifest by one file under MIRROR/download/<version>/. A host or mirror that\n"
    "fails is a FAILED line (exit status 1): the updater goes on to the next, but that\n"
    "source helps nobody. Warnings, which leave the exit status alone: hosts that serve\n"
    "different serials (a stale edge, or a host the publish left out: an installation that\n"
    "asks it first stays behind), and a manifest a shared cache may keep longer than 300 s\n"
    "(s-maxage, else max-age, over 300; or no lifetime at all, which lets a CDN use its own\n"
    "default, often hours; no-cache, no-store and private are fine).\n";

namespace {

const char kCmd[] = "probe";
// The updater's receive time-outs: manifest and file.
const long kManifestTimeoutMs = 12000;
const long kFileTimeoutMs = 60000;
// An expiry closer than this is reported: the publisher must sign and publish before it.
const int64_t kExpiryWarningSeconds = 7 * 86400;

struct DigestFree {
    void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};

// "https://host[:port]" with nothing after it but an optional "/".
bool ParseOrigin(std::string url, std::string& origin, std::string& error) {
    const std::string scheme = "https://";
    if (url.rfind(scheme, 0) != 0) {
        error = "URL must begin with https:// (the updater speaks HTTPS only)";
        return false;
    }
    while (url.size() > scheme.size() && url.back() == '/') {
        url.pop_back();
    }
    const std::string authority = url.substr(scheme.size());
    if (authority.empty() || authority.find_first_of("/?#@") != std::string::npos) {
        error = "URL gives only https://HOST[:PORT]; the paths are the updater's";
        return false;
    }
    origin = url;
    return true;
}

// Why a name may be lost on the way, for the line of a file that was not found.
std::string NameHint(const std::string& name) {
    if (name.find('+') != std::string::npos) {
        return "; the name holds \"+\", sent as %2B: a server that takes \"+\" for a blank misses it";
    }
    const std::string encoded = PercentEncode(name);
    if (encoded != name) {
        return "; the name is sent percent-encoded as " + encoded + ": the server must decode it";
    }
    return "";
}

std::string EncodingHint(const HttpsAnswer& answer) {
    return answer.contentEncoding.empty()
               ? ""
               : " (sent with Content-Encoding: " + answer.contentEncoding +
                     "; the updater never asks for it and takes the body as it comes)";
}

// Fetches one file as the updater does. Empty when it is as the manifest says,
// otherwise the reason.
std::string ProbeFile(const HttpsOrigin& origin,
                      const ReleaseManifest& m,
                      const ManifestFile& f,
                      const std::function<void(uint64_t)>& progress) {
    std::string problem;
    const std::string path = MakeDownloadPath(m.version, f.name);
    std::unique_ptr<EVP_MD_CTX, DigestFree> ctx(EVP_MD_CTX_new());
    if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) != 1) {
        return "OpenSSL cannot hash";
    }
    const uint64_t declared = static_cast<uint64_t>(f.size);
    uint64_t received = 0;
    // A body longer than the manifest's size is wrong already; the rest is not read.
    const ChunkSink sink = [&](const uint8_t* data, uint32_t count) {
        received += count;
        progress(received);
        return EVP_DigestUpdate(ctx.get(), data, count) == 1 && received <= declared;
    };
    const HttpsAnswer answer = HttpsGet(origin, path, sink, kFileTimeoutMs);
    if (answer.status == 0) {
        problem = "no answer for " + path + ": " + answer.error;
    } else if (answer.status != 200) {
        problem = "HTTP " + std::to_string(answer.status) + " for " + path + NameHint(f.name);
    } else if (received > declared) {
        problem = "more than the manifest's " + std::to_string(declared) + " bytes from " + path +
                  EncodingHint(answer);
    } else if (received != declared) {
        problem = std::to_string(received) + " bytes from " + path + ", the manifest says " +
                  std::to_string(declared) + EncodingHint(answer);
    } else {
        uint8_t digest[32];
        unsigned int length = 0;
        if (EVP_DigestFinal_ex(ctx.get(), digest, &length) != 1 || length != 32) {
            problem = "OpenSSL cannot hash";
        } else if (HexLower(digest) != f.sha256) {
            problem = "other content from " + path + ": its SHA-256 is " + HexLower(digest) +
                      ", the manifest's " + f.sha256 + EncodingHint(answer);
        }
    }
    return problem;
}

// The manifest as the updater receives and judges it. False with the line to print.
bool ProbeManifest(const HttpsOrigin& origin,
                   const std::string& path,
                   const PublicKeyHex& key,
                   LoadedManifest& loaded,
                   std::string& cacheControl,
                   std::string& problem) {
    std::string& body = loaded.body;
    // The updater's rule: keep appending until the limit is reached; one byte more here
    // tells a cut manifest from one of exactly the limit.
    const ChunkSink sink = [&body](const uint8_t* data, uint32_t count) {
        body.append(reinterpret_cast<const char*>(data), count);
        return body.size() <= kManifestBodyLimit;
    };
    const HttpsAnswer answer = HttpsGet(origin, path, sink, kManifestTimeoutMs);
    cacheControl = answer.cacheControl;
    const std::string where = "manifest " + origin.url + path + ": ";
    std::string error;
    if (answer.status == 0) {
        problem = where + "no answer: " + answer.error;
        return false;
    }
    if (answer.status != 200) {
        problem = where + "HTTP " + std::to_string(answer.status) +
                  "; the updater reports \"brak wydania na " + "serwerze (HTTP " +
                  std::to_string(answer.status) + ")\"";
        return false;
    }
    if (body.size() > kManifestBodyLimit) {
        problem = where + "longer than " + std::to_string(kManifestBodyLimit) +
                  " bytes; the updater reads no more and refuses it cut short" + EncodingHint(answer);
        return false;
    }
    if (!JudgeManifestBody(&key, loaded, error)) {
        problem = where + "the updater reports \"" + error + "\"" + EncodingHint(answer);
        if (error == kErrBadSignature) {
            problem += " (not signed by the given key, or changed on the way)";
        }
        return false;
    }
    return true;
}

// Asks for the last byte of `f` as the updater asks for the rest of a kept download: first
// with Range alone, to learn the validator, then with If-Range as well. Empty when both
// answers are exactly that byte, otherwise why an interrupted download would start over.
std::string ProbeRanges(const HttpsOrigin& origin, const ReleaseManifest& m, const ManifestFile& f) {
    const uint64_t size = static_cast<uint64_t>(f.size);
    const std::string path = MakeDownloadPath(m.version, f.name);
    std::vector<std::string> headers = {"Range: bytes=" + std::to_string(size - 1) + "-"};
    std::string validator;
    for (int round = 0; round < 2; ++round) {
        uint64_t received = 0;
        const ChunkSink sink = [&received](const uint8_t*, uint32_t count) {
            received += count;
            return received <= 1;
        };
        const HttpsAnswer answer = HttpsGet(origin, path, sink, kFileTimeoutMs, headers);
        const std::string asked = round == 0 ? " for its last byte" : " for its last byte with If-Range";
        if (answer.status != 206) {
            return path + " answers HTTP " + std::to_string(answer.status) + asked + ", not 206";
        }
        if (!RangeContinues(answer.contentRange, size - 1, size) || received != 1) {
            return path + " answers" + asked + " with Content-Range \"" + answer.contentRange + "\" and " +
                   std::to_string(received) + " bytes, not that byte";
        }
        if (round == 0) {
            validator = ResumeValidator(answer.etag, answer.lastModified);
            if (validator.empty()) {
                return path + " has neither a strong ETag nor Last-Modified to tie a kept download to";
            }
            headers.push_back("If-Range: " + validator);
        }
    }
    return "";
}

}  // namespace

int RunProbe(const Args& argv, CommandIo& io) {
    ParsedArgs args;
    std::string error;
    std::string keyPath;
    std::string signedPath;
    std::string channelOption;
    std::string channel;
    HttpsOrigin origin;
    if (!ParseArgs(argv, {"public", "signed", "ca-file", "resolve", "channel"}, args, error)) {
        return UsageError(io, kCmd, error);
    }
    const std::string builtIn = "https://" + NarrowAscii(BuildServerHost());
    if (args.help) {
        io.out << kProbeHelp << "The updater of this build asks " << builtIn
               << NarrowAscii(BuildManifestPath()) << "\n";
        return 0;
    }
    if (!SingleValue(args, "public", true, keyPath, error) ||
        !SingleValue(args, "signed", false, signedPath, error) ||
        !SingleValue(args, "ca-file", false, origin.caFile, error) ||
        !SingleValue(args, "channel", false, channelOption, error) ||
        (args.values.count("channel") && !ParseChannelOption(channelOption, channel, error))) {
        return UsageError(io, kCmd, error);
    }
    const std::string manifestPath = ChannelManifestPath(NarrowAscii(BuildManifestPath()), channel);
    if (args.values.count("resolve")) {
        origin.resolve = args.values.at("resolve");
    }
    std::vector<std::string> urls = args.positionals;
    for (size_t i = 0; urls.empty() && i < ServerHostCount(); ++i) {
        urls.push_back("https://" + NarrowAscii(BuildServerHost(i)));
    }
    for (std::string& url : urls) {
        if (!ParseOrigin(url, url, error)) {
            return UsageError(io, kCmd, error);
        }
    }
    origin.url = urls.front();
    const std::vector<std::string> otherUrls(urls.begin() + 1, urls.end());
    PublicKeyHex key;
    if (!ReadPublicKey(keyPath, key, error)) {
        return Fail(io, kCmd, error);
    }
    LoadedManifest expected;
    if (!signedPath.empty() && !LoadSignedManifest(signedPath, &key, expected, error)) {
        return Fail(io, kCmd, signedPath + ": " + error);
    }
    if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
        return Fail(io, kCmd, "libcurl cannot start");
    }
    if (origin.url != builtIn && origin.url != builtIn + ":443") {
        io.out << "note: the updater of this build asks " << builtIn << "; probing " << origin.url
               << " with its paths\n";
    }

    LoadedManifest served;
    std::string problem;
    std::string cacheControl;
    bool manifestOk = ProbeManifest(origin, manifestPath, key, served, cacheControl, problem);
    const ReleaseManifest& m = served.manifest;
    if (manifestOk && !signedPath.empty() && served.body != expected.body) {
        problem = "manifest " + origin.url + manifestPath + ": the server serves version " + m.version +
                  (m.version == expected.manifest.version ? " with other bytes than " : ", not ") +
                  (m.version == expected.manifest.version ? signedPath
                                                          : expected.manifest.version + " of " + signedPath) +
                  " (a stale manifest from a cache, or an upload that did not arrive)";
        manifestOk = false;
    }
    const int64_t now = NowSeconds();
    if (manifestOk && !JudgeManifestFreshness(m, SerialRecord(), now, error)) {
        problem = "manifest " + origin.url + manifestPath + ": the updater reports \"" + error +
                  "\" (sign and publish a new one)";
        manifestOk = false;
    }
    RolloutRecords marks;
    if (manifestOk && !ReadRolloutRecords(served.split.signedText, marks, error)) {
        problem = "manifest " + origin.url + manifestPath + ": " + error;
        manifestOk = false;
    }
    const std::string channelProblem = manifestOk ? ChannelProblem(served.split.signedText, channel) : "";
    if (!channelProblem.empty()) {
        problem = "manifest " + origin.url + manifestPath + ": " + channelProblem;
        manifestOk = false;
    }
    HostManifest firstHost{origin.url, manifestOk, m.version, m.hasSerial, m.serial};
    if (!manifestOk) {
        io.out << "FAILED  " << problem << "\n"
               << "summary: no installation can update from " << origin.url << "\n";
        ProbeOtherSources(io, origin, manifestPath, channel, key, firstHost, nullptr, otherUrls);
        curl_global_cleanup();
        return kExitFailed;
    }
    uint64_t total = 0;
    for (const ManifestFile& f : m.files) {
        total += static_cast<uint64_t>(f.size);
    }
    io.out << "ok      manifest " << origin.url << manifestPath << ": version " << m.version << ", "
           << m.files.size() << " files, " << FormatBytes(total) << ", signature good\n";
    std::string lines = FreshnessLines(m, now) + RolloutLines(marks);
    for (size_t at = 0; at < lines.size(); at = lines.find('\n', at) + 1) {
        lines.insert(at, "        ");
    }
    io.out << lines;
    const std::string cacheWarning = ManifestCacheWarning(cacheControl);
    if (!cacheWarning.empty()) {
        io.out << "warning: " << cacheWarning << "\n";
    }
    if (m.hasExpires && m.expires - now < kExpiryWarningSeconds) {
        io.out << "warning: the manifest expires within 7 days (" << FormatUtcTimestamp(m.expires)
               << "); installations refuse it a day later: sign and publish a new one before then\n";
    }

    // A record listed twice is fetched once; two records of one name with other
    // contents are fetched and judged each on its own.
    std::map<std::string, std::string> done;
    size_t failed = 0;
    uint64_t bytesDone = 0;
    ProgressLine progress(io, "fetching", m.files.size(), total);
    for (size_t i = 0; i < m.files.size(); ++i) {
        const ManifestFile& f = m.files[i];
        std::string problem;
        const std::string record = f.name + "\n" + f.sha256 + "\n" + std::to_string(f.size);
        const auto earlier = done.find(record);
        if (earlier == done.end()) {
            problem = ProbeFile(origin, m, f, [&](uint64_t n) { progress.Update(i, bytesDone + n); });
            done[record] = problem;
        } else {
            problem = earlier->second;
        }
        bytesDone += static_cast<uint64_t>(f.size);
        if (problem.empty()) {
            io.out << "ok      " << f.name << " (" << FormatBytes(static_cast<uint64_t>(f.size)) << ")\n";
        } else {
            ++failed;
            io.out << "FAILED  " << f.name << ": " << problem << "\n";
        }
        io.out.flush();
    }
    progress.Finish();
    // Any file of two bytes or more that arrived whole serves to check the ranges.
    for (const ManifestFile& f : m.files) {
        const std::string record = f.name + "\n" + f.sha256 + "\n" + std::to_string(f.size);
        if (f.size >= 2 && done[record].empty()) {
            const std::string problem = ProbeRanges(origin, m, f);
            io.out << (problem.empty()
                           ? "ok      ranges: an interrupted download continues where it ended"
                           : "warning ranges: " + problem + "; an interrupted download starts over from zero")
                   << "\n";
            break;
        }
    }
    const size_t othersFailed =
        ProbeOtherSources(io, origin, manifestPath, channel, key, firstHost, &served, otherUrls);
    curl_global_cleanup();
    if (failed > 0) {
        io.out
            << "summary: " << failed << " of " << m.files.size()
            << " files not as the manifest says; an installation that needs one of them cannot update from "
            << origin.url << "\n";
        return kExitFailed;
    }
    io.out << "summary: all " << m.files.size()
           << " files as the manifest says; an installation can update from " << origin.url << " to version "
           << m.version << "\n";
    return othersFailed > 0 ? kExitFailed : 0;
}
