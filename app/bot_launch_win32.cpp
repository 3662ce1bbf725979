#include "app/bot_launch_win32.h"

#include <windows.h>
// shellapi.h needs the definitions of windows.h first.
#include <shellapi.h>

#include "sys/install_paths.h"
#include "update/updater_state.h"

void LaunchBot() {
    const std::string bot = MakeInstallPath("Vorlane.exe");
    ShellExecuteA(nullptr, "open", bot.c_str(), nullptr, InstallDir.c_str(), SW_SHOWNORMAL);
}
