// The second half of a pass: wait for the bot and the confirmation, then download,
// verify and move each listed file into place.
#include <memory>
#include <vector>

#include "net/file_digest.h"
#include "net/file_download.h"
#include "net/server_address.h"
#include "sys/bot_process.h"
#include "sys/clock.h"
#include "sys/file_ops.h"
#include "sys/install_paths.h"
#include "sys/support_log.h"
#include "update/kept_partial.h"
#include "update/pass_log_texts.h"
#include "update/source_choice.h"
#include "update/update_pass.h"
#include "update/updater_state.h"
#include "update/wait_loop.h"

namespace {

// A virus scanner opens a freshly written file (an .exe above all) right after it is closed,
// sometimes without sharing: the flush and the rename are tried again for about two seconds.
const int32_t kMoveAttempts = 8;
const uint32_t kMoveRetryMs = 250;

int32_t LogTermination(int32_t ended) {
    WriteLog(TerminationText(ended));
    return ended;
}

// A line when the wait first sees the bot, and whenever that changes.
void LogBotSeen(int32_t& seen, bool busy) {
    if (seen != static_cast<int32_t>(busy)) {
        seen = busy;
        WriteLog(BotSeenText(busy));
    }
}

WaitHooks RealWaitHooks() {
    WaitHooks hooks;
    hooks.now = TickCountMs;
    hooks.sleep = SleepMs;
    hooks.botBusy = [] { return IsFileLocked(MakeInstallPath(kBotExecutableName)); };
    hooks.terminateBot = [] { return LogTermination(TerminateBotProcesses()); };
    hooks.confirmed = [] { return InstallConfirmed.load(); };
    hooks.autoMode = [] { return AutoMode.load(); };
    hooks.publishBusy = [seen = std::make_shared<int32_t>(-1)](bool busy) {
        LogBotSeen(*seen, busy);
        std::lock_guard<std::mutex> lock(State.mutex);
        State.botRunning = busy;
    };
    return hooks;
}

// Flushes the verified temporary file and renames it over the target.
bool MoveIntoPlace(const std::string& temporary, const std::string& target) {
    for (int32_t attempt = 1;; ++attempt) {
        FileStep step = FlushFileToDisk(temporary);
        if (step == FileStep::Done) {
            step = MoveFileOver(temporary, target);
        }
        if (step != FileStep::Busy || attempt == kMoveAttempts) {
            return step == FileStep::Done;
        }
        SleepMs(kMoveRetryMs);
    }
}

// One place the release files come from, and its name in the log and in kept bytes' records.
struct FilePlace {
    DownloadSource source;
    std::string name;
};

// The update server that served the manifest, then each mirror it names, in order.
std::vector<FilePlace> FilePlacesOf(const ReleaseManifest& manifest) {
    std::vector<FilePlace> places(1);
    places[0].source.server.host = manifest.host;
    places[0].name = "https://" + ServerHostText(manifest.host);
    for (const MirrorBase& mirror : manifest.mirrors) {
        FilePlace place;
        place.source.server.name = mirror.host;
        place.source.server.port = mirror.port;
        place.source.basePath = mirror.path;
        place.name = mirror.url;
        places.push_back(place);
    }
    return places;
}

// Downloads one entry to its temporary name from the first place that delivers it whole and
// with its digest (continuing what a failed pass kept of it where those bytes came from),
// and moves it over `target`. False when the pass has failed (the state already says why).
bool InstallOne(const ReleaseManifest& manifest,
                const std::vector<FilePlace>& places,
                const ManifestFile& entry,
                const std::string& target,
                int64_t base,
                std::string& error) {
    const std::string temporary = TemporaryPathFor(entry);
    CreateParentDirectories(target);
    PartialDownload kept = TakeKeptPartial(entry);
    std::vector<std::string> names;
    for (const FilePlace& place : places) {
        names.push_back(place.name);
    }
    std::vector<FileFault> faults;
    std::vector<std::string> errors;
    for (;;) {
        const SourceStep step = NextFileSource(faults, names, kept.bytes > 0 ? kept.source : std::string());
        if (!step.tryNext) {
            error = errors[step.shown];
            FailUpdate(error);
            return false;
        }
        const FilePlace& place = places[step.source];
        PartialDownload partial = step.resume ? kept : PartialDownload();
        DownloadReport report;
        const uint32_t started = TickCountMs();
        const bool downloaded = DownloadReleaseFile(manifest, entry, temporary, MakeProgressUpdate(base), partial,
                                                    error, &report, &place.source);
        WriteLog(DownloadText({entry.name, report.status, report.bytes, TickCountMs() - started, report.resumedFrom,
                               downloaded ? std::string() : error, place.name}),
                 downloaded ? LogKind::Routine : LogKind::Outcome);
        // The download removed its temporary file unless it kept bytes worth continuing,
        // which are this place's.
        partial.source = partial.bytes > 0 ? place.name : std::string();
        kept = partial;
        SettleKeptPartial(entry, kept);
        if (!downloaded) {
            faults.push_back(FaultOfDownload(report.cause, report.status));
            errors.push_back(error);
            continue;
        }
        std::string digest;
        const bool matches = Sha256FileHex(temporary, digest) && digest == entry.sha256;
        WriteLog(VerifyText(entry.name, matches, digest, place.name),
                 matches ? LogKind::Routine : LogKind::Outcome);
        if (!matches) {
            DeleteFileQuietly(temporary);
            faults.push_back(FileFault::Digest);
            errors.push_back("Plik " + entry.name + " jest uszkodzony (zla suma kontrolna)");
            continue;
        }
        break;
    }
    // The data goes to the disk before the rename, so that a power loss cannot leave the
    // installed name on an empty or torn file.
    const bool moved = MoveIntoPlace(temporary, target);
    WriteLog(MoveText(entry.name, target, moved), moved ? LogKind::Routine : LogKind::Outcome);
    if (!moved) {
        DeleteFileQuietly(temporary);
        FailUpdate("Nie moge zapisac " + entry.name + " (plik otwarty?)");
        return false;
    }
    return true;
}

}  // namespace

const char kStagedUpdater[] = "VorlanePatcher.new.exe";

std::string InstallTargetFor(const ManifestFile& entry) {
    return MakeInstallPath(IsUpdaterEntryName(entry.name) ? kStagedUpdater : entry.name);
}

void RunUpdateInstall(const ReleaseManifest& manifest, std::string& error, const InstallList& list) {
    const uint32_t waitStart = TickCountMs();
    WaitForBotAndConfirmation(RealWaitHooks());
    WriteLog(WaitText(TickCountMs() - waitStart, InstallConfirmed.load(), AutoMode.load()));
    {
        std::lock_guard<std::mutex> lock(State.mutex);
        State.phase = Downloading;
        State.statusText = "Pobieram pliki...";
    }
    const std::vector<FilePlace> places = FilePlacesOf(manifest);
    int64_t base = 0;
    bool staged = false;
    for (const ManifestFile& entry : list.files) {
        {
            std::lock_guard<std::mutex> lock(State.mutex);
            State.currentFile = entry.name;
        }
        if (!InstallOne(manifest, places, entry, InstallTargetFor(entry), base, error)) {
            return;
        }
        staged = staged || IsUpdaterEntryName(entry.name);
        base = AddWrapping(base, entry.size);
        std::lock_guard<std::mutex> lock(State.mutex);
        State.fileIndex += 1;
        State.doneBytes = base;
    }
    {
        std::lock_guard<std::mutex> lock(State.mutex);
        State.installedVersion = GetFileVersionString(MakeInstallPath(kBotExecutableName));
        State.patcherStaged = staged;
    }
    WriteLog(StagedUpdaterText(staged));
    const std::string text = "Zaktualizowano do wersji " + manifest.version;
    std::lock_guard<std::mutex> lock(State.mutex);
    State.phase = Updated;
    State.statusText = text;
}
