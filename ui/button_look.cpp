#include "ui/button_look.h"

#include "ui/color_math.h"
#include "ui/palette.h"
#include "update/updater_state.h"

const char kCloseCaption[] = "ZAMKNIJ";

ButtonLook GetButtonLook(bool hovered, bool enabled, Color accent, bool primary) {
    ButtonLook look;
    if (!enabled) {
        look.fill = Palette::Panel;
        look.outline = Palette::Border;
        look.caption = Palette::TextDim;
    } else if (primary) {
        // The accent darkened by 30 % to 60 %, or lighter (10 % to 45 %) under the mouse.
        look.gradient = true;
        look.gradientLeft = LerpColor(accent, Palette::Black, hovered ? 0.1f : 0.3f);
        look.gradientRight = LerpColor(accent, Palette::Black, hovered ? 0.45f : 0.6f);
        look.outline = accent;
        look.caption = Palette::White;
    } else {
        look.fill = hovered ? Palette::PanelHover : Palette::Panel;
        look.outline = hovered ? Palette::TextMuted : Palette::Border;
        look.caption = Palette::Text;
    }
    return look;
}

MainButtonState MainButtonFor(int32_t phase, bool botRunning) {
    switch (phase) {
        case Checking:
            return {"SPRAWDZAM...", Palette::Accent, false};
        case UpToDate:
        case Updated:
            return {"URUCHOM VORLANE", Palette::Success, true};
        case UpdateAvailable:
            return {"AKTUALIZUJ", Palette::Accent, !botRunning};
        case Downloading:
            return {"POBIERANIE...", Palette::Accent, false};
        case Failed:
            return {"SPROBUJ PONOWNIE", Palette::Warning, true};
    }
    // Not a phase the worker writes; show a button that cannot be pressed.
    return {"", Palette::Accent, false};
}

bool CloseButtonEnabled(int32_t phase) {
    return phase != Downloading;
}
