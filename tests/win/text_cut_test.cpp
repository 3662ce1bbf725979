// The painter draws long texts only as far as a line or the notes box can show them; drawn
// in full or cut, the window must look exactly the same.
#include <gtest/gtest.h>

#include <string>

#include "tests/win/paint_canvas.h"
#include "ui/draw_primitives_win32.h"
#include "ui/layout.h"
#include "ui/paint_texts.h"
#include "ui/palette.h"

namespace {

std::string Repeat(const std::string& piece, size_t size) {
    std::string text;
    while (text.size() < size) {
        text += piece;
    }
    text.resize(size);
    return text;
}

int DifferingPixels(const std::string& full,
                    const std::string& cut,
                    const UiRect& rect,
                    HFONT font,
                    UINT flags) {
    DibCanvas a;
    DibCanvas b;
    DrawLabel(a.dc(), full.c_str(), rect, font, Palette::Text, flags);
    DrawLabel(b.dc(), cut.c_str(), rect, font, Palette::Text, flags);
    int differing = 0;
    for (int y = 0; y < 430; ++y) {
        for (int x = 0; x < 620; ++x) {
            differing += a.Pixel(x, y) != b.Pixel(x, y);
        }
    }
    return differing;
}

}  // namespace

TEST(TextCuts, DrawnTheSameCutOrInFull) {
    const size_t n = 100000;
    // Narrow glyphs fill a line with the most characters.
    const std::string lines[] = {Repeat("Wersja poprawek ", n), Repeat("i", n), Repeat(".", n),
                                 Repeat("l ", n)};
    for (const std::string& text : lines) {
        SCOPED_TRACE(text.substr(0, 4));
        EXPECT_EQ(
            DifferingPixels(text, CutForLine(text), Layout::kStatusLine, TestFonts().strongFont, kLineFlags),
            0);
        EXPECT_EQ(DifferingPixels(text, CutForLine(text), Layout::kDetailLine, TestFonts().smallFont,
                                  kEllipsisFlags),
                  0);
    }
    const std::string notes[] = {
        Repeat("Wersja poprawek ", n),
        Repeat("i", n),
        Repeat("i ", n),
        Repeat("a\n", n),
        Repeat("\n", n),
        Repeat("x", 5000) + "\nDruga linia\n" + Repeat("Trzecia ", n),
        Repeat("Krotka linia\n", 7 * 13) + Repeat("dluga ", n),
    };
    for (const std::string& text : notes) {
        SCOPED_TRACE(text.substr(0, 4));
        EXPECT_EQ(
            DifferingPixels(text, CutForNotes(text), Layout::kNotes, TestFonts().bodyFont, kWrappedFlags), 0);
    }
}
