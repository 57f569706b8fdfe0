// Key records written to the application's key FIFO.
#include "key_pad.h"

#include "board_root.h"
#include "platform/platform_test.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

TEST(Keys, RecordsAndFifo) {
    // The records are those the key test of the display under the simulator
    // sends through; the names are the page's.
    EXPECT_EQ(sim::keyCode("exit"), BUTTON_CODE_EXIT);
    EXPECT_EQ(sim::keyCode("UP"), 0);

    TempBoardRoot root;
    platformFakeClockSet(10, 0, 1700000000);
    root.write("/dev/input/.keep", "");
    std::string fifo = root.file("/dev/input/event0");
    // No reader: an error, never a hang. Unknown keys are refused.
    testing::internal::CaptureStderr();
    EXPECT_EQ(sim::pressKey("up", 0.1), 1);
    EXPECT_EQ(sim::pressKey("sideways", 0.1), 1);
    ASSERT_EQ(mkfifo(fifo.c_str(), 0660), 0);
    EXPECT_EQ(sim::pressKey("up", 0.1), 1);
    std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_NE(errors.find("no application is reading the keys"), std::string::npos);
    EXPECT_NE(errors.find("unknown key"), std::string::npos);

    int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    EXPECT_EQ(sim::pressKey("mode", 2.5), 0);
    uint8_t buf[64];
    ASSERT_EQ(read(reader, buf, sizeof(buf)), 32);
    EXPECT_EQ(buf[10] | buf[11] << 8, BUTTON_CODE_MODE);
    EXPECT_EQ(buf[12], 1);
    EXPECT_EQ(buf[16 + 12], 0);
    // The hold passed on the simulated clock.
    uint32_t pressed = buf[0] | buf[1] << 8 | buf[2] << 16 | static_cast<uint32_t>(buf[3]) << 24;
    uint32_t freed = buf[16] | buf[17] << 8 | buf[18] << 16 | static_cast<uint32_t>(buf[19]) << 24;
    EXPECT_GE(freed - pressed, 2u);
    close(reader);
}

} // namespace
