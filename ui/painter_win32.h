// Paints the whole window from a snapshot of the update state: background, header,
// version line, notes panel (or the spinner while checking), status, progress, detail
// line, buttons, footer and the animated border.
#pragma once

#include <windows.h>

#include <cstdint>

#include "ui/paint_snapshot.h"
#include "ui/ui_fonts_win32.h"

// The WM_PAINT handler: BeginPaint, a snapshot of State under its lock, the frame drawn
// off-screen at GetTickCount() - StartTick with HoverTarget and Fonts(), one BitBlt, EndPaint.
// The window procedure must answer WM_ERASEBKGND without erasing.
void PaintWindow(HWND window);

// Draws one frame off-screen (a memory context and a bitmap compatible with target) and
// copies it to target at (0, 0) in one BitBlt.
void PaintFrame(HDC target,
                const PaintSnapshot& snapshot,
                uint32_t elapsedMs,
                int hoverTarget,
                const UiFonts& fonts);

// Draws every element of the window, in order, straight into dc (620 x 430 pixels).
void DrawWindowContents(HDC dc,
                        const PaintSnapshot& snapshot,
                        uint32_t elapsedMs,
                        int hoverTarget,
                        const UiFonts& fonts);
