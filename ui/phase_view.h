// What the window shows in each update phase, decided from the painter's snapshot.
#pragma once

#include <string>

#include "ui/color.h"
#include "ui/paint_snapshot.h"

Color StatusColor(int32_t phase);

// 0 draws the empty trough; the finished phases draw a full bar.
double ProgressFraction(const PaintSnapshot& s);

struct DetailLine {
    std::string text;
    Color color;
};
DetailLine DetailLineFor(const PaintSnapshot& s);

// The release notes, or "Brak opisu zmian." when the manifest has none.
const std::string& NotesText(const PaintSnapshot& s);
