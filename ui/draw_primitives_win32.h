// The drawing routines the window is made of. Each draws into the given context, creates
// what it needs for this one call, deletes it before returning and undoes every selection
// and clip region it made. The text colour, background mode and the context's own pen and
// brush colours (SetDCPenColor, SetDCBrushColor) are left as the last drawing set them.
#pragma once

#include <windows.h>

#include <cstdint>

#include "ui/color.h"
#include "ui/layout.h"

// The text flag sets of the window.
constexpr UINT kLineFlags = DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX;
constexpr UINT kCentredFlags = kLineFlags | DT_CENTER;
constexpr UINT kWrappedFlags = DT_WORDBREAK | DT_NOPREFIX;
constexpr UINT kEllipsisFlags = kLineFlags | DT_END_ELLIPSIS;

inline RECT ToRECT(const UiRect& r) {
    return RECT{r.left, r.top, r.right, r.bottom};
}

// One GradientFill: first colour at the left (horizontal) or top edge, second at the other.
void FillGradient(HDC dc, const UiRect& rect, Color first, Color second, bool horizontal);
// corner is the diameter of the corner ellipse.
void FillRoundRect(HDC dc, const UiRect& rect, Color color, int corner);
void FrameRoundRect(HDC dc, const UiRect& rect, Color color, int corner);
// DrawTextA of a zero-terminated text; without DT_NOCLIP nothing is drawn outside rect.
void DrawLabel(HDC dc, const char* text, const UiRect& rect, HFONT font, Color color, UINT flags);
void DrawGlowBorder(HDC dc, const UiRect& rect, uint32_t elapsedMs);
// The maker's name letter by letter from (x, y), each letter with a 1-pixel shadow.
void DrawSignature(HDC dc, int x, int y, HFONT font, uint32_t elapsedMs, float saturation, float value);
void DrawProgressBar(HDC dc,
                     const UiRect& rect,
                     uint32_t elapsedMs,
                     Color left,
                     Color right,
                     double fraction);
