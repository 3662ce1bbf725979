// The colour and geometry arithmetic behind every frame, checked against figures worked
// out by hand from the formulas.
#include <gtest/gtest.h>

#include <cstdint>

#include "ui/animation.h"
#include "ui/button_look.h"
#include "ui/color_math.h"
#include "ui/palette.h"
#include "ui/progress_geometry.h"

namespace {

constexpr UiRect kBar{32, 278, 588, 292};  // 556 pixels wide

}  // namespace

TEST(ColorMath, ColorsAreStoredRedInTheLowByte) {
    EXPECT_EQ(Palette::Accent, 0x00FFB05Cu);
    EXPECT_EQ(Palette::BackgroundTop, 0x00241A17u);
    EXPECT_EQ(ColorFromHex(0x5CB0FF), Palette::Accent);
}

TEST(ColorMath, HsvToColorCornersWrapAndGrey) {
    EXPECT_EQ(HsvToColor(0, 1, 1), ColorFromHex(0xFF0000));
    EXPECT_EQ(HsvToColor(60, 1, 1), ColorFromHex(0xFFFF00));  // X equals C at a sextant edge
    EXPECT_EQ(HsvToColor(120, 1, 1), ColorFromHex(0x00FF00));
    EXPECT_EQ(HsvToColor(240, 1, 1), ColorFromHex(0x0000FF));
    EXPECT_EQ(HsvToColor(300, 1, 1), ColorFromHex(0xFF00FF));
    EXPECT_EQ(HsvToColor(360, 1, 1), HsvToColor(0, 1, 1));
    EXPECT_EQ(HsvToColor(720, 1, 1), HsvToColor(0, 1, 1));
    EXPECT_EQ(HsvToColor(-120, 1, 1), HsvToColor(240, 1, 1));
    EXPECT_EQ(HsvToColor(200, 0, 0.5f), ColorFromHex(0x7F7F7F));
}

TEST(ColorMath, LerpColorTruncatesEachChannel) {
    EXPECT_EQ(LerpColor(Palette::Accent, Palette::Warning, 0), Palette::Accent);
    EXPECT_EQ(LerpColor(Palette::Accent, 0, 0.1f), ColorFromHex(0x529EE5));
    EXPECT_EQ(LerpColor(Palette::Accent, 0, 0.3f), ColorFromHex(0x407BB2));
    EXPECT_EQ(LerpColor(Palette::Accent, 0, 0.45f), ColorFromHex(0x32608C));
    EXPECT_EQ(LerpColor(Palette::Accent, 0, 0.6f), ColorFromHex(0x244666));
    EXPECT_EQ(LerpColor(ColorFromHex(0x000000), ColorFromHex(0xFFFFFF), 1), ColorFromHex(0xFFFFFF));
}

TEST(GlowBorder, RingsAtStartFromInsideOut) {
    const auto rings = GlowRings(UiRect{0, 0, 620, 430}, 0);
    // Drawn innermost first; read from the outside in: #E55050, #935033, #715427, #666023.
    EXPECT_EQ(rings[3].color, ColorFromHex(0xE55050));
    EXPECT_EQ(rings[2].color, ColorFromHex(0x935033));
    EXPECT_EQ(rings[1].color, ColorFromHex(0x715427));
    EXPECT_EQ(rings[0].color, ColorFromHex(0x666023));
    for (int n = 0; n < 4; ++n) {
        const int inset = 3 - n;
        EXPECT_EQ(rings[n].rect.left, inset);
        EXPECT_EQ(rings[n].rect.top, inset);
        EXPECT_EQ(rings[n].rect.right, 620 - inset);
        EXPECT_EQ(rings[n].rect.bottom, 430 - inset);
        EXPECT_EQ(rings[n].corner, 18 - inset);
    }
    // The hue goes once round the circle every 6 seconds.
    EXPECT_EQ(GlowRings(UiRect{0, 0, 620, 430}, 6000)[3].color, ColorFromHex(0xE55050));
    EXPECT_NE(GlowRings(UiRect{0, 0, 620, 430}, 3000)[3].color, ColorFromHex(0xE55050));
}

TEST(Signature, LetterColorsAndShadowAtStart) {
    const Color expected[6] = {ColorFromHex(0xFF3F3F), ColorFromHex(0xFF993F), ColorFromHex(0xFFF23F),
                               ColorFromHex(0xB2FF3F), ColorFromHex(0x59FF3F), ColorFromHex(0x3FFF7F)};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(SignatureLetterColors(0, i, 0.75f, 1.0f).letter, expected[i]) << "letter " << i;
    }
    EXPECT_EQ(SignatureLetterColors(0, 0, 0.75f, 1.0f).shadow, ColorFromHex(0x3F0F0F));
    // 2.4 seconds later the colours are back.
    EXPECT_EQ(SignatureLetterColors(2400, 1, 0.75f, 1.0f).letter, expected[1]);
}

TEST(Spinner, DotsRampFromBackgroundToAccentOnARadiusOfNine) {
    const auto dots = SpinnerDots(0);
    EXPECT_EQ(dots[0].color, ColorFromHex(0x1F2C3F));
    EXPECT_EQ(dots[7].color, Palette::Accent);
    // Angle 0 puts dot 0 straight right of the centre (60, 164); dot 7 is at 5.495 rad.
    EXPECT_EQ(dots[0].rect.left, 69 - 2);
    EXPECT_EQ(dots[0].rect.top, 164 - 2);
    EXPECT_EQ(dots[7].rect.left, 66 - 2);
    EXPECT_EQ(dots[7].rect.top, 158 - 2);
    for (uint32_t ms : {0u, 500u, 12345u, 4294967295u}) {
        for (const SpinnerDot& d : SpinnerDots(ms)) {
            EXPECT_EQ(d.rect.right - d.rect.left, 5);
            EXPECT_EQ(d.rect.bottom - d.rect.top, 5);
            EXPECT_LE(std::abs(d.rect.left + 2 - 60), 9);
            EXPECT_LE(std::abs(d.rect.top + 2 - 164), 9);
        }
    }
    // Clockwise on screen: a quarter turn later (about 262 ms) dot 0 is below the centre.
    EXPECT_GT(SpinnerDots(262)[0].rect.top + 2, 164 + 7);
}

TEST(ProgressGeometry, TroughOnlyMinimumWidthAndCap) {
    EXPECT_FALSE(ComputeProgressGeometry(kBar, 0, Palette::Accent, Palette::AccentViolet, 0).filled);
    EXPECT_FALSE(ComputeProgressGeometry(kBar, 0, Palette::Accent, Palette::AccentViolet, -0.5).filled);

    const ProgressGeometry tiny =
        ComputeProgressGeometry(kBar, 0, Palette::Accent, Palette::AccentViolet, 0.001);
    EXPECT_TRUE(tiny.filled);
    EXPECT_EQ(tiny.fill.right - tiny.fill.left, 6);

    const ProgressGeometry half =
        ComputeProgressGeometry(kBar, 0, Palette::Accent, Palette::AccentViolet, 0.5);
    EXPECT_EQ(half.fill.right, 32 + 278);

    const ProgressGeometry full =
        ComputeProgressGeometry(kBar, 777, Palette::Accent, Palette::AccentViolet, 1.0);
    const ProgressGeometry over =
        ComputeProgressGeometry(kBar, 777, Palette::Accent, Palette::AccentViolet, 1.5);
    EXPECT_EQ(full.fill.right, 588);
    EXPECT_EQ(over.fill.right, full.fill.right);
    EXPECT_EQ(over.bandCenter, full.bandCenter);
    EXPECT_EQ(full.fill.top, 278);
    EXPECT_EQ(full.fill.bottom, 292);
}

TEST(ProgressGeometry, BandStartsLeftOfTheFillAndWrapsEvery2704MsOnAFullBar) {
    auto band = [](uint32_t ms) {
        return ComputeProgressGeometry(kBar, ms, Palette::Accent, Palette::AccentViolet, 1.0).bandCenter;
    };
    EXPECT_EQ(band(0) + 40, kBar.left - 20);  // the band's right end, 20 pixels before the bar
    EXPECT_EQ(band(4), band(0) + 1);          // 250 pixels a second
    EXPECT_EQ(band(2700), kBar.left - 60 + 675);
    EXPECT_EQ(band(2704), band(0));
    EXPECT_EQ(band(2 * 2704 + 400), band(400));
    // The wrap of the 32-bit time gives one jump and stays on the bar's track.
    const int late = band(4294967295u);
    EXPECT_GE(late, kBar.left - 60);
    EXPECT_LT(late, kBar.left - 60 + 676);

    const ProgressGeometry g = ComputeProgressGeometry(kBar, 0, Palette::Accent, Palette::AccentViolet, 1.0);
    EXPECT_EQ(g.mid, ColorFromHex(0x8A9DFA));
    EXPECT_EQ(g.high, ColorFromHex(0xCAD2FC));
}

TEST(ButtonLook, PrimaryGradientsOfEachAccent) {
    struct Case {
        Color accent;
        uint32_t left, right, hoverLeft, hoverRight;
    };
    const Case cases[] = {
        {Palette::Accent, 0x407BB2, 0x244666, 0x529EE5, 0x32608C},
        {Palette::Success, 0x3A9762, 0x215638, 0x4AC37E, 0x2D774D},
        {Palette::Warning, 0xA97E35, 0x60481E, 0xD9A244, 0x856329},
    };
    for (const Case& c : cases) {
        const ButtonLook plain = GetButtonLook(false, true, c.accent, true);
        const ButtonLook hovered = GetButtonLook(true, true, c.accent, true);
        EXPECT_TRUE(plain.gradient);
        EXPECT_EQ(plain.gradientLeft, ColorFromHex(c.left));
        EXPECT_EQ(plain.gradientRight, ColorFromHex(c.right));
        EXPECT_EQ(hovered.gradientLeft, ColorFromHex(c.hoverLeft));
        EXPECT_EQ(hovered.gradientRight, ColorFromHex(c.hoverRight));
        EXPECT_EQ(plain.outline, c.accent);
        EXPECT_EQ(hovered.caption, Palette::White);
    }
}

TEST(ButtonLook, DisabledIgnoresHoverAndSecondaryLightsUp) {
    for (bool hovered : {false, true}) {
        for (bool primary : {false, true}) {
            const ButtonLook d = GetButtonLook(hovered, false, Palette::Success, primary);
            EXPECT_FALSE(d.gradient);
            EXPECT_EQ(d.fill, Palette::Panel);
            EXPECT_EQ(d.outline, Palette::Border);
            EXPECT_EQ(d.caption, Palette::TextDim);
        }
    }
    const ButtonLook plain = GetButtonLook(false, true, Palette::Accent, false);
    const ButtonLook hovered = GetButtonLook(true, true, Palette::Accent, false);
    EXPECT_FALSE(plain.gradient);
    EXPECT_EQ(plain.fill, Palette::Panel);
    EXPECT_EQ(plain.outline, Palette::Border);
    EXPECT_EQ(hovered.fill, Palette::PanelHover);
    EXPECT_EQ(hovered.outline, Palette::TextMuted);
    EXPECT_EQ(hovered.caption, Palette::Text);
}
