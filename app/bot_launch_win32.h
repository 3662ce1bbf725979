// Starts the installed bot program.
#pragma once

// ShellExecuteA "open" on InstallDir's Vorlane.exe, in InstallDir (CreateProcessW on its "\\?\"
// form when its path is MAX_PATH or longer); a failure goes unnoticed.
void LaunchBot();
