// The touch keys on the simulated board's key FIFO.
#include "graphics/buttons.h"

#include "platform/platform_display.h"

#include "board_root.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>
#include <vector>

namespace {

class Keys : public ::testing::Test {
  protected:
    TempBoardRoot root;
    int writer = -1;

    void SetUp() override {
        buttonReset();
        root.write("/dev/input/.keep", "");
        std::string fifo = root.file("/dev/input/event0");
        ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
        ASSERT_EQ(buttonInit(), 0);
        writer = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        ASSERT_GE(writer, 0);
    }
    void TearDown() override {
        close(writer);
        buttonReset();
    }
    void send(uint16_t type, uint16_t code, int32_t value) {
        uint8_t record[PLATFORM_KEY_EVENT_SIZE];
        platformEncodeKeyEvent(PlatformKeyEvent{type, code, value}, record);
        ASSERT_EQ(write(writer, record, sizeof(record)), 16);
    }
    void key(uint16_t code, int32_t value) { send(BUTTON_EVENT_KEY, code, value); }
    std::pair<int, uint32_t> check() {
        uint32_t id = 99;
        int edge = buttonCheck(&id);
        return {edge, edge == BUTTON_NO_EDGE ? 99u : id};
    }
    // The edges of count checks.
    std::vector<std::pair<int, uint32_t>> checks(int count) {
        std::vector<std::pair<int, uint32_t>> edges;
        for (int i = 0; i < count; i++) {
            edges.push_back(check());
        }
        return edges;
    }
};

using Edge = std::pair<int, uint32_t>;
using Edges = std::vector<Edge>;
const Edge NONE = {BUTTON_NO_EDGE, 99};

TEST_F(Keys, PressRepeatAndReleaseGiveOneEdgeEach) {
    checks(4);
    key(BUTTON_CODE_MODE, BUTTON_VALUE_PRESSED);
    EXPECT_EQ(checks(2), (Edges{{BUTTON_PRESS, BUTTON_MODE}, NONE}));
    // Kernel auto-repeat while held: no new edge.
    key(BUTTON_CODE_MODE, BUTTON_VALUE_REPEATED);
    key(BUTTON_CODE_MODE, BUTTON_VALUE_REPEATED);
    EXPECT_EQ(checks(2), (Edges{NONE, NONE}));
    key(BUTTON_CODE_MODE, BUTTON_VALUE_RELEASED);
    EXPECT_EQ(check(), Edge(BUTTON_RELEASE, BUTTON_MODE));
    // One event per check: two presses queued come out one after the other.
    key(BUTTON_CODE_UP, BUTTON_VALUE_PRESSED);
    key(BUTTON_CODE_DOWN, BUTTON_VALUE_PRESSED);
    EXPECT_EQ(checks(3), (Edges{{BUTTON_PRESS, BUTTON_UP}, {BUTTON_PRESS, BUTTON_DOWN}, NONE}));
}

TEST_F(Keys, AnEventUndoingAnUnreportedChangeCancelsIt) {
    // The fourth key goes down before its start-up release was reported.
    key(BUTTON_CODE_EXIT, BUTTON_VALUE_PRESSED);
    EXPECT_EQ(checks(4), (Edges{{BUTTON_RELEASE, BUTTON_UP},
                                {BUTTON_RELEASE, BUTTON_DOWN},
                                {BUTTON_RELEASE, BUTTON_MODE},
                                NONE}));
    // Its release later is an ordinary release edge.
    key(BUTTON_CODE_EXIT, BUTTON_VALUE_RELEASED);
    key(BUTTON_CODE_EXIT, BUTTON_VALUE_PRESSED);
    EXPECT_EQ(checks(2), (Edges{{BUTTON_RELEASE, BUTTON_EXIT}, {BUTTON_PRESS, BUTTON_EXIT}}));
}

TEST(KeysWithoutDevice, InitFailsAndNoEventIsRead) {
    TempBoardRoot root;
    buttonReset();
    EXPECT_EQ(buttonInit(), -1);
    EXPECT_EQ(g_keyFd, -1);
    for (int i = 0; i < 4; i++) {
        buttonCheck(nullptr);
    }
    uint32_t id = 99;
    EXPECT_EQ(buttonCheck(&id), BUTTON_NO_EDGE);
    buttonStop();
    EXPECT_EQ(g_keyFd, -1);
}

} // namespace
