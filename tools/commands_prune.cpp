// prune: removes the version folders under download/ that no live manifest names and that
// are older than the last N releases, from any destination form publish writes.
#include <algorithm>
#include <filesystem>
#include <map>
#include <ostream>
#include <set>

#include "tools/atomic_file.h"
#include "tools/cli_args.h"
#include "tools/commands.h"
#include "tools/prune_choice.h"
#include "tools/rclone_destination.h"
#include "tools/rclone_transfer.h"
#include "tools/rsync_destination.h"

extern const char kPruneHelp[] =
    "Usage: vorlane-release prune --keep N [--dry-run] DEST\n"
    "\n"
    "Removes old version folders DEST/download/<version>/ from DEST, in any form publish\n"
    "takes (a local folder, an rsync destination over ssh or a daemon, rclone:REMOTE:PATH).\n"
    "A folder is removed only when both hold:\n"
    "  - no live manifest names its version: neither the manifest DEST serves nor any\n"
    "    channel's manifest (D/<channel>/F beside the manifest D/F) that DEST holds;\n"
    "  - it is not one of the newest N versions there, ordered part by part between the\n"
    "    dots, digits by their value (1.10 after 1.9, 2.0 after 1.10).\n"
    "So installations that are behind but on a live manifest never lose their files.\n"
    "A live manifest that cannot be read as one, or a DEST with no manifest at all, stops\n"
    "prune before anything is removed. --dry-run prints what would go and removes nothing.\n"
    "rsync destinations are changed by rsync's own --delete, never a shell on the server.\n";

namespace fs = std::filesystem;

namespace {

const char kCmd[] = "prune";

enum class Form { Local, Rsync, Rclone };

struct Site {
    Form form = Form::Local;
    std::string dest;      // as given
    std::string remote;    // rclone's name of the place (Rclone)
    std::string download;  // the real folder download/ lies in (Rsync); "" when absent
};

std::string Place(const Site& site, const std::string& relative) {
    return site.form == Form::Rclone ? RcloneObject(site.remote, relative)
                                     : DestinationPath(site.dest, relative);
}

std::string JoinRelative(const std::string& folder, const std::string& name) {
    return folder.empty() ? name : folder + "/" + name;
}

// The manifests DEST holds as D/F and D/<channel>/F: their place relative to DEST and body.
bool ReadLiveManifests(const Site& site,
                       const std::string& folder,
                       const std::string& file,
                       std::map<std::string, std::string>& bodies,
                       std::string& error) {
    std::vector<std::string> found;  // relative to `folder`
    if (site.form == Form::Local) {
        const fs::path base = fs::path(site.dest) / folder;
        std::error_code ec;
        if (fs::is_regular_file(base / file, ec)) {
            found.push_back(file);
        }
        if (fs::is_directory(base, ec)) {
            for (const auto& entry : fs::directory_iterator(base, ec)) {
                if (entry.is_directory(ec) && fs::is_regular_file(entry.path() / file, ec)) {
                    found.push_back(entry.path().filename().string() + "/" + file);
                }
            }
        }
        if (ec) {
            error = base.string() + ": " + ec.message();
            return false;
        }
        for (const std::string& f : found) {
            if (!ReadWholeFile((base / f).string(), bodies[JoinRelative(folder, f)], error)) {
                return false;
            }
        }
        return true;
    }
    if (site.form == Form::Rclone) {
        std::vector<RcloneEntry> entries;
        if (!RcloneList(RcloneObject(site.remote, folder), 2, false, entries, error)) {
            return false;
        }
        for (const RcloneEntry& e : entries) {
            const size_t slash = e.path.find('/');
            if (!e.isFolder &&
                (e.path == file || (slash != std::string::npos && e.path.substr(slash + 1) == file))) {
                if (!RcloneReadObject(RcloneObject(site.remote, JoinRelative(folder, e.path)),
                                      bodies[JoinRelative(folder, e.path)], error)) {
                    return false;
                }
            }
        }
        return true;
    }
    if (file.find_first_of("*?[\\") != std::string::npos) {
        error = file + ": a manifest name rsync's filters would take for a pattern";
        return false;
    }
    std::vector<DestinationFolder> places = {{folder, "", ""}};
    if (!LocateDestinationFolders(site.dest, places, error)) {
        return false;
    }
    if (!places[0].below.empty()) {
        return true;  // no such folder: no manifest
    }
    std::map<std::string, DestinationEntry> entries;
    // Links followed: a channel folder that is a link still holds a live manifest.
    if (!ListDestinationByRules(places[0].folder,
                                {"--include=/" + file, "--include=/*/", "--include=/*/" + file}, true,
                                entries, error)) {
        return false;
    }
    TemporaryFolder temp;
    for (const auto& [name, entry] : entries) {
        const size_t slash = name.find('/');
        if (entry.isFolder ||
            !(name == file || (slash != std::string::npos && name.substr(slash + 1) == file))) {
            continue;
        }
        const std::string copy = temp.path() + "/manifest";
        if (temp.path().empty() || !FetchFromDestination(places[0].folder, name, copy, error) ||
            !ReadWholeFile(copy, bodies[JoinRelative(folder, name)], error)) {
            return false;
        }
    }
    return true;
}

// The version folders directly under DEST/download/.
bool ListVersionFolders(Site& site, std::vector<std::string>& versions, std::string& error) {
    versions.clear();
    if (site.form == Form::Local) {
        const fs::path base = fs::path(site.dest) / "download";
        std::error_code ec;
        if (!fs::is_directory(base, ec)) {
            return true;
        }
        for (const auto& entry : fs::directory_iterator(base, ec)) {
            if (entry.is_directory(ec)) {
                versions.push_back(entry.path().filename().string());
            }
        }
        if (ec) {
            error = base.string() + ": " + ec.message();
            return false;
        }
        return true;
    }
    if (site.form == Form::Rclone) {
        std::vector<RcloneEntry> entries;
        if (!RcloneList(RcloneObject(site.remote, "download"), 1, true, entries, error)) {
            return false;
        }
        for (const RcloneEntry& e : entries) {
            versions.push_back(e.path);
        }
        return true;
    }
    std::vector<DestinationFolder> places = {{"download", "", ""}};
    if (!LocateDestinationFolders(site.dest, places, error)) {
        return false;
    }
    if (!places[0].below.empty()) {
        return true;
    }
    site.download = places[0].folder;
    std::map<std::string, DestinationEntry> entries;
    if (!ListDestinationByRules(site.download, {"--include=/*/"}, false, entries, error)) {
        return false;
    }
    for (const auto& [name, entry] : entries) {
        if (entry.isFolder && name.find('/') == std::string::npos) {
            versions.push_back(name);
        }
    }
    return true;
}

bool RemoveVersions(const Site& site, const std::vector<std::string>& versions, std::string& error) {
    if (site.form == Form::Rsync) {
        return RemoveFromDestination(site.download, versions, error);
    }
    for (const std::string& v : versions) {
        if (site.form == Form::Rclone) {
            if (!RclonePurge(RcloneObject(site.remote, "download/" + v), error)) {
                return false;
            }
            continue;
        }
        std::error_code ec;
        fs::remove_all(fs::path(site.dest) / "download" / v, ec);
        if (ec) {
            error = Place(site, "download/" + v) + ": " + ec.message();
            return false;
        }
    }
    return true;
}

}  // namespace

int RunPrune(const Args& argv, CommandIo& io) {
    // --dry-run takes no value; the rest as every command reads them.
    Args rest;
    bool dryRun = false;
    for (size_t i = 0; i < argv.size(); ++i) {
        if (argv[i] == "--") {
            rest.insert(rest.end(), argv.begin() + i, argv.end());
            break;
        }
        if (argv[i] == "--dry-run") {
            dryRun = true;
        } else {
            rest.push_back(argv[i]);
        }
    }
    ParsedArgs args;
    std::string error;
    if (!ParseArgs(rest, {"keep"}, args, error)) {
        return UsageError(io, kCmd, error);
    }
    std::string manifestRelative;
    if (!ManifestPathUnderRoot(manifestRelative, error)) {
        return Fail(io, kCmd, error);
    }
    if (args.help) {
        io.out << kPruneHelp << "The manifest path of this build: DEST/" << manifestRelative << "\n";
        return 0;
    }
    std::string keepText;
    if (!SingleValue(args, "keep", true, keepText, error)) {
        return UsageError(io, kCmd, error);
    }
    if (keepText.empty() || keepText.size() > 4 ||
        keepText.find_first_not_of("0123456789") != std::string::npos || std::stoi(keepText) < 1) {
        return UsageError(io, kCmd,
                          "--keep " + keepText + ": give how many of the newest versions stay (1 or more)");
    }
    if (args.positionals.size() != 1) {
        return UsageError(io, kCmd, args.positionals.empty() ? "DEST is missing" : "give exactly one DEST");
    }
    Site site;
    site.dest = args.positionals.front();
    if (IsRcloneDestination(site.dest)) {
        site.form = Form::Rclone;
        if (!ParseRcloneDestination(site.dest, site.remote, error)) {
            return UsageError(io, kCmd, error);
        }
    } else if (!IsLocalDestination(site.dest)) {
        site.form = Form::Rsync;
    } else if (!fs::is_directory(site.dest)) {
        return Fail(io, kCmd, site.dest + ": no such folder");
    }

    const fs::path manifestPath(manifestRelative);
    std::map<std::string, std::string> bodies;
    if (!ReadLiveManifests(site, manifestPath.parent_path().string(), manifestPath.filename().string(),
                           bodies, error)) {
        return Fail(io, kCmd, error + " (nothing was removed)");
    }
    if (bodies.empty()) {
        return Fail(io, kCmd,
                    Place(site, manifestRelative) +
                        ": no manifest there, so nothing tells which versions are live (nothing was "
                        "removed)");
    }
    std::set<std::string> live;
    std::map<std::string, std::string> namedBy;
    for (const auto& [where, body] : bodies) {
        LoadedManifest loaded;
        loaded.body = body;
        if (!JudgeManifestBody(nullptr, loaded, error)) {
            return Fail(io, kCmd,
                        Place(site, where) + ": " + error +
                            "; which version it names is unknown (nothing was removed)");
        }
        live.insert(loaded.manifest.version);
        namedBy[loaded.manifest.version] += (namedBy[loaded.manifest.version].empty() ? "" : ", ") + where;
        io.out << "live    " << where << ": version " << loaded.manifest.version << "\n";
    }
    std::vector<std::string> present;
    if (!ListVersionFolders(site, present, error)) {
        return Fail(io, kCmd, error + " (nothing was removed)");
    }
    const size_t keep = static_cast<size_t>(std::stoi(keepText));
    const PruneChoice choice = ChoosePrune(present, live, keep);
    for (const std::string& v : choice.keep) {
        io.out << "keep    download/" << v
               << "/: " << (live.count(v) ? "named by " + namedBy[v] : "one of the newest " + keepText)
               << "\n";
    }
    for (const std::string& v : choice.remove) {
        io.out << (dryRun ? "would remove " : "remove  ") << Place(site, "download/" + v) << "/\n";
    }
    if (dryRun) {
        io.out << "Dry run: " << choice.remove.size()
               << " version folder(s) would be removed; nothing was removed\n";
        return 0;
    }
    if (!choice.remove.empty() && !RemoveVersions(site, choice.remove, error)) {
        return Fail(io, kCmd, error);
    }
    io.out << "Removed " << choice.remove.size() << " version folder(s); kept " << choice.keep.size() << "\n";
    return 0;
}
