// Fixed-point arithmetic: rounding, overflow limits and the decimal split.
#include "core/fixed_point.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

constexpr fpr_t UNTOUCHED = 0x5A5A5A5;

using Op = int (*)(fpr_t, fpr_t, fpr_t *);

int gen(fpr_t integerPart, fpr_t fraction, fpr_t *r) {
    return fprGen(static_cast<int16_t>(integerPart), fraction, r);
}
int inv(fpr_t a, fpr_t, fpr_t *r) {
    return fprInv(a, r);
}

// Each operation's status and result; a failed one leaves the result alone.
TEST(FixedPoint, OperationsRoundAndCheckTheirLimits) {
    const struct {
        Op op;
        const char *name;
        fpr_t a, b;
        int status;
        fpr_t result;
    } cases[] = {
        // fprGen from a decimal split: half a step (6103 / 10^8) rounds away from 0.
        {gen, "gen", 34, 0, 0, 278528},
        {gen, "gen", 4, 50000000, 0, 36864},
        {gen, "gen", 0, -50000000, 0, -4096},
        {gen, "gen", -1, 50000000, 0, -12288},
        {gen, "gen", 0, 999999, 0, 82},
        {gen, "gen", 0, 12207 + 6103, 0, 2},
        {gen, "gen", 0, 12207 + 6102, 0, 1},
        {gen, "gen", 0, -(12207 + 6103), 0, -2},
        {gen, "gen", -3, 6103, 0, -3 * 8192 - 1},
        {gen, "gen", 1, -1, -1, UNTOUCHED},
        // fprAdd and fprSub keep to 27 bits; a sum that wraps 32 bits must not slip past.
        {fprAdd, "add", 67108863, 1, -1, UNTOUCHED},
        {fprAdd, "add", -67108864, 0, 0, -67108864},
        {fprAdd, "add", 67108862, 1, 0, 67108863},
        {fprAdd, "add", -67108864, -1, -1, UNTOUCHED},
        {fprAdd, "add", INT32_MAX, INT32_MAX, -1, UNTOUCHED},
        {fprAdd, "add", INT32_MIN, INT32_MIN, -1, UNTOUCHED},
        {fprSub, "sub", 8192, 12288, 0, -4096},
        {fprSub, "sub", -67108864, 1, -1, UNTOUCHED},
        {fprSub, "sub", 0, INT32_MIN, -1, UNTOUCHED},
        {fprSub, "sub", 0, -67108863, 0, 67108863},
        // fprMul rounds toward minus infinity.
        {fprMul, "mul", -1, 1, 0, -1},
        {fprMul, "mul", 1, 1, 0, 0},
        {fprMul, "mul", 36864, 16384, 0, 73728},
        {fprMul, "mul", -12288, 12288, 0, -18432},
        {fprMul, "mul", 8191 * 8192, 8192, 0, 8191 * 8192},
        {fprMul, "mul", 4096 * 8192, 16384, -1, UNTOUCHED},
        {fprMul, "mul", -4096 * 8192, 16384, 0, -67108864},
        {fprMul, "mul", -4096 * 8192, 16385, -1, UNTOUCHED},
        {fprMul, "mul", INT32_MAX, INT32_MAX, -1, UNTOUCHED},
        // fprDiv and fprInv truncate toward 0; without a range check the
        // low 32 bits of the quotient are kept.
        {fprDiv, "div", 8192, 0, -1, UNTOUCHED},
        {fprDiv, "div", 8192, 3 * 8192, 0, 2730},
        {fprDiv, "div", -8192, 3 * 8192, 0, -2730},
        {fprDiv, "div", 73728, 40960, 0, 14745},
        {fprDiv, "div", INT32_MIN, -1, 0,
         static_cast<fpr_t>(static_cast<uint32_t>((-static_cast<int64_t>(INT32_MIN)) * 8192))},
        {inv, "inv", 0, 0, -1, UNTOUCHED},
        {inv, "inv", 16384, 0, 0, 4096},
        {inv, "inv", -3, 0, 0, -22369621},
        // fprAvg halves the sum, floored.
        {fprAvg, "avg", 8192, 16384, 0, 12288},
        {fprAvg, "avg", -1, 0, 0, -1},
        {fprAvg, "avg", 1, 0, 0, 0},
        {fprAvg, "avg", 67108863, 67108863, -1, UNTOUCHED},
    };
    for (const auto &c : cases) {
        fpr_t r = UNTOUCHED;
        EXPECT_EQ(c.op(c.a, c.b, &r), c.status) << c.name << "(" << c.a << ", " << c.b << ")";
        EXPECT_EQ(r, c.result) << c.name << "(" << c.a << ", " << c.b << ")";
    }
    EXPECT_EQ(fprConst(-1, 50000000), -12288);
    EXPECT_EQ(fprConst(0, 999999), 82);
}

// Beyond eight digits fprDecodeRes keeps the full fraction, as fprDecode gives it.
constexpr uint32_t FULL = 9;

TEST(FixedPoint, DecodeSplitsIntoIntegerAndFractionRoundedToDigits) {
    const struct {
        fpr_t value;
        uint32_t digits;
        int16_t integerPart;
        int32_t fraction;
    } cases[] = {
        {-12288, FULL, -1, 49999872},
        {-4096, FULL, 0, -49999872},
        {-8192, FULL, -1, 0},
        {8191, FULL, 0, 99987537},
        {278528, FULL, 34, 0},
        {0, FULL, 0, 0},
        {-12288, 1, -1, 5},
        {-4096, 1, 0, -5},
        {-8191, 1, -1, 0},
        {180223, 1, 22, 0},
        {172441, 1, 21, 0},
        {172442, 1, 21, 1},
        {12288, 0, 1, 0},
        {-8191, 0, -1, 0},
        {8191, 0, 1, 0},
        {4097, 0, 1, 0},
        {-4097, 0, -1, 0},
        {12288, 2, 1, 50},
        {-12288, 2, -1, 50},
        {8191, 2, 1, 0},
        {82, 2, 0, 1},
        {-82, 2, 0, -1},
        {0, 2, 0, 0},
        {36864, 1, 4, 5},
        {81, 8, 0, 988767},
        {-81, 8, 0, -988767},
    };
    for (const auto &c : cases) {
        for (uint32_t digits : c.digits == FULL ? std::vector<uint32_t>{9, 13, 14, 1000}
                                                : std::vector<uint32_t>{c.digits}) {
            int16_t integerPart = 0;
            int32_t fraction = 0;
            EXPECT_EQ(fprDecodeRes(c.value, &integerPart, &fraction, digits), 0);
            EXPECT_EQ(integerPart, c.integerPart) << c.value << " to " << digits << " digits";
            EXPECT_EQ(fraction, c.fraction) << c.value << " to " << digits << " digits";
        }
        if (c.digits == FULL) {
            int16_t integerPart = 0;
            int32_t fraction = 0;
            EXPECT_EQ(fprDecode(c.value, &integerPart, &fraction), 0);
            EXPECT_EQ(integerPart, c.integerPart) << c.value;
            EXPECT_EQ(fraction, c.fraction) << c.value;
        }
    }
}

} // namespace
