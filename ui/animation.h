// The animated elements as functions of time alone: the glowing border, the top bar's
// right colour, the signature's letter colours and the checking spinner. Every frame
// passes one ElapsedMs (milliseconds since the window started) to all of them.
#pragma once

#include <array>
#include <cstdint>

#include "ui/color.h"
#include "ui/layout.h"

struct GlowRing {
    UiRect rect;  // inset from the border rectangle by the ring's number
    Color color;
    int corner;  // corner ellipse diameter
};
// The four 1-pixel rings in drawing order, innermost (inset 3) first, outermost last.
std::array<GlowRing, 4> GlowRings(const UiRect& rect, uint32_t elapsedMs);

// The right end of the top bar: runs through the hue circle every 7.2 seconds.
Color TopBarRightColor(uint32_t elapsedMs);

// The maker's name drawn letter by letter in cycling colours.
extern const char kSignatureName[];  // "Halvek"
constexpr float kSignatureSaturation = 0.75f;
constexpr float kSignatureValue = 1.0f;
struct LetterColors {
    Color letter;
    Color shadow;
};
LetterColors SignatureLetterColors(uint32_t elapsedMs, int letterIndex, float saturation, float value);

struct SpinnerDot {
    UiRect rect;  // 5 x 5, drawn with a corner of 5 (a disc)
    Color color;
};
// Eight dots on a circle of radius 9 about the spinner centre, dimmest (0) to brightest (7).
std::array<SpinnerDot, 8> SpinnerDots(uint32_t elapsedMs);
