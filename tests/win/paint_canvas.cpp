#include "tests/win/paint_canvas.h"

#include <algorithm>
#include <cstdlib>

#include "tests/win/png_writer.h"
#include "ui/layout.h"

namespace {
constexpr int kWidth = Layout::kWindowWidth;
constexpr int kHeight = Layout::kWindowHeight;
}  // namespace

DibCanvas::DibCanvas() {
    dc_ = CreateCompatibleDC(nullptr);
    BITMAPINFO info = TopDown32BitInfo();
    void* bits = nullptr;
    bitmap_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bits_ = static_cast<const uint8_t*>(bits);
    previous_ = SelectObject(dc_, bitmap_);
}

DibCanvas::~DibCanvas() {
    SelectObject(dc_, previous_);
    DeleteObject(bitmap_);
    DeleteDC(dc_);
}

Color DibCanvas::Pixel(int x, int y) const {
    GdiFlush();
    const uint8_t* p = bits_ + (static_cast<size_t>(y) * kWidth + x) * 4;  // blue, green, red, unused
    return Rgb(p[2], p[1], p[0]);
}

std::vector<uint8_t> DibCanvas::RgbBytes() const {
    GdiFlush();
    std::vector<uint8_t> rgb;
    rgb.reserve(static_cast<size_t>(kWidth) * kHeight * 3);
    for (size_t i = 0; i < static_cast<size_t>(kWidth) * kHeight; ++i) {
        rgb.insert(rgb.end(), {bits_[i * 4 + 2], bits_[i * 4 + 1], bits_[i * 4]});
    }
    return rgb;
}

bool DibCanvas::SaveArtifact(const std::string& name) const {
    const std::string dir = std::string(VORLANE_BUILD_DIR_WINE) + "/artifacts";
    CreateDirectoryA(dir.c_str(), nullptr);
    CreateDirectoryA((dir + "/ui").c_str(), nullptr);
    return WritePng(dir + "/ui/" + name + ".png", kWidth, kHeight, RgbBytes());
}

BITMAPINFO TopDown32BitInfo() {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = kWidth;
    info.bmiHeader.biHeight = -kHeight;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    return info;
}

const UiFonts& TestFonts() {
    static const UiFonts fonts = CreateUiFonts();
    return fonts;
}

int ChannelDistance(Color a, Color b) {
    const int dr = std::abs(static_cast<int>(RedOf(a)) - static_cast<int>(RedOf(b)));
    const int dg = std::abs(static_cast<int>(GreenOf(a)) - static_cast<int>(GreenOf(b)));
    const int db = std::abs(static_cast<int>(BlueOf(a)) - static_cast<int>(BlueOf(b)));
    return std::max(dr, std::max(dg, db));
}
