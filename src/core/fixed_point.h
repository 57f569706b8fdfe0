// Fixed-point numbers: signed 32-bit with 13 fraction bits (8192 = 1.0).
//
// Every temperature (degrees Celsius), humidity (percent), differential and
// setpoint in the system is one of these. The operations return 0 on success
// and -1 on failure, and leave the result untouched when they fail.
//
// The decimal split used for entry and display is an integer part and a
// fraction in hundred-millionths (10^-8); the fraction is negative only when
// the integer part is 0 and the value is negative.
#pragma once

#include <cstdint>

using fpr_t = int32_t;

constexpr fpr_t FPR_ONE = 8192;
constexpr fpr_t FPR_HALF = 4096;
constexpr fpr_t FPR_MAX = 0x3FFFFFF;  // largest result add, subtract and multiply accept
constexpr fpr_t FPR_MIN = -0x4000000; // smallest one
// One step of 1/8192 in hundred-millionths (12207.03125 cut), and half of it.
constexpr int32_t FPR_STEP_E8 = 12207;
constexpr int32_t FPR_HALF_STEP_E8 = 6103;
// 1/30, for averaging 30 samples.
constexpr fpr_t FPR_ONE_THIRTIETH = 273;

int fprAdd(fpr_t a, fpr_t b, fpr_t *result);
int fprSub(fpr_t a, fpr_t b, fpr_t *result);
int fprMul(fpr_t a, fpr_t b, fpr_t *result);
int fprDiv(fpr_t a, fpr_t b, fpr_t *result);
int fprInv(fpr_t a, fpr_t *result);
int fprAvg(fpr_t a, fpr_t b, fpr_t *result);
int fprGen(int16_t integerPart, int32_t fraction, fpr_t *result);
int fprDecode(fpr_t a, int16_t *integerPart, int32_t *fraction);
int fprDecodeRes(fpr_t a, int16_t *integerPart, int32_t *fraction, uint32_t digits);

// Builds a constant from its integer part and fraction at compile time, with
// the same rounding as fprGen (for tables and tests).
constexpr fpr_t fprConst(int16_t integerPart, int32_t fraction) {
    int64_t f = fraction < 0 ? -static_cast<int64_t>(fraction) : fraction;
    int64_t steps = f / FPR_STEP_E8 + (f % FPR_STEP_E8 >= FPR_HALF_STEP_E8 ? 1 : 0);
    if (fraction < 0) {
        return static_cast<fpr_t>(-steps);
    }
    int64_t whole = static_cast<int64_t>(integerPart) * FPR_ONE;
    return static_cast<fpr_t>(integerPart < 0 ? whole - steps : whole + steps);
}
