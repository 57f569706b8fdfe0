// Timers on the monotonic clock.
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

TEST_F(Timers, DeadlinesCarryNanosecondsAndZeroedTimersAreExpired) {
    UtilTimer never{};
    EXPECT_EQ(util_check_expiration(&never), 1);
    const struct {
        uint32_t ms;
        int32_t seconds, nanoseconds;
    } cases[] = {{0, 10, 600000000},
                 {1500, 12, 100000000},
                 {400, 11, 0},
                 {399, 10, 999000000},
                 {4000000000u, 4000010, 600000000}};
    for (const auto &c : cases) {
        UtilTimer t{};
        util_set_expiration(&t, c.ms);
        EXPECT_EQ(t.seconds, c.seconds) << c.ms;
        EXPECT_EQ(t.nanoseconds, c.nanoseconds) << c.ms;
        EXPECT_EQ(util_check_expiration(&t), c.ms == 0 ? 1 : 0) << c.ms;
    }
    // Only the monotonic clock counts: the wall clock jumping either way moves no deadline.
    UtilTimer t{};
    util_set_expiration(&t, 2000);
    platformFakeClockSetWall(1700000000 - 3600);
    platformFakeClockAdvanceMs(1999);
    EXPECT_EQ(util_check_expiration(&t), 0);
    platformFakeClockSetWall(1700000000 + 86400);
    platformFakeClockAdvanceMs(1);
    EXPECT_EQ(util_check_expiration(&t), 1);
}

} // namespace
