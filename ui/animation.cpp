#include "ui/animation.h"

#include <cmath>

#include "ui/color_math.h"

const char kSignatureName[] = "Halvek";

std::array<GlowRing, 4> GlowRings(const UiRect& rect, uint32_t elapsedMs) {
    // The hue runs once round the circle every 6 seconds; each inner ring is 18 degrees ahead.
    const float base = static_cast<float>(elapsedMs) * 0.06f;
    std::array<GlowRing, 4> rings{};
    for (int i = 3, n = 0; i >= 0; --i, ++n) {
        const float a = (i == 0) ? 1.0f : 0.45f / static_cast<float>(i);
        const float value = (a * 0.65f + 0.35f) * 0.9f;  // the outermost ring is the brightest
        rings[n].rect = UiRect{rect.left + i, rect.top + i, rect.right - i, rect.bottom - i};
        rings[n].color = HsvToColor(base + 18.0f * static_cast<float>(i), 0.65f, value);
        rings[n].corner = 18 - i;
    }
    return rings;
}

Color TopBarRightColor(uint32_t elapsedMs) {
    return HsvToColor(static_cast<float>(elapsedMs) * 0.05f, 0.6f, 0.95f);
}

LetterColors SignatureLetterColors(uint32_t elapsedMs, int letterIndex, float saturation, float value) {
    // The colours repeat every 2.4 seconds; each letter is 28 degrees further round.
    const float hue = static_cast<float>(elapsedMs) * 0.15f + 28.0f * static_cast<float>(letterIndex);
    return LetterColors{HsvToColor(hue, saturation, value), HsvToColor(hue, saturation, 0.25f)};
}

std::array<SpinnerDot, 8> SpinnerDots(uint32_t elapsedMs) {
    // One turn takes about 1047 ms; angles grow clockwise on screen (y points down).
    const float a0 = static_cast<float>(elapsedMs) * 0.006f;
    std::array<SpinnerDot, 8> dots{};
    for (int i = 0; i < 8; ++i) {
        const float angle = a0 + static_cast<float>(i) * 0.785f;
        const float cosA = static_cast<float>(std::cos(static_cast<double>(angle)));
        const float sinA = static_cast<float>(std::sin(static_cast<double>(angle)));
        const int cx = Layout::kSpinnerCenterX + static_cast<int>(9.0f * cosA);
        const int cy = Layout::kSpinnerCenterY + static_cast<int>(9.0f * sinA);
        // A ramp from the background's top colour up to the accent for the leading dot.
        const float t = static_cast<float>(i + 1) * 0.125f;
        const Color color = Rgb(static_cast<uint32_t>(static_cast<int>(23.0f + 69.0f * t)),
                                static_cast<uint32_t>(static_cast<int>(26.0f + 150.0f * t)),
                                static_cast<uint32_t>(static_cast<int>(36.0f + 219.0f * t)));
        dots[i] = SpinnerDot{UiRect{cx - 2, cy - 2, cx + 3, cy + 3}, color};
    }
    return dots;
}
