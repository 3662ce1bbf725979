// The colour formulas of the window, in single precision with truncation towards zero,
// so that every frame gives the same pixels on every machine.
#pragma once

#include "ui/color.h"

// hue in degrees (any value, wrapped into 0..360), saturation and value in 0..1.
Color HsvToColor(float hue, float saturation, float value);
// Per channel a + (b - a) * t, truncated; t is not clamped (towards black it darkens by t).
Color LerpColor(Color from, Color to, float t);
