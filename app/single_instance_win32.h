// One pass per installation folder. A second updater started beside a running one leaves
// its intent with the running one (an "--auto" start asks it to go on in auto mode, which
// ends with the bot started) and ends; it runs the pass itself once the first has ended.
#pragma once

#include <windows.h>

#include <string>

// Sent by a second "--auto" start to the folder's window: wParam and lParam hold the low and
// high halves of the folder's key. The window answers 1 when it goes on in auto mode.
constexpr UINT kContinueInAutoMode = WM_APP + 1;

// True when this process now holds the folder's lock and runs the pass. False when the
// folder's running updater took over the start's intent (the window is shown; with
// `autoMode` it also went over to auto mode), or did not answer within a minute.
bool ClaimFolderOrHandOver(const std::string& installDir, bool autoMode);
// Gives the lock back (window thread, which claimed it), so that a next updater can start
// at once; the process ends with the lock given back in any case.
void ReleaseInstallFolder();
// Marks `window` as the window of the folder's updater, for a second instance to find.
void MarkFolderWindow(HWND window, const std::string& installDir);
// True when a kContinueInAutoMode message names this folder.
bool IsHandOverForFolder(WPARAM wParam, LPARAM lParam, const std::string& installDir);
