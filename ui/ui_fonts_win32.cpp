#include "ui/ui_fonts_win32.h"

HFONT CreateUiFont(int height, int weight) {
    // A negative height asks for the character height (without internal leading) in pixels.
    return CreateFontA(-height, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                       CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_DONTCARE, "Segoe UI");
}

UiFonts CreateUiFonts() {
    UiFonts fonts;
    fonts.titleFont = CreateUiFont(30, 700);
    fonts.subtitleFont = CreateUiFont(14, 700);
    fonts.bodyFont = CreateUiFont(15, 400);
    fonts.smallFont = CreateUiFont(13, 600);
    fonts.strongFont = CreateUiFont(15, 700);
    fonts.signatureFont = CreateUiFont(15, 700);
    return fonts;
}

UiFonts& Fonts() {
    static UiFonts fonts;
    return fonts;
}
