#include "ui/painter_win32.h"

#include "ui/animation.h"
#include "ui/button_look.h"
#include "ui/button_win32.h"
#include "ui/draw_primitives_win32.h"
#include "ui/gdi_owners_win32.h"
#include "ui/hit_test.h"
#include "ui/paint_texts.h"
#include "ui/palette.h"
#include "ui/phase_view.h"
#include "update/updater_state.h"

namespace {

// The footer's web address of the maker.
constexpr char kFooterAddress[] = "vorlane.app";

SIZE TextSize(HDC dc, const char* text, int length) {
    SIZE size{};
    GetTextExtentPoint32A(dc, text, length, &size);
    return size;
}

void DrawHeader(HDC dc, int hoverTarget, const UiFonts& fonts) {
    DrawLabel(dc, "Vorlane", Layout::kTitle, fonts.titleFont, Palette::Text, kLineFlags);
    int titleWidth = 0;
    {
        ScopedSelect selectFont(dc, fonts.titleFont);
        titleWidth = TextSize(dc, "Vorlane", 7).cx;
    }
    UiRect subtitle = Layout::kSubtitle;
    subtitle.left = Layout::kTitle.left + titleWidth + Layout::kSubtitleGap;
    DrawLabel(dc, "UPDATER", subtitle, fonts.subtitleFont, Palette::AccentViolet, kLineFlags);

    const bool glyphHovered = hoverTarget == CloseGlyph;
    if (glyphHovered) {
        FillRoundRect(dc, Layout::kCloseGlyph, Palette::PanelHover, Layout::kCloseGlyphCorner);
    }
    DrawLabel(dc, "x", Layout::kCloseGlyph, fonts.bodyFont, glyphHovered ? Palette::Text : Palette::TextMuted,
              kCentredFlags);
}

void DrawSpinner(HDC dc, uint32_t elapsedMs) {
    for (const SpinnerDot& dot : SpinnerDots(elapsedMs)) {
        FillRoundRect(dc, dot.rect, dot.color, 5);
    }
}

void DrawNotesPanel(HDC dc, const PaintSnapshot& s, uint32_t elapsedMs, const UiFonts& fonts) {
    FillRoundRect(dc, Layout::kNotesPanel, Palette::Panel, Layout::kNotesPanelCorner);
    FrameRoundRect(dc, Layout::kNotesPanel, Palette::Border, Layout::kNotesPanelCorner);
    DrawLabel(dc, "CO NOWEGO", Layout::kPanelHeading, fonts.smallFont, Palette::TextDim, kLineFlags);
    if (s.phase == Checking) {
        DrawSpinner(dc, elapsedMs);
        DrawLabel(dc, "Laczenie z serwerem...", Layout::kConnecting, fonts.bodyFont, Palette::TextMuted,
                  kLineFlags);
    } else {
        // Notes longer than the box are cut off at its bottom edge.
        DrawLabel(dc, CutForNotes(NotesText(s)).c_str(), Layout::kNotes, fonts.bodyFont, Palette::Text,
                  kWrappedFlags);
    }
}

void DrawButtons(HDC dc, const PaintSnapshot& s, int hoverTarget, const UiFonts& fonts) {
    const MainButtonState main = MainButtonFor(s.phase, s.botRunning);
    DrawButton(dc, Layout::kMainButton, main.caption, hoverTarget == MainButton, main.enabled, main.accent,
               true, fonts.strongFont);
    DrawButton(dc, Layout::kCloseButton, kCloseCaption, hoverTarget == CloseButton,
               CloseButtonEnabled(s.phase), Palette::Accent, false, fonts.strongFont);
}

void DrawFooter(HDC dc, uint32_t elapsedMs, const UiFonts& fonts) {
    FillGradient(dc, Layout::kFooterSeparator, Palette::BackgroundBottom, Palette::Border, true);
    DrawLabel(dc, kFooterAddress, Layout::kFooterAddress, fonts.smallFont, Palette::TextDim, kLineFlags);

    // "By " and the name end at the right margin; the text cell is centred in the footer.
    ScopedSelect selectFont(dc, fonts.signatureFont);
    const int byWidth = TextSize(dc, "By ", 3).cx;
    const int nameWidth = TextSize(dc, kSignatureName, 6).cx;
    TEXTMETRICA metrics{};
    GetTextMetricsA(dc, &metrics);
    const int x0 = Layout::kSignatureRight - (byWidth + nameWidth);
    const int y = (Layout::kFooterTop + Layout::kFooterBottom - metrics.tmHeight) / 2;
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, Palette::TextDim);
    TextOutA(dc, x0, y, "By ", 3);
    DrawSignature(dc, x0 + byWidth, y, fonts.signatureFont, elapsedMs, kSignatureSaturation, kSignatureValue);
}

}  // namespace

void DrawWindowContents(HDC dc,
                        const PaintSnapshot& s,
                        uint32_t elapsedMs,
                        int hoverTarget,
                        const UiFonts& fonts) {
    FillGradient(dc, Layout::kWindow, Palette::BackgroundTop, Palette::BackgroundBottom, false);
    FillGradient(dc, Layout::kTopBar, Palette::Accent, TopBarRightColor(elapsedMs), true);
    DrawHeader(dc, hoverTarget, fonts);

    const std::string versionLine = FormatVersionLine(s.installedVersion, s.latestVersion);
    DrawLabel(dc, versionLine.c_str(), Layout::kVersionLine, fonts.bodyFont, Palette::TextMuted, kLineFlags);
    DrawNotesPanel(dc, s, elapsedMs, fonts);
    DrawLabel(dc, CutForLine(s.statusText).c_str(), Layout::kStatusLine, fonts.strongFont,
              StatusColor(s.phase), kLineFlags);
    DrawProgressBar(dc, Layout::kProgressBar, elapsedMs, Palette::Accent, Palette::AccentViolet,
                    ProgressFraction(s));
    const DetailLine detail = DetailLineFor(s);
    DrawLabel(dc, CutForLine(detail.text).c_str(), Layout::kDetailLine, fonts.smallFont, detail.color,
              kEllipsisFlags);

    DrawButtons(dc, s, hoverTarget, fonts);
    DrawFooter(dc, elapsedMs, fonts);
    DrawGlowBorder(dc, Layout::kWindow, elapsedMs);  // over everything drawn so far
}

void PaintFrame(HDC target,
                const PaintSnapshot& snapshot,
                uint32_t elapsedMs,
                int hoverTarget,
                const UiFonts& fonts) {
    // The bitmap has the target's colour format, so the final copy is a plain blit.
    ScopedMemoryDC memory(target);
    ScopedBitmap bitmap(CreateCompatibleBitmap(target, Layout::kWindowWidth, Layout::kWindowHeight));
    if (!memory.get() || !bitmap.get()) {
        return;  // this frame is skipped; the next timer tick paints again
    }
    ScopedSelect selectBitmap(memory.get(), bitmap.get());
    DrawWindowContents(memory.get(), snapshot, elapsedMs, hoverTarget, fonts);
    BitBlt(target, 0, 0, Layout::kWindowWidth, Layout::kWindowHeight, memory.get(), 0, 0, SRCCOPY);
}

void PaintWindow(HWND window) {
    ScopedPaint paint(window);
    const uint32_t elapsedMs = GetTickCount() - StartTick;  // wraps after 49.7 days, like the tick
    const PaintSnapshot snapshot = TakePaintSnapshot(State);
    PaintFrame(paint.dc(), snapshot, elapsedMs, HoverTarget, Fonts());
}
