// The process entry: start-up values, fonts, the window, the first pass, the message loop.
#include <windows.h>

#include "app/main_window_win32.h"
#include "app/module_path_win32.h"
#include "app/single_instance_win32.h"
#include "app/start_up.h"
#include "app/user_actions.h"
#include "sys/support_log.h"
#include "ui/ui_fonts_win32.h"
#include "update/install_records.h"
#include "update/pass_log_texts.h"
#include "update/updater_state.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
    AutoMode = HasAutoSwitch(commandLine);
    // Before anything is named after the folder: started through an 8.3 form (a bot in a deep
    // folder starts the updater so), the folder still names the lock and the bot as it does
    // when started through the long form.
    InstallDir = ReadInstallDir();
    // A second updater of the same folder would download into the same temporary files
    // and start a second bot: it leaves its start to the first one instead.
    if (!ClaimFolderOrHandOver(InstallDir, AutoMode)) {
        return 0;
    }
    SetCurrentDirectoryA(InstallDir.c_str());
    OpenSupportLog();
    // Kept for every later start (the bot writes the same file); a name that is no channel
    // changes nothing and is logged.
    std::string channel;
    if (ReadChannelSwitch(commandLine, channel)) {
        FollowChannel(channel);
    }
    Fonts() = CreateUiFonts();
    HWND window = CreateMainWindow(instance);
    MarkFolderWindow(window, InstallDir);
    StartTick = GetTickCount();
    // The first frame is painted before the pass starts, so that the worker's start (the bot's
    // version, loading WinHTTP and TLS) does not compete with it for the processor; it already
    // shows the status the pass begins with.
    SetPhaseAndStatus(Checking, kCheckingStatus);
    UpdateWindow(window);
    StartWorker();

    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }

    // A pass still running (checking, or waiting for confirmation) ends with the process.
    if (WorkerThread.joinable()) {
        WorkerThread.detach();
    }
    WriteLog(ExitText(ReadPhase()), LogKind::Outcome);
    ExitProcess(0);
}
