// Relay driver: the start-up sweep, one-at-a-time pulse sequences, the
// compressor minimum off time, fan speed codes and the test pin.
#include "hvac/relay_control.h"

#include "config/data_dict.h"
#include "platform/platform.h"
#include "platform/platform_test.h"

#include "board_root.h"

#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>

namespace {

class RelayDriver : public ::testing::Test {
  protected:
    TempBoardRoot root;

    void SetUp() override {
        platformFakeClockSet(1000, 0, 1700000000);
        RlyCntl_Reset();
        setDiagnosticModeSetting(0);
    }
    void TearDown() override {
        setDiagnosticModeSetting(0);
        RlyCntl_Reset();
    }

    // Runs main-loop passes every 10 ms until the sequence is idle again.
    void runUntilIdle() {
        for (int i = 0; i < 2000; i++) {
            if (RlyCntl_RefreshRelays() >= RELAY_COUNT && i > 0) {
                return;
            }
            platformFakeClockAdvanceMs(10);
        }
        FAIL() << "the pulse sequence never ended";
    }
    void startUp() {
        ASSERT_EQ(RlyCntl_Init(), 0);
        runUntilIdle(); // reset sweep of relays 1 to 9
        runUntilIdle(); // first full sequence by the desired states
    }
    std::vector<std::string> logLines() {
        std::vector<std::string> lines;
        std::istringstream in(root.read("/sim/relay-log"));
        for (std::string line; std::getline(in, line);) {
            lines.push_back(line);
        }
        return lines;
    }
};

TEST_F(RelayDriver, StartUpSweepsResetCoilsThenDrivesEveryRelay) {
    ASSERT_EQ(RlyCntl_Init(), 0);
    RlyCntl_SetW1E(1);
    runUntilIdle();
    // Relay 0's first pulse is only ended, never started: it is not latched.
    EXPECT_EQ(root.read("/sim/relays"), "?000000000\n");
    EXPECT_EQ(logLines().size(), 9u);
    runUntilIdle();
    EXPECT_EQ(root.read("/sim/relays"), "0001000000\n");
    std::vector<std::string> lines = logLines();
    ASSERT_EQ(lines.size(), 19u);
    // Strictly one relay at a time, 500 ms or more apart: the sweep in index
    // order, then the openings in index order before the closing of W1/E.
    const int order[19] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 1, 2, 4, 5, 6, 7, 8, 9, 3};
    long previous = -1000;
    for (size_t i = 0; i < lines.size(); i++) {
        long ms = 0;
        int relay = -1;
        int state = -1;
        ASSERT_EQ(sscanf(lines[i].c_str(), "%ld %d %d", &ms, &relay, &state), 3);
        EXPECT_EQ(relay, order[i]) << i;
        EXPECT_GE(ms - previous, 500);
        previous = ms;
    }
    EXPECT_EQ(platformSimOverlappingPulses(), 0u);
}

TEST_F(RelayDriver, ASwitchOpensOneOutputBeforeItClosesTheOther) {
    struct Switch {
        const char *what;
        void (*off)(uint32_t);
        void (*on)(uint32_t);
        int opened;
        int closed;
    };
    const Switch switches[] = {
        {"humidify to dehumidify", RlyCntl_SetHum, RlyCntl_SetDeh, RELAY_HUM, RELAY_DEH},
        {"heat to cool", RlyCntl_SetW1E, RlyCntl_SetY1, RELAY_W1E, RELAY_Y1},
        {"high fan speed to low", RlyCntl_SetG3, RlyCntl_SetG1, RELAY_G3, RELAY_G1},
    };
    startUp();
    for (const Switch &s : switches) {
        SCOPED_TRACE(s.what);
        s.off(1);
        runUntilIdle();
        size_t from = logLines().size();
        s.off(0);
        s.on(1);
        runUntilIdle();
        std::vector<std::string> lines = logLines();
        size_t openedAt = SIZE_MAX;
        size_t closedAt = 0;
        for (size_t i = from; i < lines.size(); i++) {
            int relay = -1;
            int state = -1;
            sscanf(lines[i].c_str(), "%*s %d %d", &relay, &state);
            openedAt = relay == s.opened && state == 0 ? i : openedAt;
            closedAt = relay == s.closed && state == 1 ? i : closedAt;
        }
        EXPECT_LT(openedAt, closedAt);
        s.on(0);
        runUntilIdle();
    }
}

TEST_F(RelayDriver, IdleWithoutChangesAndChangesWaitForTheRunningSequence) {
    startUp();
    size_t logged = logLines().size();
    for (int i = 0; i < 100; i++) {
        EXPECT_GE(RlyCntl_RefreshRelays(), static_cast<uint32_t>(RELAY_COUNT));
        platformFakeClockAdvanceMs(100);
    }
    EXPECT_EQ(logLines().size(), logged);
    EXPECT_EQ(platformSimCoilLines(), 0u);

    RlyCntl_SetHum(1);
    RlyCntl_RefreshRelays();
    platformFakeClockAdvanceMs(600);
    RlyCntl_RefreshRelays(); // now pulsing relay 1
    RlyCntl_SetDeh(1);       // too late for this sequence
    runUntilIdle();
    EXPECT_EQ(root.read("/sim/relays"), "0000001000\n");
    runUntilIdle();
    EXPECT_EQ(root.read("/sim/relays"), "0000011000\n");
    EXPECT_EQ(logLines().size(), logged + 20);
}

TEST_F(RelayDriver, CompressorStagesKeepTheirMinimumOffTime) {
    // The first start after process start is honoured at once.
    RlyCntl_SetY1(1);
    EXPECT_EQ(RlyCntl_GetY1(), 1u);
    RlyCntl_SetY1(0);
    platformFakeClockAdvanceMs(200000);
    RlyCntl_SetY1(1);
    EXPECT_EQ(RlyCntl_GetY1(), 0u);
    // Setting the wall clock back does not shorten the wait.
    platformFakeClockSetWall(1700000000 - 7200);
    platformFakeClockAdvanceMs(99000);
    RlyCntl_SetY1(1);
    EXPECT_EQ(RlyCntl_GetY1(), 0u);
    platformFakeClockAdvanceMs(1000);
    RlyCntl_SetY1(1);
    EXPECT_EQ(RlyCntl_GetY1(), 1u);

    // Y2 keeps its own time; a refused request is not remembered.
    RlyCntl_SetY2(1);
    RlyCntl_SetY2(0);
    platformFakeClockAdvanceMs(10000);
    RlyCntl_SetY2(1);
    EXPECT_EQ(RlyCntl_GetY2(), 0u);
    platformFakeClockAdvanceMs(291000);
    EXPECT_EQ(RlyCntl_GetY2(), 0u);
    RlyCntl_SetY2(1);
    EXPECT_EQ(RlyCntl_GetY2(), 1u);

    // Diagnostic mode lifts the limit.
    setDiagnosticModeSetting(1);
    for (int i = 0; i < 3; i++) {
        RlyCntl_SetY1(0);
        RlyCntl_SetY1(1);
        EXPECT_EQ(RlyCntl_GetY1(), 1u);
    }
}

TEST_F(RelayDriver, MinimumOffTimeCountsFromTheContactOpening) {
    startUp();
    RlyCntl_SetY1(1);
    runUntilIdle();
    RlyCntl_SetG1(1);
    RlyCntl_RefreshRelays(); // a sequence starts for the fan
    platformFakeClockAdvanceMs(2000);
    RlyCntl_SetY1(0); // decided now, driven by the next sequence
    runUntilIdle();
    runUntilIdle();
    EXPECT_EQ(root.read("/sim/relays"), "0000000100\n");
    // 300 s after the decision, but not yet after the contact opened.
    platformFakeClockAdvanceMs(300000 - 2000 - 4000);
    RlyCntl_SetY1(1);
    EXPECT_EQ(RlyCntl_GetY1(), 0u);
    platformFakeClockAdvanceMs(4000);
    RlyCntl_SetY1(1);
    EXPECT_EQ(RlyCntl_GetY1(), 1u);
}

TEST_F(RelayDriver, FanSpeedCodesMapToTheFanRelays) {
    struct Case {
        uint32_t code;
        uint32_t g1, g2, g3;
    };
    for (const Case &c : {Case{0, 0, 0, 1}, Case{1, 0, 1, 0}, Case{2, 1, 0, 0}, Case{3, 0, 0, 0},
                          Case{7, 0, 0, 0}}) {
        RlyCntl_SetFanSpeed(c.code);
        EXPECT_EQ(RlyCntl_GetG1(), c.g1) << c.code;
        EXPECT_EQ(RlyCntl_GetG2(), c.g2) << c.code;
        EXPECT_EQ(RlyCntl_GetG3(), c.g3) << c.code;
        EXPECT_EQ(RlyCntl_GetFanSpeed(), c.code > 3 ? 3u : c.code);
    }
    // Several fan relays on: the lowest speed wins.
    RlyCntl_SetG3(1);
    RlyCntl_SetG1(1);
    EXPECT_EQ(RlyCntl_GetFanSpeed(), static_cast<uint32_t>(FAN_SPEED_LOW));
}

} // namespace
