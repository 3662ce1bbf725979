#include "tools/commands.h"

#include <ostream>

const std::vector<CommandInfo>& AllCommands() {
    static const std::vector<CommandInfo> commands = {
        {"keygen", "make a new publisher key pair", kKeygenHelp, RunKeygen},
        {"manifest", "write the unsigned manifest of a release folder", kManifestHelp, RunManifest},
        {"deltas", "make binary deltas from older versions, listed in the manifest", kDeltasHelp, RunDeltas},
        {"sign", "sign a manifest with the private key", kSignHelp, RunSign},
        {"verify", "judge a signed manifest as the updater does", kVerifyHelp, RunVerify},
        {"check", "list what the updater would install into a folder", kCheckHelp, RunCheck},
        {"stage", "lay out a signed release as the update server's files", kStageHelp, RunStage},
        {"publish", "upload a staged release: the files first, the manifest last", kPublishHelp, RunPublish},
        {"probe", "fetch and check a release from a live server as the updater does", kProbeHelp, RunProbe},
        {"rollout", "show or change the share of installations the live release reaches", kRolloutHelp,
         RunRollout},
        {"prune", "remove old version folders no live manifest names", kPruneHelp, RunPrune},
    };
    return commands;
}

std::string ToolHelp() {
    std::string text =
        "vorlane-release: keys, manifests, signatures and server trees for Vorlane updates\n"
        "\n"
        "Usage: vorlane-release COMMAND [OPTIONS] [ARGUMENTS]\n"
        "       vorlane-release COMMAND --help\n"
        "\n"
        "Commands:\n";
    for (const CommandInfo& c : AllCommands()) {
        text +=
            "  " + std::string(c.name) + std::string(10 - std::string(c.name).size(), ' ') + c.summary + "\n";
    }
    text +=
        "\n"
        "A release: manifest, [deltas,] sign, verify, stage, publish (the download folder first,\n"
        "the manifest last), probe. \"check\" shows what an installation would receive.\n"
        "In steps: sign --rollout 5, then \"rollout --to 25\", \"rollout --to 100\"; --to 0 halts.\n"
        "Exit status: 0 done, 1 refused or failed (nothing written), 2 wrong usage.\n";
    return text;
}

int RunTool(const Args& args, CommandIo& io) {
    if (args.empty()) {
        io.err << ToolHelp();
        return kExitUsage;
    }
    const std::string& name = args[0];
    if (name == "--help" || name == "-h" || name == "help") {
        if (name == "help" && args.size() > 1) {
            return RunTool({args[1], "--help"}, io);
        }
        io.out << ToolHelp();
        return 0;
    }
    for (const CommandInfo& c : AllCommands()) {
        if (name == c.name) {
            return c.run(Args(args.begin() + 1, args.end()), io);
        }
    }
    io.err << "vorlane-release: unknown command " << name << "\nSee \"vorlane-release --help\".\n";
    return kExitUsage;
}
