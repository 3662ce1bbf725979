// Colours in the Windows layout 0x00BBGGRR (red in the lowest byte), as GDI takes them.
#pragma once

#include <cstdint>

using Color = uint32_t;

constexpr Color Rgb(uint32_t red, uint32_t green, uint32_t blue) {
    return (red & 0xFF) | ((green & 0xFF) << 8) | ((blue & 0xFF) << 16);
}
constexpr uint32_t RedOf(Color c) {
    return c & 0xFF;
}
constexpr uint32_t GreenOf(Color c) {
    return (c >> 8) & 0xFF;
}
constexpr uint32_t BlueOf(Color c) {
    return (c >> 16) & 0xFF;
}
// A colour written #RRGGBB, as designs write it: ColorFromHex(0x5CB0FF) is #5CB0FF.
constexpr Color ColorFromHex(uint32_t rrggbb) {
    return Rgb(rrggbb >> 16, rrggbb >> 8, rrggbb);
}
