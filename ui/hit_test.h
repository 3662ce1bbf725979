// The three clickable targets of the window and the hit test over them.
#pragma once

enum HitTarget : int {
    None = 0,
    MainButton = 1,
    CloseButton = 2,
    CloseGlyph = 3,
};

// The button under the mouse (window thread only; read by the cursor and the painter).
extern int HoverTarget;

int HitTestButtons(int x, int y);
