// rollout: show or change the share of the release a destination serves now. A change
// re-signs the live manifest with the new share and a higher serial, keeps every other
// record, and puts only the manifest in place, the way publish puts it.
#include <stdlib.h>

#include <filesystem>
#include <ostream>

#include "manifest/manifest_parser.h"
#include "tools/atomic_file.h"
#include "tools/cli_args.h"
#include "tools/commands.h"
#include "tools/manifest_writer.h"
#include "tools/publish_steps.h"
#include "tools/rclone_destination.h"
#include "tools/rclone_publish.h"
#include "tools/release_freshness.h"
#include "tools/rollout_records.h"
#include "tools/updater_key.h"
#include "update/release_guard.h"

extern const char kRolloutHelp[] =
    "Usage: vorlane-release rollout [--channel C] [--public FILE] DEST\n"
    "       vorlane-release rollout [--channel C] --key FILE|- --to P DEST\n"
    "\n"
    "Without --to, shows the release DEST serves now (a destination as publish takes it):\n"
    "its version, serial, channel, share and whether it is critical.\n"
    "With --to, sets its share to P (a percentage 0 to 100 with at most one decimal, or per\n"
    "mille as 25pm): the live manifest is signed again with the key in FILE, the new share\n"
    "and a serial above the live one (the signing time, or the live serial + 1 if that is\n"
    "higher); every other record stays. Only the manifest is uploaded, under a temporary\n"
    "name renamed into place (to object storage: one PUT with Cache-Control no-cache, read\n"
    "back); the release files are not touched. A raised share only adds\n"
    "installations; --to 0 halts the release (those who have it keep it; a user's start by\n"
    "hand no longer installs it either). Going from 5 to 25 to 100 is one command each.\n"
    "The live manifest must verify with the key in FILE, and the updater the release ships\n"
    "must trust that key: otherwise installations on one side or the other would refuse the\n"
    "new manifest.\n"
    "--channel C   the release of channel C (its manifest path, with C/ before the file name)\n";

namespace fs = std::filesystem;

namespace {

const char kCmd[] = "rollout";

// A private folder under TMPDIR, removed when the object goes.
class ScratchFolder {
  public:
    ScratchFolder() {
        const char* tmp = getenv("TMPDIR");
        path_ = std::string(tmp && *tmp ? tmp : "/tmp") + "/vorlane-rollout-XXXXXX";
        if (!mkdtemp(path_.data())) {
            path_.clear();
        }
    }
    ~ScratchFolder() {
        std::error_code ignored;
        if (!path_.empty()) {
            fs::remove_all(path_, ignored);
        }
    }
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

// Installations that took the live release run the updater it ships: it must trust the
// key that signs the new manifest. Reads that updater from DEST.
void CheckLiveUpdaterKey(const std::string& dest,
                         const ReleaseManifest& live,
                         const PublicKeyHex& signer,
                         const std::string& scratch,
                         std::vector<std::string>& notes,
                         std::vector<std::string>& problems) {
    for (const ManifestFile& f : live.files) {
        if (!IsUpdaterEntryName(f.name)) {
            continue;
        }
        const std::string relative = "download/" + live.version + "/" + f.name;
        const std::string copy = scratch + "/updater.exe";
        std::string bytes;
        std::string error;
        PublicKeyHex trusted;
        const bool read = IsRcloneDestination(dest) ? RcloneReadRelative(dest, relative, bytes, error)
                                                    : FetchFromDestination(dest, relative, copy, error) &&
                                                          ReadWholeFile(copy, bytes, error);
        if (!read || !FindUpdaterKey(bytes, trusted, error)) {
            notes.push_back(DestinationPath(dest, relative) + ": " + error +
                            "; the key of the updated installations was not checked");
        } else if (!SameKey(trusted, signer)) {
            problems.push_back("installations updated to version " + live.version +
                               " run an updater that trusts " + ShortKey(trusted) + ", not the key " +
                               ShortKey(signer) +
                               " that would sign the new manifest; they would refuse it (a key rotation's "
                               "release cannot be re-signed: publish the next release instead)");
        }
        return;
    }
}

}  // namespace

int RunRollout(const Args& argv, CommandIo& io) {
    ParsedArgs args;
    std::string error;
    std::string channelOption;
    std::string channel;
    std::string keySource;
    std::string keyPath;
    std::string toOption;
    if (!ParseArgs(argv, {"channel", "key", "to", "public"}, args, error)) {
        return UsageError(io, kCmd, error);
    }
    std::string relative;
    if (!ManifestPathUnderRoot(relative, error)) {
        return Fail(io, kCmd, error);
    }
    if (args.help) {
        io.out << kRolloutHelp << "The manifest path of this build: DEST/" << relative << "\n";
        return 0;
    }
    if (!SingleValue(args, "channel", false, channelOption, error) ||
        !SingleValue(args, "key", false, keySource, error) ||
        !SingleValue(args, "to", false, toOption, error) ||
        !SingleValue(args, "public", false, keyPath, error) ||
        (args.values.count("channel") && !ParseChannelOption(channelOption, channel, error))) {
        return UsageError(io, kCmd, error);
    }
    const bool change = args.values.count("to") > 0;
    if (change != (args.values.count("key") > 0)) {
        return UsageError(io, kCmd,
                          change ? "--to needs --key, the key that signs the new manifest"
                                 : "--key is for --to, the share to set");
    }
    if (args.positionals.size() != 1) {
        return UsageError(io, kCmd, args.positionals.empty() ? "DEST is missing" : "give exactly one DEST");
    }
    const std::string dest = args.positionals.front();
    std::error_code ec;
    const bool rclone = IsRcloneDestination(dest);
    if (!rclone && !IsLocalDestination(dest) && fs::exists(fs::symlink_status(dest, ec))) {
        return UsageError(io, kCmd,
                          dest + " names a local folder here, but rsync reads it as a remote host; write ./" +
                              dest + " for the folder");
    }
    if (IsLocalDestination(dest) && !fs::is_directory(dest, ec)) {
        return Fail(io, kCmd, dest + ": no such folder (the server's document root)");
    }
    int share = kFullShare;
    if (change && !ParseShareOption(toOption, share, error)) {
        return Fail(io, kCmd, "--to " + error + " (nothing was published)");
    }
    PublicKeyHex key;
    std::string pem;
    if (!keyPath.empty() && !ReadPublicKey(keyPath, key, error)) {
        return Fail(io, kCmd, error);
    }
    if (change && (!ReadPrivateKey(io, keySource, pem, error) || !PublicKeyFromPrivatePem(pem, key, error))) {
        return Fail(io, kCmd, (keySource == "-" ? std::string("standard input") : keySource) + ": " + error);
    }
    const bool haveKey = change || !keyPath.empty();

    // The live manifest, read as publish reads the one it replaces.
    relative = ChannelManifestPath(relative, channel);
    const std::string where = DestinationPath(dest, relative);
    std::vector<DestinationFolder> places = {{fs::path(relative).parent_path().string(), "", ""}};
    LoadedManifest live;
    bool present = false;
    if (rclone ? !RcloneReadManifest(dest, relative, live.body, present, error)
               : !LocateDestinationFolders(dest, places, error) ||
                     !ReadDestinationManifest(dest, places[0], relative, live.body, present, error)) {
        return Fail(io, kCmd, error + " (nothing was published)");
    }
    if (!present) {
        return Fail(io, kCmd,
                    where + ": no manifest there; publish the release first" +
                        (channel.empty() ? "" : " (publish --channel " + channel + ")"));
    }
    RolloutRecords marks;
    if (!JudgeManifestBody(haveKey ? &key : nullptr, live, error) ||
        !ReadRolloutRecords(live.split.signedText, marks, error)) {
        if (error == kErrBadSignature && change) {
            error += " (not signed by the key in " + keySource +
                     "; installations that trust the live manifest's key would refuse a manifest it signs)";
        }
        return Fail(io, kCmd, where + ": " + error + " (nothing was published)");
    }
    const ReleaseManifest& m = live.manifest;
    const std::string channelProblem = ChannelProblem(live.split.signedText, channel);
    if (!channelProblem.empty()) {
        return Fail(io, kCmd, where + ": " + channelProblem + " (nothing was published)");
    }
    const int64_t now = NowSeconds();
    if (!change) {
        io.out << "Live release at " << where << ": version " << m.version
               << (haveKey ? ", signature good" : ", signature not checked (give --public)") << "\n"
               << FreshnessLines(m, now) << RolloutLines(marks);
        return 0;
    }

    // The new manifest: the live one with the new share and a higher serial.
    int64_t serial = 0;
    if (!ChooseSerial("", m.hasSerial ? std::to_string(m.serial) : "", now, serial, error)) {
        return Fail(io, kCmd, error + " (nothing was published)");
    }
    RolloutRecords next = marks;
    next.hasRollout = true;
    next.rollout = share;
    const std::string text = WithRecordsAfterMagic(
        WithoutRecords(live.split.signedText, {"serial", "rollout"}),
        "serial=" + std::to_string(serial) + "\n" + "rollout=" + std::to_string(share) + "\n");
    std::vector<std::string> problems = FindManifestProblems(text);
    ScratchFolder scratch;
    if (scratch.path().empty()) {
        return Fail(io, kCmd, "cannot make a temporary folder (nothing was published)");
    }
    std::vector<std::string> notes;
    if (problems.empty()) {
        CheckLiveUpdaterKey(dest, m, key, scratch.path(), notes, problems);
    }
    LoadedManifest signedNext;
    std::string signature;
    if (problems.empty() && SignManifestText(pem, text, signature, error)) {
        signedNext.body = text + "sig=" + signature + "\n";
        if (!JudgeManifestBody(&key, signedNext, error) || signedNext.split.signedText != text) {
            problems.push_back("the signed manifest does not verify");
        } else if (!JudgeManifestFreshness(signedNext.manifest, SerialRecord(), now, error)) {
            problems.push_back("the updater would refuse it: \"" + error +
                               "\"; sign and publish the release anew with a later expiry");
        }
    } else if (problems.empty()) {
        problems.push_back(keySource + ": " + error);
    }
    for (const std::string& note : notes) {
        io.err << "note: " << note << "\n";
    }
    if (!problems.empty()) {
        for (std::string& p : problems) {
            p = where + ": " + p;
        }
        return Refuse(io, kCmd, problems);
    }

    // Only the manifest, under a temporary name renamed into place.
    const std::string staged = scratch.path() + "/" + relative;
    fs::create_directories(fs::path(staged).parent_path(), ec);
    Durability durability = Durability::Fsync;
    const bool put = !ec && WriteFileReplacing(staged, signedNext.body, 0644, error) &&
                     (rclone ? RclonePutManifest(dest, relative, staged, signedNext.body, error)
                             : ChooseDurability(scratch.path(), dest, durability, error) &&
                                   PutDestinationManifest(scratch.path(), dest, places[0], relative,
                                                          signedNext.body, durability, error));
    if (!put) {
        return Fail(io, kCmd,
                    (ec ? staged + ": " + ec.message() : error) +
                        "; see what DEST serves now with: vorlane-release rollout " + dest);
    }
    io.out << "Rollout of version " << m.version << " at " << where << ": " << ShareText(marks.rollout)
           << " -> " << ShareText(share) << "\n"
           << FreshnessLines(signedNext.manifest, now) << RolloutLines(next);
    if (share < marks.rollout) {
        io.out << "note: installations that took the release keep it; a lower share only stops it reaching "
                  "more\n";
    }
    if (next.critical) {
        io.out << "note: the release is critical: installations take it whatever the share, so the share "
                  "does not hold it back; to stop it, publish another release\n";
    }
    return 0;
}
