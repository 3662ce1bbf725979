#include "ui/progress_geometry.h"

#include <algorithm>

#include "ui/color_math.h"
#include "ui/palette.h"

ProgressGeometry ComputeProgressGeometry(const UiRect& bar,
                                         uint32_t elapsedMs,
                                         Color left,
                                         Color right,
                                         double fraction) {
    ProgressGeometry g;
    if (!(fraction > 0)) {
        return g;
    }
    const int width = static_cast<int>(static_cast<double>(bar.right - bar.left) * std::min(1.0, fraction));
    const int fillRight = bar.left + std::max(width, 6);
    g.filled = true;
    g.fill = UiRect{bar.left, bar.top, fillRight, bar.bottom};
    // The band slides at 250 pixels a second and starts and ends 60 pixels outside the fill,
    // so it enters and leaves the bar entirely. Unsigned arithmetic on the wrapping time.
    const uint32_t period = static_cast<uint32_t>(fillRight - bar.left) + 120u;
    g.bandCenter = bar.left - 60 + static_cast<int>((elapsedMs / 4u) % period);
    g.mid = LerpColor(left, right, 0.5f);
    g.high = LerpColor(g.mid, Palette::White, 0.55f);
    return g;
}
