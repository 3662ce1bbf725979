// One button of the window in its disabled, primary or secondary look.
#pragma once

#include <windows.h>

#include "ui/color.h"
#include "ui/layout.h"

// accent is used only by the primary look; the caption is drawn centred in captionFont
// (the window's strong font).
void DrawButton(HDC dc,
                const UiRect& rect,
                const char* caption,
                bool hovered,
                bool enabled,
                Color accent,
                bool primary,
                HFONT captionFont);
