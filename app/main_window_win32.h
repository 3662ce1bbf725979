// The one window of the program: its class, creation and window procedure.
#pragma once

#include <windows.h>

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Registers "VorlanePatcherWnd", creates the rounded 620 x 430 popup centred on the primary
// screen, shows it and starts its 33 ms animation timer. Failures are not detected.
HWND CreateMainWindow(HINSTANCE instance);
