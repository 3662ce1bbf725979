// The six fonts of the window. They are created once at start-up and live until the
// process ends; the painter and the buttons only select them.
#pragma once

#include <windows.h>

struct UiFonts {
    HFONT titleFont = nullptr;      // 30 px, bold: the product name
    HFONT subtitleFont = nullptr;   // 14 px, bold: "UPDATER"
    HFONT bodyFont = nullptr;       // 15 px, regular: version line, notes, close glyph
    HFONT smallFont = nullptr;      // 13 px, semibold: panel heading, detail line, footer
    HFONT strongFont = nullptr;     // 15 px, bold: status line, button captions
    HFONT signatureFont = nullptr;  // 15 px, bold: the footer signature (its own handle)
};

// "Segoe UI" of the given character height in pixels and weight.
HFONT CreateUiFont(int height, int weight);

// Creates the six fonts in the order above.
UiFonts CreateUiFonts();

// The process's fonts; WinMain fills them once at start: Fonts() = CreateUiFonts();
UiFonts& Fonts();
