// The whole window painted into memory under Wine, phase by phase, checked on pixels that
// do not depend on the font (Wine has no Segoe UI). Each phase leaves a PNG under
// <build>/artifacts/ui to look at.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/win/paint_canvas.h"
#include "ui/animation.h"
#include "ui/hit_test.h"
#include "ui/painter_win32.h"
#include "ui/palette.h"

namespace {

// Near-equality for gradient pixels, which sit one pixel inside the gradient's ends.
#define EXPECT_NEAR_COLOR(actual, expected, tolerance)            \
    EXPECT_LE(ChannelDistance((actual), (expected)), (tolerance)) \
        << std::hex << "actual 0x" << (actual) << " expected 0x" << (expected)

struct Scene {
    const char* name;
    PaintSnapshot snapshot;
    int hover;
    // The main button at its left and right ends inside the outline, and the outline.
    Color mainLeft, mainRight, mainOutline;
    Color closeFill, closeOutline;
};

PaintSnapshot Snapshot(int32_t phase, const char* status) {
    PaintSnapshot s;
    s.phase = phase;
    s.statusText = status;
    if (phase != Checking) {
        s.installedVersion = "2.4.1";
        s.latestVersion = "2.5.0";
        s.releaseNotes = "Nowa mapa polnocna i szybsze wyszukiwanie.\nPoprawki stabilnosci.";
    }
    return s;
}

std::vector<Scene> Scenes() {
    std::vector<Scene> scenes;
    scenes.push_back({"0_checking", Snapshot(Checking, "Sprawdzam najnowsza wersje..."), None, Palette::Panel,
                      Palette::Panel, Palette::Border, Palette::Panel, Palette::Border});
    scenes.push_back({"1_up_to_date_close_hovered", Snapshot(UpToDate, "Masz najnowsza wersje"), CloseButton,
                      ColorFromHex(0x3A9762), ColorFromHex(0x215638), Palette::Success, Palette::PanelHover,
                      Palette::TextMuted});

    PaintSnapshot offer = Snapshot(UpdateAvailable, "Dostepna aktualizacja");
    offer.fileCount = 3;
    offer.totalBytes = 5767168;
    scenes.push_back({"2_update_available_main_hovered", offer, MainButton, ColorFromHex(0x529EE5),
                      ColorFromHex(0x32608C), Palette::Accent, Palette::Panel, Palette::Border});
    offer.botRunning = true;
    // Hovering a disabled button changes nothing in its look; the glyph still lights up.
    scenes.push_back({"2_update_available_bot_running", offer, CloseGlyph, Palette::Panel, Palette::Panel,
                      Palette::Border, Palette::Panel, Palette::Border});

    PaintSnapshot download = Snapshot(Downloading, "Pobieram pliki...");
    download.fileCount = 5;
    download.fileIndex = 2;
    download.currentFile = "data/maps/north.bin";
    download.totalBytes = 4194304;
    download.doneBytes = 2097152;
    scenes.push_back({"3_downloading_close_hovered", download, CloseButton, Palette::Panel, Palette::Panel,
                      Palette::Border, Palette::Panel, Palette::Border});

    PaintSnapshot updated = Snapshot(Updated, "Zaktualizowano do wersji 2.5.0");
    updated.patcherStaged = true;
    scenes.push_back({"4_updated", updated, None, ColorFromHex(0x3A9762), ColorFromHex(0x215638),
                      Palette::Success, Palette::Panel, Palette::Border});

    PaintSnapshot failed = Snapshot(Failed, "Aktualizacja nie powiodla sie");
    failed.errorDetail = "Nie udalo sie pobrac pliku data/maps/north.bin";
    scenes.push_back({"5_failed_main_hovered", failed, MainButton, ColorFromHex(0xD9A244),
                      ColorFromHex(0x856329), Palette::Warning, Palette::Panel, Palette::Border});
    scenes.push_back({"5_failed", failed, None, ColorFromHex(0xA97E35), ColorFromHex(0x60481E),
                      Palette::Warning, Palette::Panel, Palette::Border});
    return scenes;
}

// The background's vertical gradient at row y, away from everything drawn over it.
Color BackgroundAt(int y) {
    return Rgb(0x17 + (0x0B - 0x17) * y / 430, 0x1A + (0x0D - 0x1A) * y / 430,
               0x24 + (0x12 - 0x24) * y / 430);
}

}  // namespace

TEST(PaintedWindow, EveryPhaseShowsItsFontFreePixels) {
    for (const Scene& scene : Scenes()) {
        SCOPED_TRACE(scene.name);
        DibCanvas canvas;
        PaintFrame(canvas.dc(), scene.snapshot, 0, scene.hover, TestFonts());
        EXPECT_TRUE(canvas.SaveArtifact(scene.name));
        const int32_t phase = scene.snapshot.phase;

        EXPECT_NEAR_COLOR(canvas.Pixel(500, 8), BackgroundAt(8), 1);
        EXPECT_NEAR_COLOR(canvas.Pixel(310, 425), BackgroundAt(425), 1);
        // The top bar's left end shows outside the border's rounded corner.
        EXPECT_EQ(canvas.Pixel(0, 0), Palette::Accent);
        EXPECT_NEAR_COLOR(canvas.Pixel(1, 2), Palette::Accent, 1);
        // The outermost border ring at 0 ms, along all four edges.
        for (POINT p : {POINT{300, 0}, POINT{0, 215}, POINT{619, 215}, POINT{300, 429}}) {
            EXPECT_EQ(canvas.Pixel(p.x, p.y), ColorFromHex(0xE55050)) << p.x << "," << p.y;
        }
        EXPECT_EQ(canvas.Pixel(300, 1), ColorFromHex(0x935033));  // the next ring in

        EXPECT_EQ(canvas.Pixel(40, 170), Palette::Panel);
        EXPECT_EQ(canvas.Pixel(580, 200), Palette::Panel);
        for (POINT p : {POINT{32, 170}, POINT{587, 170}, POINT{300, 102}, POINT{300, 235}}) {
            EXPECT_EQ(canvas.Pixel(p.x, p.y), Palette::Border) << p.x << "," << p.y;
        }

        if (phase == Checking) {
            EXPECT_EQ(canvas.Pixel(66, 158), Palette::Accent);         // the spinner's leading dot at 0 ms
            EXPECT_EQ(canvas.Pixel(67, 164), ColorFromHex(0x1F2C3F));  // and its dimmest, dot 0
        }
        if (phase == Checking || phase == UpdateAvailable || phase == Failed) {
            EXPECT_EQ(canvas.Pixel(34, 285), Palette::Trough);
            EXPECT_EQ(canvas.Pixel(300, 285), Palette::Trough);
            EXPECT_EQ(canvas.Pixel(585, 285), Palette::Trough);
        }
        if (phase == UpToDate || phase == Updated) {
            EXPECT_NEAR_COLOR(canvas.Pixel(32, 285), Palette::Accent, 1);
            EXPECT_NEAR_COLOR(canvas.Pixel(586, 285), Palette::AccentViolet, 1);
        }
        if (phase == Downloading) {  // half of the 556-pixel bar: the fill ends at x 310
            EXPECT_NEAR_COLOR(canvas.Pixel(32, 285), Palette::Accent, 1);
            EXPECT_NEAR_COLOR(canvas.Pixel(309, 285), Palette::AccentViolet, 1);
            EXPECT_EQ(canvas.Pixel(310, 285), Palette::Trough);
            EXPECT_EQ(canvas.Pixel(400, 285), Palette::Trough);
        }

        EXPECT_NEAR_COLOR(canvas.Pixel(229, 358), scene.mainLeft, 1);
        EXPECT_NEAR_COLOR(canvas.Pixel(436, 358), scene.mainRight, 1);
        EXPECT_EQ(canvas.Pixel(228, 358), scene.mainOutline);
        EXPECT_EQ(canvas.Pixel(437, 358), scene.mainOutline);
        EXPECT_EQ(canvas.Pixel(452, 358), scene.closeFill);
        EXPECT_EQ(canvas.Pixel(448, 358), scene.closeOutline);
        EXPECT_EQ(canvas.Pixel(587, 358), scene.closeOutline);
        EXPECT_NEAR_COLOR(canvas.Pixel(441, 358), BackgroundAt(358), 1);  // the gap between them

        if (scene.hover == CloseGlyph) {
            EXPECT_EQ(canvas.Pixel(581, 26), Palette::PanelHover);
        } else {
            EXPECT_NEAR_COLOR(canvas.Pixel(581, 26), BackgroundAt(26), 1);
        }
    }
}

TEST(PaintedWindow, HighlightBandSlidesAlongTheFill) {
    PaintSnapshot s = Snapshot(Downloading, "Pobieram pliki...");
    s.totalBytes = 1000;
    s.doneBytes = 500;
    DibCanvas canvas;
    // 640 ms: the band's centre is 160 pixels along its track, which starts at 32 - 60.
    PaintFrame(canvas.dc(), s, 640, None, TestFonts());
    EXPECT_EQ(canvas.Pixel(132, 285), ColorFromHex(0xCAD2FC));
    EXPECT_NEAR_COLOR(canvas.Pixel(92, 285), ColorFromHex(0x8A9DFA), 1);
    EXPECT_NEAR_COLOR(canvas.Pixel(171, 285), ColorFromHex(0x8A9DFA), 3);
    EXPECT_EQ(canvas.Pixel(310, 285), Palette::Trough);  // clipped to the fill
    EXPECT_TRUE(canvas.SaveArtifact("3_downloading_band_640ms"));
}

TEST(PaintedWindow, ScreenCompatibleBitmapGivesTheSamePixels) {
    // The program blits through a bitmap compatible with the window; under Wine the screen
    // is 32 bits deep, so both ways must give exactly the same picture.
    HDC screen = GetDC(nullptr);
    ASSERT_NE(screen, nullptr);
    const int depth = GetDeviceCaps(screen, BITSPIXEL);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, 620, 430);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    const PaintSnapshot s = Scenes()[6].snapshot;
    PaintFrame(memory, s, 1234, MainButton, TestFonts());
    SelectObject(memory, previous);

    BITMAPINFO info = TopDown32BitInfo();
    std::vector<uint32_t> screenPixels(620 * 430);
    EXPECT_EQ(GetDIBits(memory, bitmap, 0, 430, screenPixels.data(), &info, DIB_RGB_COLORS), 430);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);

    DibCanvas canvas;
    PaintFrame(canvas.dc(), s, 1234, MainButton, TestFonts());
    RecordProperty("screen_bits_per_pixel", depth);
    // A 16-bit screen keeps 5 or 6 bits a channel and widens them again: up to about 11 off.
    const int tolerance = depth >= 24 ? 0 : 16;
    int differing = 0;
    for (int y = 0; y < 430; ++y) {
        for (int x = 0; x < 620; ++x) {
            const uint32_t p = screenPixels[y * 620 + x];
            const Color viaScreen = Rgb((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
            differing += ChannelDistance(viaScreen, canvas.Pixel(x, y)) > tolerance;
        }
    }
    EXPECT_EQ(differing, 0) << "screen depth " << depth;
}

TEST(PaintedWindow, LeavesTheContextAsItFoundIt) {
    DibCanvas canvas;
    HDC dc = canvas.dc();
    const HGDIOBJ pen = GetCurrentObject(dc, OBJ_PEN);
    const HGDIOBJ brush = GetCurrentObject(dc, OBJ_BRUSH);
    const HGDIOBJ font = GetCurrentObject(dc, OBJ_FONT);
    const HGDIOBJ bitmap = GetCurrentObject(dc, OBJ_BITMAP);
    for (const Scene& scene : Scenes()) {
        DrawWindowContents(dc, scene.snapshot, 2500, scene.hover, TestFonts());
    }
    EXPECT_EQ(GetCurrentObject(dc, OBJ_PEN), pen);
    EXPECT_EQ(GetCurrentObject(dc, OBJ_BRUSH), brush);
    EXPECT_EQ(GetCurrentObject(dc, OBJ_FONT), font);
    EXPECT_EQ(GetCurrentObject(dc, OBJ_BITMAP), bitmap);
    HRGN probe = CreateRectRgn(0, 0, 1, 1);
    EXPECT_EQ(GetClipRgn(dc, probe), 0);  // no clip region left behind
    DeleteObject(probe);
}
