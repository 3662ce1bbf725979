// Where everything sits in the 620 x 430 window, in client pixels. Right and bottom edges
// are exclusive, as GDI treats them.
#pragma once

#include <cstdint>

struct UiRect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;
};

// The PtInRect rule: left <= x < right and top <= y < bottom.
constexpr bool Contains(const UiRect& r, int x, int y) {
    return r.left <= x && x < r.right && r.top <= y && y < r.bottom;
}

namespace Layout {
constexpr int kWindowWidth = 620;
constexpr int kWindowHeight = 430;
constexpr UiRect kWindow{0, 0, kWindowWidth, kWindowHeight};

constexpr UiRect kTopBar{0, 0, kWindowWidth, 4};
constexpr UiRect kTitle{32, 22, 400, 60};
// The subtitle starts this far after the measured end of the title.
constexpr int kSubtitleGap = 8;
constexpr UiRect kSubtitle{0, 32, 400, 56};  // left = title left + title width + gap
constexpr UiRect kVersionLine{34, 68, 588, 90};
constexpr UiRect kNotesPanel{32, 102, 588, 236};
constexpr int kNotesPanelCorner = 14;
constexpr UiRect kPanelHeading{48, 112, 572, 130};
constexpr UiRect kNotes{48, 136, 572, 226};
constexpr UiRect kConnecting{80, 150, 572, 178};
constexpr int kSpinnerCenterX = 60;
constexpr int kSpinnerCenterY = 164;
constexpr UiRect kStatusLine{34, 248, 588, 272};
constexpr UiRect kProgressBar{32, 278, 588, 292};
constexpr UiRect kDetailLine{34, 298, 588, 320};

constexpr UiRect kMainButton{228, 338, 438, 378};
constexpr UiRect kCloseButton{448, 338, 588, 378};
constexpr UiRect kCloseGlyph{578, 12, 606, 40};
constexpr int kButtonCorner = 10;
constexpr int kCloseGlyphCorner = 8;

constexpr UiRect kFooterSeparator{32, 392, 588, 393};
constexpr UiRect kFooterAddress{34, 396, 300, 422};
// The signature is right-aligned to end here, its text cell centred between these rows.
constexpr int kSignatureRight = 586;
constexpr int kFooterTop = 396;
constexpr int kFooterBottom = 422;
}  // namespace Layout
