// Painting with texts of any length from the manifest or the disk, and painting for a long
// time: nothing may be drawn outside a text's own line, and no GDI object may be left over.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/win/paint_canvas.h"
#include "ui/hit_test.h"
#include "ui/layout.h"
#include "ui/painter_win32.h"

namespace {

// A 100,000-byte text: words to wrap, and one endless word.
std::string HugeText(bool words) {
    std::string text;
    while (text.size() < 100000) {
        text += words ? "Wersja poprawek " : "x7";
    }
    text.resize(100000);
    return text;
}

PaintSnapshot Filled(int32_t phase, const std::string& text) {
    PaintSnapshot s;
    s.phase = phase;
    s.installedVersion = text;
    s.latestVersion = text;
    s.releaseNotes = text;
    s.statusText = text;
    s.currentFile = text;
    s.errorDetail = text;
    s.fileCount = 7;
    s.fileIndex = 3;
    s.totalBytes = 1 << 20;
    s.doneBytes = 1 << 19;
    s.botRunning = true;
    s.patcherStaged = true;
    return s;
}

// The lines whose text comes from the state; everything else must not change with it.
bool InTextLine(int x, int y) {
    for (const UiRect& r : {Layout::kVersionLine, Layout::kNotes, Layout::kStatusLine, Layout::kDetailLine}) {
        if (Contains(r, x, y)) {
            return true;
        }
    }
    return false;
}

// How many more GDI objects this process could create now: the per-process quota on
// Windows, the handle table under Wine. Its change counts live objects exactly.
int GdiHeadroom() {
    std::vector<HBRUSH> brushes;
    for (HBRUSH b; brushes.size() < 200000 && (b = CreateSolidBrush(RGB(1, 2, 3))) != nullptr;) {
        brushes.push_back(b);
    }
    for (HBRUSH b : brushes) {
        DeleteObject(b);
    }
    return static_cast<int>(brushes.size());
}

}  // namespace

TEST(PaintedWindow, OverlongTextsStayInsideTheirLines) {
    for (int32_t phase = Checking; phase <= Failed; ++phase) {
        for (bool words : {true, false}) {
            SCOPED_TRACE(testing::Message() << "phase " << phase << (words ? " words" : " one word"));
            DibCanvas shortTexts;
            DibCanvas longTexts;
            PaintFrame(shortTexts.dc(), Filled(phase, "2.0"), 0, None, TestFonts());
            PaintFrame(longTexts.dc(), Filled(phase, HugeText(words)), 0, None, TestFonts());
            int outside = 0;
            for (int y = 0; y < 430; ++y) {
                for (int x = 0; x < 620; ++x) {
                    outside += !InTextLine(x, y) && shortTexts.Pixel(x, y) != longTexts.Pixel(x, y);
                }
            }
            EXPECT_EQ(outside, 0);
            if (phase == Failed && words) {
                EXPECT_TRUE(longTexts.SaveArtifact("5_failed_overlong_texts"));
            }
        }
    }
}

TEST(PaintedWindow, NoGdiObjectLeakOver10000Paints) {
    const PaintSnapshot phases[] = {Filled(Checking, "1.0"), Filled(UpdateAvailable, "1.0"),
                                    Filled(Downloading, "1.0"), Filled(Failed, "1.0")};
    const int hovers[] = {None, MainButton, CloseButton, CloseGlyph};
    DibCanvas canvas;
    auto paint = [&](int count) {
        for (int i = 0; i < count; ++i) {
            PaintFrame(canvas.dc(), phases[i % 4], static_cast<uint32_t>(i) * 33u, hovers[(i / 4) % 4],
                       TestFonts());
        }
    };
    paint(10);
    const int headroomAfter10 = GdiHeadroom();
    const DWORD countedAfter10 = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);  // 0 under Wine
    // The measure sees a single object left alive.
    HBRUSH kept = CreateSolidBrush(RGB(4, 5, 6));
    EXPECT_EQ(GdiHeadroom(), headroomAfter10 - 1);
    DeleteObject(kept);

    paint(10000);
    EXPECT_EQ(GdiHeadroom(), headroomAfter10);
    EXPECT_EQ(GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS), countedAfter10);
    RecordProperty("gdi_headroom", headroomAfter10);
}
