// keygen and sign: the publisher's key pair and the signature on a manifest.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ostream>

#include "manifest/manifest_parser.h"
#include "tools/atomic_file.h"
#include "tools/cli_args.h"
#include "tools/commands.h"
#include "tools/manifest_writer.h"
#include "tools/release_freshness.h"
#include "tools/rollout_records.h"
#include "tools/updater_key.h"

extern const char kKeygenHelp[] =
    "Usage: vorlane-release keygen --out DIR\n"
    "\n"
    "Makes a new P-256 key pair for signing release manifests:\n"
    "  DIR/private.pem  the private key (PEM, mode 0600); never overwritten\n"
    "  DIR/public.key   the public key (x= and y= lines) that the updater is built with:\n"
    "                   cmake --preset win32 -DVORLANE_PUBLIC_KEY_FILE=DIR/public.key\n"
    "The public coordinates are printed. Keep private.pem secret and backed up: an\n"
    "updater accepts only manifests signed by the key it was built with, so if the\n"
    "private key is lost, no further update can reach the installed updaters.\n";

extern const char kSignHelp[] =
    "Usage: vorlane-release sign --key FILE|- [--release-dir DIR] [--next-key PUBLIC_FILE]\n"
    "                            [--serial N | --serial-above N]\n"
    "                            [--expires 30d|YYYY-MM-DD|YYYY-MM-DDTHH:MM:SSZ]\n"
    "                            [--rollout P] [--critical] [--channel C]\n"
    "                            [--mirror https://HOST[:PORT][/PATH]]... MANIFEST\n"
    "\n"
    "Signs MANIFEST in place: writes the serial (and the expiry) after the first line, then\n"
    "appends \"sig=\" and the 128 hex digits of the ECDSA P-256 signature (r then s) over the\n"
    "SHA-256 of the text, and a final line feed.\n"
    "--serial N          the release's serial (default: the signing time in seconds since 1970).\n"
    "                    Installations remember the highest serial they accepted and refuse a\n"
    "                    lower one, so a server cannot turn them back to an older release; a\n"
    "                    serial more than a day ahead of this machine's clock is refused.\n"
    "--serial-above N    the signing time, or N + 1 if that is higher, however far ahead of\n"
    "                    this machine's clock: the way past serial N, published from a machine\n"
    "                    whose clock was fast (stage and publish name N when they meet it).\n"
    "--expires WHEN      installations refuse the manifest a day after WHEN (days from now, or\n"
    "                    a UTC date or time), so a server cannot hold them on it for ever: a\n"
    "                    newly signed manifest must be published before then. No expiry without it.\n"
    "--rollout P         the share of installations that take the release by themselves: a\n"
    "                    percentage 0 to 100 with at most one decimal (5, 2.5) or per mille\n"
    "                    (25pm); each installation falls in or out by a draw of its own that\n"
    "                    stays the same, and a raised share only adds installations. 0 halts\n"
    "                    the release. Without it, everyone (no record). A user who starts the\n"
    "                    updater by hand gets a release whose share is above 0 at once.\n"
    "                    \"vorlane-release rollout\" changes the share of the live release.\n"
    "--critical          installations take the release whatever the share (a security fix).\n"
    "--channel C         the channel the manifest is for (a-z, 0-9, \"-\", up to 16, first a\n"
    "                    letter; \"stable\", the default, writes no record). Installations on\n"
    "                    another channel refuse it; stage and publish --channel C put it in place.\n"
    "--mirror URL        another place that serves the release files under URL/download/<version>/\n"
    "                    (repeatable, up to 8, asked in the order given after the server that\n"
    "                    served the manifest). Each file is checked by size and SHA-256 wherever\n"
    "                    it comes from, so a mirror needs no trust: an updater goes on to the next\n"
    "                    place when one is down, answers an error, is too slow or serves other\n"
    "                    bytes. HTTPS only; HOST a DNS name of lowercase letters, digits, \"-\" and \".\";\n"
    "                    PATH of letters, digits and \"-._~/\"; no user name, query or fragment.\n"
    "--key FILE          the private key in PEM form; \"-\" reads it from standard input.\n"
    "--release-dir DIR   the release folder; needed when the manifest lists VorlanePatcher.exe:\n"
    "                    the updater it ships must trust the key that signs, or installations\n"
    "                    that take the release could never verify a later manifest.\n"
    "--next-key FILE     a key rotation: the release's updater must trust exactly this public\n"
    "                    key (the next one), while the release is signed with the current key.\n"
    "                    The updater must not be marked only-if-missing: no installation,\n"
    "                    each having its updater, would ever take it.\n"
    "The manifest is checked first; a manifest the updater would misread, one that is\n"
    "signed already, or a release whose updater trusts another key is refused and left as it is.\n";

int RunKeygen(const Args& argv, CommandIo& io) {
    const char* cmd = "keygen";
    ParsedArgs args;
    std::string error;
    std::string dir;
    if (!ParseArgs(argv, {"out"}, args, error)) {
        return UsageError(io, cmd, error);
    }
    if (args.help) {
        io.out << kKeygenHelp;
        return 0;
    }
    if (!SingleValue(args, "out", true, dir, error)) {
        return UsageError(io, cmd, error);
    }
    if (!args.positionals.empty()) {
        return UsageError(io, cmd, "unexpected argument " + args.positionals.front());
    }
    const std::string privatePath = dir + "/private.pem";
    const std::string publicPath = dir + "/public.key";
    struct stat st;
    if (lstat(privatePath.c_str(), &st) == 0) {
        return Fail(io, cmd, privatePath + ": exists already; it is not overwritten (nothing was written)");
    }
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
        return Fail(io, cmd, dir + ": cannot create the folder");
    }
    const std::string pem = GeneratePrivateKeyPem();
    PublicKeyHex pub;
    if (pem.empty() || !PublicKeyFromPrivatePem(pem, pub, error)) {
        return Fail(io, cmd, "cannot make a P-256 key: " + error);
    }
    // The private key first: if it cannot be made, no public key is left to be built in.
    if (!WriteFileExclusive(privatePath, pem, 0600, error)) {
        return Fail(io, cmd, error);
    }
    if (!WriteFileReplacing(publicPath, FormatPublicKeyFile(pub), 0644, error)) {
        unlink(privatePath.c_str());
        return Fail(io, cmd, error);
    }
    io.out << "x=" << pub.x << "\ny=" << pub.y << "\n";
    io.err << "Wrote " << privatePath << " and " << publicPath << ".\n"
           << "Keep " << privatePath << " secret and backed up: if it is lost, no further update can\n"
           << "reach the updaters built with " << publicPath << ".\n";
    return 0;
}

int RunSign(const Args& argv, CommandIo& io) {
    const char* cmd = "sign";
    ParsedArgs args;
    std::string error;
    std::string keySource;
    std::string releaseDir;
    std::string nextKeyPath;
    std::string serialOption;
    std::string serialAboveOption;
    std::string expiresOption;
    std::string rolloutOption;
    std::string channelOption;
    if (!ParseArgs(argv,
                   {"key", "release-dir", "next-key", "serial", "serial-above", "expires", "rollout",
                    "channel", "mirror"},
                   {"critical"}, args, error)) {
        return UsageError(io, cmd, error);
    }
    if (args.help) {
        io.out << kSignHelp;
        return 0;
    }
    if (!SingleValue(args, "key", true, keySource, error) ||
        !SingleValue(args, "release-dir", false, releaseDir, error) ||
        !SingleValue(args, "next-key", false, nextKeyPath, error) ||
        !SingleValue(args, "serial", false, serialOption, error) ||
        !SingleValue(args, "serial-above", false, serialAboveOption, error) ||
        !SingleValue(args, "expires", false, expiresOption, error) ||
        !SingleValue(args, "rollout", false, rolloutOption, error) ||
        !SingleValue(args, "channel", false, channelOption, error)) {
        return UsageError(io, cmd, error);
    }
    if (args.positionals.size() != 1) {
        return UsageError(io, cmd, "needs exactly one MANIFEST");
    }
    const int64_t now = NowSeconds();
    int64_t serial = 0;
    int64_t expires = 0;
    RolloutRecords marks;
    marks.critical = HasFlag(args, "critical");
    marks.hasRollout = !rolloutOption.empty();
    if (!ChooseSerial(serialOption, serialAboveOption, now, serial, error) ||
        (!expiresOption.empty() && !ParseExpiresOption(expiresOption, now, expires, error)) ||
        (args.values.count("channel") && !ParseChannelOption(channelOption, marks.channel, error))) {
        return Fail(io, cmd, error + " (nothing was written)");
    }
    if (marks.hasRollout && !ParseShareOption(rolloutOption, marks.rollout, error)) {
        return Fail(io, cmd, "--rollout " + error + " (nothing was written)");
    }
    const std::vector<std::string>& mirrorOptions = args.values["mirror"];
    std::vector<std::string> mirrors;
    std::vector<std::string> mirrorProblems;
    for (const std::string& url : mirrorOptions) {
        CheckMirrorRecord(url, "--mirror " + url, mirrors, mirrorProblems);
    }
    if (!mirrorProblems.empty()) {
        return Fail(io, cmd, mirrorProblems.front() + " (nothing was written)");
    }
    const std::string& path = args.positionals[0];
    std::string unsignedText;
    if (!ReadWholeFile(path, unsignedText, error)) {
        return Fail(io, cmd, error);
    }
    std::vector<std::string> problems = FindManifestProblems(unsignedText);
    ReleaseManifest listed;
    if (problems.empty() && ParseManifestText(unsignedText, listed, error) &&
        (listed.hasSerial || listed.hasExpires)) {
        problems.push_back(
            "holds a serial or expires record already; sign writes them (--serial, --expires)");
    }
    RolloutRecords written;
    if (problems.empty() && ReadRolloutRecords(unsignedText, written, error) &&
        (written.hasRollout || written.critical || !written.channel.empty())) {
        problems.push_back(
            "holds a rollout, critical or channel record already; sign writes them "
            "(--rollout, --critical, --channel)");
    }
    const std::string text = WithFreshnessRecords(
        WithMirrorRecords(WithRecordsAfterMagic(unsignedText, FormatRolloutRecords(marks)), mirrors), serial,
        expires);
    if (problems.empty()) {
        problems = FindManifestProblems(text);  // the size limit, with the records
    }
    if (!problems.empty()) {
        for (std::string& p : problems) {
            p = path + ": " + p;
        }
        return Refuse(io, cmd, problems);
    }
    listed = ReleaseManifest();
    PublicKeyHex next;
    if (!ParseManifestText(text, listed, error)) {
        return Fail(io, cmd, path + ": " + error);
    }
    if (!nextKeyPath.empty() && !ReadPublicKey(nextKeyPath, next, error)) {
        return Fail(io, cmd, error);
    }
    if (releaseDir.empty() && ListsUpdater(listed)) {
        return Refuse(io, cmd,
                      {path + ": the release ships " + kUpdaterFileName +
                       "; give its folder with --release-dir so that the key it trusts can be checked"});
    }
    std::string pem;
    PublicKeyHex pub;
    std::string signature;
    if (!ReadPrivateKey(io, keySource, pem, error) || !PublicKeyFromPrivatePem(pem, pub, error)) {
        return Fail(io, cmd, (keySource == "-" ? std::string("standard input") : keySource) + ": " + error);
    }
    std::vector<std::string> notes;
    const SigningKeyFacts signer{[&](const PublicKeyHex& k) { return SameKey(k, pub); }, ShortKey(pub)};
    if (!CheckUpdaterKey(listed, releaseDir, signer, nextKeyPath.empty() ? nullptr : &next, notes,
                         problems)) {
        return Refuse(io, cmd, problems);
    }
    if (!SignManifestText(pem, text, signature, error)) {
        return Fail(io, cmd, (keySource == "-" ? std::string("standard input") : keySource) + ": " + error);
    }
    // Read the result back the way the updater will before it replaces the manifest.
    const std::string body = text + "sig=" + signature + "\n";
    SplitManifest split;
    ReleaseManifest parsed;
    if (!SplitManifestSignature(body, split) || split.signedText != text ||
        !VerifyManifestSignatureWithKey(split.signedText, split.signatureText, pub.x.c_str(),
                                        pub.y.c_str()) ||
        !ParseManifestText(split.signedText, parsed, error)) {
        return Fail(io, cmd, "the signed manifest does not verify; nothing was written");
    }
    if (!WriteFileReplacing(path, body, 0644, error)) {
        return Fail(io, cmd, error);
    }
    io.out << "Signed " << path << " (version " << parsed.version << ", " << parsed.files.size()
           << " files) with the key x=" << pub.x << "\n"
           << FreshnessLines(parsed, now) << RolloutLines(marks);
    for (const MirrorBase& mirror : parsed.mirrors) {
        io.out << "mirror: " << mirror.url << "\n";
    }
    if (!SerialAheadText(parsed.serial, now).empty()) {
        io.out << "note: until this machine's clock passes serial " << parsed.serial
               << ", every later release needs --serial-above too\n";
    }
    for (const std::string& note : notes) {
        io.out << "updater: " << note << "\n";
    }
    return 0;
}
