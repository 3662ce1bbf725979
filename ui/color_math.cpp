#include "ui/color_math.h"

#include <cmath>

namespace {

// The low 8 bits of trunc(fraction * 255); no clamping, the callers stay in 0..1.
uint32_t ChannelByte(float fraction) {
    return static_cast<uint32_t>(static_cast<int>(fraction * 255.0f)) & 0xFF;
}

uint32_t LerpChannel(uint32_t a, uint32_t b, float t) {
    const float v = static_cast<float>(a) + (static_cast<float>(b) - static_cast<float>(a)) * t;
    return static_cast<uint32_t>(static_cast<int>(v)) & 0xFF;
}

}  // namespace

Color HsvToColor(float hue, float saturation, float value) {
    // The remainders are taken in double precision and stored back as single.
    float h = static_cast<float>(std::fmod(static_cast<double>(hue), 360.0));
    if (h < 0) {
        h += 360.0f;
    }
    const float c = saturation * value;
    const float r = static_cast<float>(std::fmod(static_cast<double>(h / 60.0f), 2.0));
    const float x = c * (1.0f - std::fabs(r - 1.0f));
    const float m = value - c;
    float red, green, blue;
    if (h < 60) {
        red = c, green = x, blue = 0;
    } else if (h < 120) {
        red = x, green = c, blue = 0;
    } else if (h < 180) {
        red = 0, green = c, blue = x;
    } else if (h < 240) {
        red = 0, green = x, blue = c;
    } else if (h < 300) {
        red = x, green = 0, blue = c;
    } else {
        red = c, green = 0, blue = x;
    }
    return Rgb(ChannelByte(red + m), ChannelByte(green + m), ChannelByte(blue + m));
}

Color LerpColor(Color from, Color to, float t) {
    return Rgb(LerpChannel(RedOf(from), RedOf(to), t), LerpChannel(GreenOf(from), GreenOf(to), t),
               LerpChannel(BlueOf(from), BlueOf(to), t));
}
