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
    // Strictly one relay at a time, in index order, 500 ms or more apart.
    long previous = -1000;
    for (size_t i = 0; i < lines.size(); i++) {
        long ms = 0;
        int relay = -1;
        int state = -1;
        ASSERT_EQ(sscanf(lines[i].c_str(), "%ld %d %d", &ms, &relay, &state), 3);
        EXPECT_EQ(relay, i < 9 ? static_cast<int>(i) + 1 : static_cast<int>(i) - 9);
        EXPECT_GE(ms - previous, 500);
        previous = ms;
    }
    EXPECT_EQ(platformSimOverlappingPulses(), 0u);
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
