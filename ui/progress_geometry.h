// Where the progress bar's fill and its moving highlight band lie, and their colours.
#pragma once

#include <cstdint>

#include "ui/color.h"
#include "ui/layout.h"

struct ProgressGeometry {
    bool filled = false;  // false: only the trough is drawn
    UiRect fill;          // the gradient's rectangle; also the clip's extent (right + 1)
    int bandCenter = 0;   // the band is brightest here and fades over 40 pixels each way
    Color mid = 0;        // halfway between the fill's two colours
    Color high = 0;       // mid lightened 55 % towards white
};

// A started bar always shows at least 6 pixels; a fraction above 1 draws a full bar.
ProgressGeometry ComputeProgressGeometry(const UiRect& bar,
                                         uint32_t elapsedMs,
                                         Color left,
                                         Color right,
                                         double fraction);
