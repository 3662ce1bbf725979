// Writes 8-bit RGB images as PNG files (stored, uncompressed deflate): enough for the
// window pictures that the painting tests leave behind to look at.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// rgb holds width * height pixels, three bytes each, rows from the top.
bool WritePng(const std::string& path, int width, int height, const std::vector<uint8_t>& rgb);
