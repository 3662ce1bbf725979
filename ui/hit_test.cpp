#include "ui/hit_test.h"

#include "ui/layout.h"

int HoverTarget = None;

int HitTestButtons(int x, int y) {
    // Tested in this order; the rectangles do not overlap, so the order only documents intent.
    struct Entry {
        UiRect rect;
        HitTarget target;
    };
    static constexpr Entry kTargets[] = {
        {Layout::kMainButton, MainButton},
        {Layout::kCloseButton, CloseButton},
        {Layout::kCloseGlyph, CloseGlyph},
    };
    for (const Entry& e : kTargets) {
        if (Contains(e.rect, x, y)) {
            return e.target;
        }
    }
    return None;
}
