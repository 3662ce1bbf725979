// A 620 x 430 canvas whose pixels a test can read: a 32-bit top-down DIB section selected
// into its own memory context, and the window's fonts, created once like the program does.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "ui/color.h"
#include "ui/ui_fonts_win32.h"

class DibCanvas {
  public:
    DibCanvas();
    ~DibCanvas();
    DibCanvas(const DibCanvas&) = delete;
    DibCanvas& operator=(const DibCanvas&) = delete;

    HDC dc() const { return dc_; }
    Color Pixel(int x, int y) const;
    // Red, green, blue bytes of every pixel, rows from the top.
    std::vector<uint8_t> RgbBytes() const;
    // Saves the picture as <build>/artifacts/ui/<name>.png.
    bool SaveArtifact(const std::string& name) const;

  private:
    HDC dc_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ previous_ = nullptr;
    const uint8_t* bits_ = nullptr;
};

// The header of a 620 x 430 top-down bitmap of 32 bits a pixel (blue, green, red, unused).
BITMAPINFO TopDown32BitInfo();

const UiFonts& TestFonts();

// Per channel the largest difference between two colours.
int ChannelDistance(Color a, Color b);
