// How a button looks in each of its states, and what the two lower buttons show in
// each update phase.
#pragma once

#include <cstdint>

#include "ui/color.h"

struct ButtonLook {
    bool gradient = false;  // true: a horizontal gradient clipped to the rounded shape
    Color fill = 0;         // solid fill when gradient is false
    Color gradientLeft = 0;
    Color gradientRight = 0;
    Color outline = 0;
    Color caption = 0;
};

// Disabled ignores hovered and primary; the accent is used only by the primary look.
ButtonLook GetButtonLook(bool hovered, bool enabled, Color accent, bool primary);

struct MainButtonState {
    const char* caption;
    Color accent;
    bool enabled;
};
// The main button's caption, accent and enabled state in a phase (botRunning matters only
// while an update is offered: the bot must be closed first).
MainButtonState MainButtonFor(int32_t phase, bool botRunning);

extern const char kCloseCaption[];  // "ZAMKNIJ"
// The close button is refused only while files are being replaced.
bool CloseButtonEnabled(int32_t phase);
