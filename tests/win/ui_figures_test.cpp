// The colour and geometry figures once more, compiled by the Windows compiler: the 32-bit
// target computes in its own floating-point unit, and the truncations must come out the same.
#include "tests/host/ui_drawing_math_test.cpp"
