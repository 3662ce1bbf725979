#include "ui/draw_primitives_win32.h"

#include <algorithm>

#include "ui/animation.h"
#include "ui/gdi_owners_win32.h"
#include "ui/palette.h"
#include "ui/progress_geometry.h"

namespace {

TRIVERTEX Vertex(int x, int y, Color c) {
    TRIVERTEX v{};
    v.x = x;
    v.y = y;
    v.Red = static_cast<COLOR16>(RedOf(c) * 256);
    v.Green = static_cast<COLOR16>(GreenOf(c) * 256);
    v.Blue = static_cast<COLOR16>(BlueOf(c) * 256);
    v.Alpha = 0;
    return v;
}

void OutlineRoundRect(HDC dc, const UiRect& r, HGDIOBJ pen, HGDIOBJ brush, int corner) {
    ScopedSelect selectPen(dc, pen);
    ScopedSelect selectBrush(dc, brush);
    RoundRect(dc, r.left, r.top, r.right, r.bottom, corner, corner);
}

}  // namespace

void FillGradient(HDC dc, const UiRect& rect, Color first, Color second, bool horizontal) {
    TRIVERTEX vertices[2] = {Vertex(rect.left, rect.top, first), Vertex(rect.right, rect.bottom, second)};
    GRADIENT_RECT joint{0, 1};
    GradientFill(dc, vertices, 2, &joint, 1, horizontal ? GRADIENT_FILL_RECT_H : GRADIENT_FILL_RECT_V);
}

// Rounded shapes are drawn with the context's own solid pen and brush (the DC_PEN and
// DC_BRUSH stock objects) set to the colour: a frame has some 25 of them, and a pen and a
// brush created and deleted for each cost more than the shape itself under Wine.
void FillRoundRect(HDC dc, const UiRect& rect, Color color, int corner) {
    SetDCPenColor(dc, color);
    SetDCBrushColor(dc, color);
    OutlineRoundRect(dc, rect, GetStockObject(DC_PEN), GetStockObject(DC_BRUSH), corner);
}

void FrameRoundRect(HDC dc, const UiRect& rect, Color color, int corner) {
    SetDCPenColor(dc, color);
    OutlineRoundRect(dc, rect, GetStockObject(DC_PEN), GetStockObject(NULL_BRUSH), corner);
}

void DrawLabel(HDC dc, const char* text, const UiRect& rect, HFONT font, Color color, UINT flags) {
    ScopedSelect selectFont(dc, font);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, color);
    RECT r = ToRECT(rect);
    DrawTextA(dc, text, -1, &r, flags);
}

void DrawGlowBorder(HDC dc, const UiRect& rect, uint32_t elapsedMs) {
    for (const GlowRing& ring : GlowRings(rect, elapsedMs)) {
        FrameRoundRect(dc, ring.rect, ring.color, ring.corner);
    }
}

void DrawSignature(HDC dc, int x, int y, HFONT font, uint32_t elapsedMs, float saturation, float value) {
    ScopedSelect selectFont(dc, font);
    SetBkMode(dc, TRANSPARENT);
    // Letters are placed by their own widths, without kerning: GDI measures a text as the sum
    // of its letters' advances, so one call gives every letter's start.
    int ends[16]{};  // the name is six letters
    const int length = std::min(lstrlenA(kSignatureName), 16);
    SIZE whole{};
    GetTextExtentExPointA(dc, kSignatureName, length, 0, nullptr, ends, &whole);
    for (int i = 0; i < length; ++i) {
        const char* letter = &kSignatureName[i];
        const int letterX = x + (i == 0 ? 0 : ends[i - 1]);
        const LetterColors colors = SignatureLetterColors(elapsedMs, i, saturation, value);
        SetTextColor(dc, colors.shadow);
        TextOutA(dc, letterX + 1, y + 1, letter, 1);
        SetTextColor(dc, colors.letter);
        TextOutA(dc, letterX, y, letter, 1);
    }
}

void DrawProgressBar(HDC dc,
                     const UiRect& rect,
                     uint32_t elapsedMs,
                     Color left,
                     Color right,
                     double fraction) {
    FillRoundRect(dc, rect, Palette::Trough, 8);
    const ProgressGeometry g = ComputeProgressGeometry(rect, elapsedMs, left, right, fraction);
    if (!g.filled) {
        return;
    }
    // The fill and the band are confined to the fill's rounded shape.
    ScopedRegion region(
        CreateRoundRectRgn(g.fill.left, g.fill.top, g.fill.right + 1, g.fill.bottom + 1, 8, 8));
    ScopedClip clip(dc, region.get());
    FillGradient(dc, g.fill, left, right, true);
    const int c = g.bandCenter;
    FillGradient(dc, UiRect{c - 40, rect.top, c, rect.bottom}, g.mid, g.high, true);
    FillGradient(dc, UiRect{c, rect.top, c + 40, rect.bottom}, g.high, g.mid, true);
}
