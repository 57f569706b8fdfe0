// Timers on the monotonic clock, wall-clock seconds and big-endian helpers.
#include "core/util.h"

#include "board_root.h"
#include "platform/platform.h"
#include "platform/platform_test.h"

#include <gtest/gtest.h>

namespace {

class Timers : public ::testing::Test {
  protected:
    TempBoardRoot root;
    void SetUp() override { platformFakeClockSet(10, 600000000, 1700000000); }
};

TEST_F(Timers, ZeroedAndZeroLengthTimersAreExpired) {
    UtilTimer never{};
    EXPECT_EQ(util_check_expiration(&never), 1);
    UtilTimer zero{};
    util_set_expiration(&zero, 0);
    EXPECT_EQ(zero.seconds, 10);
    EXPECT_EQ(zero.nanoseconds, 600000000);
    EXPECT_EQ(util_check_expiration(&zero), 1);
}

TEST_F(Timers, DeadlineCarriesNanosecondsIntoSeconds) {
    UtilTimer t{};
    util_set_expiration(&t, 1500);
    EXPECT_EQ(t.seconds, 12);
    EXPECT_EQ(t.nanoseconds, 100000000);
    util_set_expiration(&t, 400);
    EXPECT_EQ(t.seconds, 11);
    EXPECT_EQ(t.nanoseconds, 0);
    util_set_expiration(&t, 399);
    EXPECT_EQ(t.seconds, 10);
    EXPECT_EQ(t.nanoseconds, 999000000);
    util_set_expiration(&t, 4000000000u);
    EXPECT_EQ(t.seconds, 4000010);
    EXPECT_EQ(t.nanoseconds, 600000000);
}

TEST_F(Timers, ExpiresExactlyAtTheDeadlineAndStaysExpired) {
    UtilTimer t{};
    util_set_expiration(&t, 500);
    platformFakeClockAdvanceMs(499);
    EXPECT_EQ(util_check_expiration(&t), 0);
    platformFakeClockAdvanceMs(1);
    EXPECT_EQ(util_check_expiration(&t), 1);
    platformFakeClockAdvanceMs(60000);
    EXPECT_EQ(util_check_expiration(&t), 1);
    // Later second, smaller nanoseconds: still expired.
    util_set_expiration(&t, 900);
    platformFakeClockAdvanceMs(1000);
    EXPECT_EQ(util_check_expiration(&t), 1);
}

TEST_F(Timers, WallClockJumpsDoNotDisturbTimers) {
    UtilTimer t{};
    util_set_expiration(&t, 2000);
    EXPECT_EQ(util_time(nullptr), 1700000000);
    platformFakeClockSetWall(1700000000 - 3600);
    platformFakeClockAdvanceMs(1999);
    EXPECT_EQ(util_check_expiration(&t), 0);
    platformFakeClockSetWall(1700000000 + 86400);
    EXPECT_EQ(util_check_expiration(&t), 0);
    platformFakeClockAdvanceMs(1);
    EXPECT_EQ(util_check_expiration(&t), 1);
    // The wall clock moved with the monotonic clock where nobody set it.
    int64_t stored = 0;
    EXPECT_EQ(util_time(&stored), 1700000000 + 86400 + 0);
    EXPECT_EQ(stored, 1700000000 + 86400);
}

TEST(ByteOrder, PutAndGetAreBigEndianAndAdvanceThePointer) {
    uint8_t buf[6] = {};
    uint8_t *p = utilPutUint16BE(0xAB1234, buf);
    EXPECT_EQ(p, buf + 2);
    EXPECT_EQ(buf[0], 0x12);
    EXPECT_EQ(buf[1], 0x34);
    p = utilPutUint32BE(0xDEADBEEF, p);
    EXPECT_EQ(p, buf + 6);
    EXPECT_EQ(buf[2], 0xDE);
    EXPECT_EQ(buf[5], 0xEF);

    const uint8_t in[] = {0x01, 0x02, 0x03, 0x04, 0xFF, 0xFE};
    uint32_t v32 = 0;
    uint16_t v16 = 0;
    const uint8_t *q = utilGetUint32BE(&v32, in);
    EXPECT_EQ(v32, 0x01020304u);
    q = utilGetUint16BE(&v16, q);
    EXPECT_EQ(v16, 0xFFFE);
    EXPECT_EQ(q, in + 6);
}

} // namespace
