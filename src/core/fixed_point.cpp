// Fixed-point arithmetic with the exact rounding, overflow and decode rules
// that stored values, the control bus and the screens depend on.
#include "core/fixed_point.h"

namespace {

constexpr int FRACTION_BITS = 13;
constexpr int32_t FRACTION_MASK = FPR_ONE - 1;
constexpr int32_t FRACTION_SCALE = 100000000; // 10^8
constexpr int MAX_DIGITS = 8;

bool inRange(int64_t value) {
    return value >= FPR_MIN && value <= FPR_MAX;
}

// Moves the integer part of a decoded value one step away from zero.
int16_t awayFromZero(int16_t integerPart, bool negative) {
    if (integerPart >= 1 || (integerPart == 0 && !negative)) {
        return static_cast<int16_t>(integerPart + 1);
    }
    return static_cast<int16_t>(integerPart - 1);
}

constexpr int32_t c_PowersOfTen[MAX_DIGITS + 1] = {
    1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000,
};

} // namespace

int fprAdd(fpr_t a, fpr_t b, fpr_t *result) {
    // The sum is formed in 64 bits so that a 32-bit wrap can never pass the
    // range check.
    int64_t sum = static_cast<int64_t>(a) + b;
    if (!inRange(sum)) {
        return -1;
    }
    *result = static_cast<fpr_t>(sum);
    return 0;
}

int fprSub(fpr_t a, fpr_t b, fpr_t *result) {
    int64_t difference = static_cast<int64_t>(a) - b;
    if (!inRange(difference)) {
        return -1;
    }
    *result = static_cast<fpr_t>(difference);
    return 0;
}

int fprMul(fpr_t a, fpr_t b, fpr_t *result) {
    // Arithmetic shift: rounds toward minus infinity.
    int64_t product = (static_cast<int64_t>(a) * b) >> FRACTION_BITS;
    if (!inRange(product)) {
        return -1;
    }
    *result = static_cast<fpr_t>(product);
    return 0;
}

int fprDiv(fpr_t a, fpr_t b, fpr_t *result) {
    if (b == 0) {
        return -1;
    }
    int64_t quotient = (static_cast<int64_t>(a) * FPR_ONE) / b;
    *result = static_cast<fpr_t>(static_cast<uint32_t>(quotient));
    return 0;
}

int fprInv(fpr_t a, fpr_t *result) {
    if (a == 0) {
        return -1;
    }
    *result = (FPR_ONE * FPR_ONE) / a;
    return 0;
}

int fprAvg(fpr_t a, fpr_t b, fpr_t *result) {
    fpr_t sum;
    if (fprAdd(a, b, &sum) != 0) {
        return -1;
    }
    return fprMul(sum, FPR_HALF, result);
}

int fprGen(int16_t integerPart, int32_t fraction, fpr_t *result) {
    if (fraction < 0 && integerPart != 0) {
        return -1;
    }
    int64_t magnitude = fraction < 0 ? -static_cast<int64_t>(fraction) : fraction;
    int64_t steps = magnitude / FPR_STEP_E8;
    if (magnitude % FPR_STEP_E8 >= FPR_HALF_STEP_E8) {
        steps++;
    }
    int64_t value;
    if (fraction < 0) {
        value = -steps;
    } else if (integerPart >= 0) {
        value = static_cast<int64_t>(integerPart) * FPR_ONE + steps;
    } else {
        // The fraction adds to the magnitude: -1.5 is (-1, 50000000).
        value = static_cast<int64_t>(integerPart) * FPR_ONE - steps;
    }
    *result = static_cast<fpr_t>(value);
    return 0;
}

int fprDecode(fpr_t a, int16_t *integerPart, int32_t *fraction) {
    if (a < 0 && a > -FPR_ONE) {
        *integerPart = 0;
        *fraction = a * FPR_STEP_E8;
    } else if (a < 0) {
        int64_t magnitude = -static_cast<int64_t>(a);
        *integerPart = static_cast<int16_t>(-(magnitude >> FRACTION_BITS));
        *fraction = static_cast<int32_t>(magnitude & FRACTION_MASK) * FPR_STEP_E8;
    } else {
        *integerPart = static_cast<int16_t>(a >> FRACTION_BITS);
        *fraction = (a & FRACTION_MASK) * FPR_STEP_E8;
    }
    return 0;
}

int fprDecodeRes(fpr_t a, int16_t *integerPart, int32_t *fraction, uint32_t digits) {
    int16_t whole;
    int32_t rest;
    fprDecode(a, &whole, &rest);
    // The decoded fraction already has eight digits; asking for more (up to
    // the 13 that callers may pass) keeps all eight, unrounded.
    if (digits > MAX_DIGITS) {
        digits = MAX_DIGITS;
    }
    bool negativeFraction = rest < 0;
    bool negativeValue = a < 0;
    int32_t magnitude = negativeFraction ? -rest : rest;
    int32_t divisor = c_PowersOfTen[MAX_DIGITS - digits];
    int32_t limit = c_PowersOfTen[digits];
    int32_t rounded;
    if (digits == 0) {
        if (magnitude > FRACTION_SCALE / 2 - 1) {
            whole = awayFromZero(whole, negativeValue);
        }
        rounded = 0;
    } else {
        int32_t q = magnitude / divisor;
        if (magnitude - q * divisor >= divisor / 2 && divisor > 1) {
            q++;
        }
        if (q >= limit) {
            q = 0;
            whole = awayFromZero(whole, negativeValue);
        }
        rounded = q;
    }
    *integerPart = whole;
    *fraction = negativeFraction ? -rounded : rounded;
    return 0;
}
