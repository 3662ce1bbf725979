// The window's fixed colours. Each is written Rgb(red, green, blue) so it reads like #RRGGBB.
#pragma once

#include "ui/color.h"

namespace Palette {
constexpr Color BackgroundTop = Rgb(0x17, 0x1A, 0x24);
constexpr Color BackgroundBottom = Rgb(0x0B, 0x0D, 0x12);
constexpr Color Accent = Rgb(0x5C, 0xB0, 0xFF);
constexpr Color AccentViolet = Rgb(0xB9, 0x8B, 0xF5);
constexpr Color Success = Rgb(0x53, 0xD9, 0x8C);
constexpr Color Warning = Rgb(0xF2, 0xB5, 0x4C);
constexpr Color Error = Rgb(0xE8, 0x6C, 0x72);
constexpr Color Text = Rgb(0xEC, 0xEF, 0xF4);
constexpr Color TextMuted = Rgb(0x8B, 0x95, 0xA8);
constexpr Color TextDim = Rgb(0x55, 0x5E, 0x70);
constexpr Color Panel = Rgb(0x1C, 0x20, 0x2B);
constexpr Color PanelHover = Rgb(0x2A, 0x30, 0x40);
constexpr Color Border = Rgb(0x31, 0x38, 0x4A);
constexpr Color Trough = Rgb(0x10, 0x13, 0x1A);
constexpr Color White = Rgb(0xFF, 0xFF, 0xFF);
constexpr Color Black = Rgb(0x00, 0x00, 0x00);
}  // namespace Palette
