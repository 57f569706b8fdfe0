// Fixed-point values of decimal numbers for tests, and back.
#pragma once

#include "core/fixed_point.h"

#include <cmath>

// The fixed-point value of a number of degrees (or percent), rounded to the nearest step.
inline fpr_t fx(double value) {
    return static_cast<fpr_t>(std::lround(value * FPR_ONE));
}

inline double dbl(fpr_t value) {
    return static_cast<double>(value) / FPR_ONE;
}
