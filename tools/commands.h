// The commands of vorlane-release. Each takes the arguments after its name and returns
// the process exit code.
#pragma once

#include <string>
#include <vector>

#include "tools/command_common.h"

using Args = std::vector<std::string>;

int RunKeygen(const Args& args, CommandIo& io);
int RunManifest(const Args& args, CommandIo& io);
int RunDeltas(const Args& args, CommandIo& io);
int RunSign(const Args& args, CommandIo& io);
int RunVerify(const Args& args, CommandIo& io);
int RunCheck(const Args& args, CommandIo& io);
int RunStage(const Args& args, CommandIo& io);
int RunPublish(const Args& args, CommandIo& io);
int RunProbe(const Args& args, CommandIo& io);
int RunRollout(const Args& args, CommandIo& io);
int RunPrune(const Args& args, CommandIo& io);

extern const char kKeygenHelp[];
extern const char kManifestHelp[];
extern const char kDeltasHelp[];
extern const char kSignHelp[];
extern const char kVerifyHelp[];
extern const char kCheckHelp[];
extern const char kStageHelp[];
extern const char kPublishHelp[];
extern const char kProbeHelp[];
extern const char kRolloutHelp[];
extern const char kPruneHelp[];

struct CommandInfo {
    const char* name;
    const char* summary;
    const char* help;
    int (*run)(const Args& args, CommandIo& io);
};

// The commands in the order a release uses them.
const std::vector<CommandInfo>& AllCommands();
// The tool's own help: usage, the commands and the release order.
std::string ToolHelp();
// Runs the command line after the program name.
int RunTool(const Args& args, CommandIo& io);
