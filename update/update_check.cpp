// The first half of a pass: which files of the release differ from the installed ones.
#include <vector>

#include "manifest/channel_name.h"
#include "manifest/manifest_fetch.h"
#include "manifest/manifest_log_text.h"
#include "net/file_digest.h"
#include "net/server_address.h"
#include "sys/bot_process.h"
#include "sys/file_ops.h"
#include "sys/install_paths.h"
#include "sys/support_log.h"
#include "update/host_choice.h"
#include "update/install_decision.h"
#include "update/install_records.h"
#include "update/installation_id.h"
#include "update/kept_partial.h"
#include "update/pass_log_texts.h"
#include "update/release_guard.h"
#include "update/release_offer.h"
#include "update/rollout_rule.h"
#include "update/update_pass.h"
#include "update/updater_state.h"

namespace {

// Returns the installed bot's version.
std::string ResetPassFields() {
    std::lock_guard<std::mutex> lock(State.mutex);
    State.installedVersion = GetFileVersionString(MakeInstallPath(kBotExecutableName));
    State.errorDetail.clear();
    State.totalBytes = 0;
    State.doneBytes = 0;
    State.fileCount = 0;
    State.fileIndex = 0;
    return State.installedVersion;
}

void PublishRelease(const ReleaseManifest& manifest, const InstallList& list) {
    std::lock_guard<std::mutex> lock(State.mutex);
    State.latestVersion = manifest.version;
    State.releaseNotes = manifest.notes;
    State.totalBytes = list.totalBytes;
    State.fileCount = static_cast<int32_t>(list.files.size());
}

// Asks the update servers in order until one serves a manifest that passes every check
// (signature, content, channel, serial, expiry); each refusal is logged with its server. The
// accepted manifest remembers its server, which then serves the files. When all refuse,
// `error` is the refusal that AfterManifestRefusal shows.
bool FetchAcceptedManifest(const std::string& channel, ReleaseManifest& manifest, std::string& error) {
    const std::u16string path = ChannelManifestPath(BuildManifestPath(), channel);
    const std::string record = ChannelSerialRecordName(channel);
    std::vector<ManifestAttempt> attempts;
    std::vector<std::string> errors;
    for (size_t host = 0; host < ServerHostCount(); ++host) {
        ManifestReply reply;
        ManifestAttempt attempt;
        attempt.verified = FetchReleaseManifest(host, path, manifest, reply, error);
        attempt.status = reply.status;
        // Another channel's, an older or an expired manifest is refused before any local file
        // is read.
        const bool accepted = attempt.verified && JudgeManifestChannel(manifest, channel, error) &&
                              AcceptManifestFreshness(manifest, record, error);
        WriteLog(ManifestText(reply.status, reply.bytes, reply.elapsedMs, accepted,
                              accepted ? manifest.version : error, ServerHostText(host)),
                 accepted ? LogKind::Routine : LogKind::Outcome);
        if (accepted) {
            manifest.host = host;
            return true;
        }
        attempts.push_back(attempt);
        errors.push_back(error);
        const HostStep step = AfterManifestRefusal(attempts, ServerHostCount());
        if (!step.askNext) {
            error = errors[step.shown];
            return false;
        }
    }
    return false;
}

// The offer's inputs as this installation has them. The identifier is read (or drawn, the
// first time) only when the share decides, so an installation that never meets a staged
// release keeps no identifier.
OfferStep DecideOffer(const ReleaseManifest& manifest, const InstallList& list) {
    OfferInputs in;
    in.filesDiffer = !list.files.empty();
    in.autoMode = AutoMode.load();
    in.rolloutPerMille = manifest.rolloutPerMille;
    in.critical = manifest.critical;
    in.followedChannel = manifest.channel;
    in.installedFrom = ReadInstalledFrom();
    in.offeredVersion = manifest.version;
    // All four parts: a channel's 2.6.0.1 is newer than another's 2.6.0.0, which the window's
    // three-part version would call equal.
    in.installedVersion = GetFileVersionString(MakeInstallPath(kBotExecutableName), 4);
    if (in.filesDiffer && !in.critical && in.rolloutPerMille > 0 && in.rolloutPerMille < 1000) {
        std::string id;
        in.bucketKnown = LoadOrDrawInstallationId(id) && RolloutBucket(id, manifest.version, in.bucket);
    }
    const OfferStep step = DecideReleaseOffer(in);
    WriteLog(OfferText(in.rolloutPerMille, in.bucketKnown, in.bucket, ChannelShownName(in.followedChannel),
                       in.critical, step),
             step == OfferStep::Install || step == OfferStep::UpToDate ? LogKind::Routine : LogKind::Outcome);
    return step;
}

}  // namespace

InstallList BuildInstallList(const ReleaseManifest& manifest) {
    InstallList list;
    for (const ManifestFile& entry : manifest.files) {
        const std::string local = MakeInstallPath(entry.name);
        auto digest = [&local](std::string& out) { return Sha256FileHex(local, out); };
        const InstallReason reason = DecideInstall(entry, PathExists(local), digest);
        WriteLog(DecisionText(entry.name, reason));
        if (NeedsInstall(reason)) {
            list.files.push_back(entry);
            list.totalBytes = AddWrapping(list.totalBytes, entry.size);
        }
    }
    return list;
}

bool RunUpdateCheck(ReleaseManifest& manifest, std::string& error, InstallList& list) {
    SetPhaseAndStatus(Checking, kCheckingStatus);
    const std::string installedVersion = ResetPassFields();
    WriteLog(PassStartText(installedVersion, AutoMode.load(), InstallDir), LogKind::Outcome);
    // The accepted manifest is the followed channel's: its channel record says so.
    if (!FetchAcceptedManifest(ReadFollowedChannel(), manifest, error)) {
        FailUpdate("Serwer aktualizacji: " + error);
        return false;
    }
    for (const std::string& value : manifest.skippedMirrors) {
        WriteLog(MirrorSkippedText(value), LogKind::Outcome);
    }
    list = BuildInstallList(manifest);
    DropStalePartial(list);
    PublishRelease(manifest, list);
    const OfferStep step = DecideOffer(manifest, list);
    if (KeepsSerialRecord(step)) {
        KeepManifestSerial(manifest, ChannelSerialRecordName(manifest.channel));
    }
    if (step == OfferStep::UpToDate) {
        KeepInstalledFrom(manifest.channel);
    }
    if (step != OfferStep::Install) {
        // Not an error: the pass ends as an up-to-date one, and --auto starts the bot.
        SetPhaseAndStatus(UpToDate, OfferStatusText(step, manifest.channel));
        return false;
    }
    SetPhaseAndStatus(UpdateAvailable, "Dostepna aktualizacja");
    return true;
}
