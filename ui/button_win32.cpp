#include "ui/button_win32.h"

#include "ui/button_look.h"
#include "ui/draw_primitives_win32.h"
#include "ui/gdi_owners_win32.h"

void DrawButton(HDC dc,
                const UiRect& rect,
                const char* caption,
                bool hovered,
                bool enabled,
                Color accent,
                bool primary,
                HFONT captionFont) {
    const ButtonLook look = GetButtonLook(hovered, enabled, accent, primary);
    const int corner = Layout::kButtonCorner;
    if (look.gradient) {
        // The gradient is clipped to the rounded shape; the outline is drawn after the clip is gone.
        ScopedRegion region(
            CreateRoundRectRgn(rect.left, rect.top, rect.right + 1, rect.bottom + 1, corner, corner));
        ScopedClip clip(dc, region.get());
        FillGradient(dc, rect, look.gradientLeft, look.gradientRight, true);
    } else {
        FillRoundRect(dc, rect, look.fill, corner);
    }
    FrameRoundRect(dc, rect, look.outline, corner);
    DrawLabel(dc, caption, rect, captionFont, look.caption, kCentredFlags);
}
