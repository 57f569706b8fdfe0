// Fixed-point arithmetic: rounding, overflow limits and the decimal split.
#include "core/fixed_point.h"

#include <gtest/gtest.h>

namespace {

struct Split {
    int16_t integerPart;
    int32_t fraction;
};

Split decode(fpr_t a) {
    Split s{};
    fprDecode(a, &s.integerPart, &s.fraction);
    return s;
}

Split decodeRes(fpr_t a, uint32_t digits) {
    Split s{};
    fprDecodeRes(a, &s.integerPart, &s.fraction, digits);
    return s;
}

constexpr fpr_t UNTOUCHED = 0x5A5A5A5;

TEST(FixedPoint, GenBuildsFromDecimalSplitWithHalfStepRounding) {
    fpr_t r = 0;
    EXPECT_EQ(fprGen(34, 0, &r), 0);
    EXPECT_EQ(r, 278528);
    EXPECT_EQ(fprGen(4, 50000000, &r), 0);
    EXPECT_EQ(r, 36864);
    EXPECT_EQ(fprGen(0, -50000000, &r), 0);
    EXPECT_EQ(r, -4096);
    EXPECT_EQ(fprGen(-1, 50000000, &r), 0);
    EXPECT_EQ(r, -12288);
    EXPECT_EQ(fprGen(0, 999999, &r), 0);
    EXPECT_EQ(r, 82);
    // Half a step (6103) rounds up, 6102 rounds down, in both signs.
    EXPECT_EQ(fprGen(0, 12207 + 6103, &r), 0);
    EXPECT_EQ(r, 2);
    EXPECT_EQ(fprGen(0, 12207 + 6102, &r), 0);
    EXPECT_EQ(r, 1);
    EXPECT_EQ(fprGen(0, -(12207 + 6103), &r), 0);
    EXPECT_EQ(r, -2);
    EXPECT_EQ(fprGen(-3, 6103, &r), 0);
    EXPECT_EQ(r, -3 * 8192 - 1);

    r = UNTOUCHED;
    EXPECT_EQ(fprGen(1, -1, &r), -1);
    EXPECT_EQ(r, UNTOUCHED);
    EXPECT_EQ(fprConst(4, 50000000), 36864);
    EXPECT_EQ(fprConst(-1, 50000000), -12288);
    EXPECT_EQ(fprConst(0, 999999), 82);
}

TEST(FixedPoint, AddAndSubtractCheckTheRangeLimits) {
    fpr_t r = UNTOUCHED;
    EXPECT_EQ(fprAdd(67108863, 1, &r), -1);
    EXPECT_EQ(r, UNTOUCHED);
    EXPECT_EQ(fprAdd(-67108864, 0, &r), 0);
    EXPECT_EQ(r, -67108864);
    EXPECT_EQ(fprAdd(67108862, 1, &r), 0);
    EXPECT_EQ(r, 67108863);
    EXPECT_EQ(fprAdd(-67108864, -1, &r), -1);
    // A sum that wraps a 32-bit word must not slip past the check.
    EXPECT_EQ(fprAdd(INT32_MAX, INT32_MAX, &r), -1);
    EXPECT_EQ(fprAdd(INT32_MIN, INT32_MIN, &r), -1);

    EXPECT_EQ(fprSub(8192, 12288, &r), 0);
    EXPECT_EQ(r, -4096);
    EXPECT_EQ(fprSub(-67108864, 1, &r), -1);
    EXPECT_EQ(fprSub(0, INT32_MIN, &r), -1);
    EXPECT_EQ(fprSub(0, -67108863, &r), 0);
    EXPECT_EQ(r, 67108863);
}

TEST(FixedPoint, MultiplyRoundsTowardMinusInfinityAndChecksOverflow) {
    fpr_t r = 0;
    EXPECT_EQ(fprMul(-1, 1, &r), 0);
    EXPECT_EQ(r, -1);
    EXPECT_EQ(fprMul(1, 1, &r), 0);
    EXPECT_EQ(r, 0);
    EXPECT_EQ(fprMul(36864, 16384, &r), 0); // 4.5 x 2.0
    EXPECT_EQ(r, 73728);
    EXPECT_EQ(fprMul(-12288, 12288, &r), 0); // -1.5 x 1.5
    EXPECT_EQ(r, -18432);
    // 8191.0 x 1.0 fits; 4096 x 2 does not; neither does a large negative product.
    EXPECT_EQ(fprMul(8191 * 8192, 8192, &r), 0);
    EXPECT_EQ(r, 8191 * 8192);
    r = UNTOUCHED;
    EXPECT_EQ(fprMul(4096 * 8192, 16384, &r), -1);
    EXPECT_EQ(fprMul(-4096 * 8192, 16384, &r), 0);
    EXPECT_EQ(r, -67108864);
    r = UNTOUCHED;
    EXPECT_EQ(fprMul(-4096 * 8192, 16385, &r), -1);
    EXPECT_EQ(r, UNTOUCHED);
    EXPECT_EQ(fprMul(INT32_MAX, INT32_MAX, &r), -1);
}

TEST(FixedPoint, DivideAndInvertTruncateTowardZeroAndRejectZero) {
    fpr_t r = UNTOUCHED;
    EXPECT_EQ(fprDiv(8192, 0, &r), -1);
    EXPECT_EQ(fprInv(0, &r), -1);
    EXPECT_EQ(r, UNTOUCHED);
    EXPECT_EQ(fprDiv(8192, 3 * 8192, &r), 0);
    EXPECT_EQ(r, 2730); // 0.3333 truncated
    EXPECT_EQ(fprDiv(-8192, 3 * 8192, &r), 0);
    EXPECT_EQ(r, -2730);
    EXPECT_EQ(fprDiv(73728, 40960, &r), 0); // 9 / 5
    EXPECT_EQ(r, 14745);
    // No range check: the low 32 bits of the quotient are kept.
    EXPECT_EQ(fprDiv(INT32_MIN, -1, &r), 0);
    EXPECT_EQ(r,
              static_cast<fpr_t>(static_cast<uint32_t>((-static_cast<int64_t>(INT32_MIN)) * 8192)));
    EXPECT_EQ(fprInv(16384, &r), 0);
    EXPECT_EQ(r, 4096);
    EXPECT_EQ(fprInv(-3, &r), 0);
    EXPECT_EQ(r, -22369621);
}

TEST(FixedPoint, AverageHalvesTheSumFlooredAndFailsOnOverflow) {
    fpr_t r = UNTOUCHED;
    EXPECT_EQ(fprAvg(8192, 16384, &r), 0);
    EXPECT_EQ(r, 12288);
    EXPECT_EQ(fprAvg(-1, 0, &r), 0);
    EXPECT_EQ(r, -1);
    EXPECT_EQ(fprAvg(1, 0, &r), 0);
    EXPECT_EQ(r, 0);
    r = UNTOUCHED;
    EXPECT_EQ(fprAvg(67108863, 67108863, &r), -1);
    EXPECT_EQ(r, UNTOUCHED);
}

TEST(FixedPoint, DecodeSplitsIntoTruncatedIntegerAndFractionMagnitude) {
    Split s = decode(-12288);
    EXPECT_EQ(s.integerPart, -1);
    EXPECT_EQ(s.fraction, 49999872);
    s = decode(-4096);
    EXPECT_EQ(s.integerPart, 0);
    EXPECT_EQ(s.fraction, -49999872);
    s = decode(-8192);
    EXPECT_EQ(s.integerPart, -1);
    EXPECT_EQ(s.fraction, 0);
    s = decode(8191);
    EXPECT_EQ(s.integerPart, 0);
    EXPECT_EQ(s.fraction, 99987537);
    s = decode(278528);
    EXPECT_EQ(s.integerPart, 34);
    EXPECT_EQ(s.fraction, 0);
    s = decode(0);
    EXPECT_EQ(s.integerPart, 0);
    EXPECT_EQ(s.fraction, 0);
}

TEST(FixedPoint, DecodeResRoundsToDigitsWithCarryIntoIntegerPart) {
    struct Case {
        fpr_t value;
        uint32_t digits;
        int16_t integerPart;
        int32_t fraction;
    };
    const Case cases[] = {
        {-12288, 1, -1, 5},  {-4096, 1, 0, -5},  {-8191, 1, -1, 0},  {180223, 1, 22, 0},
        {172441, 1, 21, 0},  {172442, 1, 21, 1}, {12288, 0, 1, 0},   {-8191, 0, -1, 0},
        {8191, 0, 1, 0},     {4097, 0, 1, 0},    {-4097, 0, -1, 0},  {12288, 2, 1, 50},
        {-12288, 2, -1, 50}, {8191, 2, 1, 0},    {82, 2, 0, 1},      {-82, 2, 0, -1},
        {0, 2, 0, 0},        {36864, 1, 4, 5},   {81, 8, 0, 988767}, {-81, 8, 0, -988767},
    };
    for (const Case &c : cases) {
        Split s = decodeRes(c.value, c.digits);
        EXPECT_EQ(s.integerPart, c.integerPart) << c.value << " to " << c.digits << " digits";
        EXPECT_EQ(s.fraction, c.fraction) << c.value << " to " << c.digits << " digits";
    }
}

TEST(FixedPoint, DecodeResBeyondEightDigitsKeepsTheFullFraction) {
    for (uint32_t digits : {9u, 10u, 13u, 14u, 1000u}) {
        Split s = decodeRes(-12288, digits);
        EXPECT_EQ(s.integerPart, -1);
        EXPECT_EQ(s.fraction, 49999872);
        s = decodeRes(-4096, digits);
        EXPECT_EQ(s.integerPart, 0);
        EXPECT_EQ(s.fraction, -49999872);
    }
}

} // namespace
