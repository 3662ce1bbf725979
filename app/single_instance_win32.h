// One pass per installation folder: a second updater started beside a running one shows
// the running one's window and leaves.
#pragma once

#include <windows.h>

#include <string>

// Takes the folder's named mutex for the life of the process; false when another updater
// of the same folder holds it already.
bool ClaimInstallFolder(const std::string& installDir);
// Marks `window` as the window of the folder's updater, for a second instance to find.
void MarkFolderWindow(HWND window, const std::string& installDir);
// Brings the window of the folder's running updater to the front, waiting a few seconds
// for it to appear (the first instance may still be starting).
void ShowFolderWindow(const std::string& installDir);
