// Starts the installed bot program.
#pragma once

#include <string>

// ShellExecuteA "open" on InstallDir's Vorlane.exe, in InstallDir (CreateProcessW on its "\\?\"
// form when its path is MAX_PATH or longer). True when the bot was started; otherwise
// `reason` names the call and its error code, for the support log.
bool LaunchBot(std::string& reason);
