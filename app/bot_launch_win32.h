// Starts the installed bot program.
#pragma once

// ShellExecuteA "open" on InstallDir's Vorlane.exe, in InstallDir; a failure goes unnoticed.
void LaunchBot();
