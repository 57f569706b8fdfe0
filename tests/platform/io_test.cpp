// The simulated I/O controller: coil pulses latch relays and are reported in
// sim/relays and sim/relay-log; the test pin reads sim/test-pin.
#include "platform/platform.h"
#include "platform/platform_test.h"

#include "board_root.h"

#include <gtest/gtest.h>

namespace {

constexpr uint32_t PIOC = 0x800;
constexpr uint32_t PER = PIOC + 0x00;
constexpr uint32_t OER = PIOC + 0x10;
constexpr uint32_t ODR = PIOC + 0x14;
constexpr uint32_t SODR = PIOC + 0x30;
constexpr uint32_t CODR = PIOC + 0x34;
constexpr uint32_t PDSR = PIOC + 0x3C;

constexpr uint32_t pin(int n) {
    return 1u << n;
}

class SimulatedIo : public ::testing::Test {
  protected:
    TempBoardRoot root;
    void SetUp() override {
        platformFakeClockSet(50, 0, 1700000000);
        ASSERT_EQ(platformIoMap(), PLATFORM_IO_OK);
    }
    void enableOutputs() {
        const int pins[] = {0, 1, 2, 7, 3, 4, 5, 6, 24, 25, 16, 17, 18, 23, 19, 20, 21, 22, 28, 29};
        for (int p : pins) {
            platformIoWrite(PER, pin(p));
            platformIoWrite(OER, pin(p));
        }
    }
    void pulse(int coilPin, uint32_t ms = 500) {
        platformIoWrite(SODR, pin(coilPin));
        platformFakeClockAdvanceMs(ms);
        platformIoWrite(CODR, pin(coilPin));
    }
};

TEST_F(SimulatedIo, CompletedPulsesLatchRelaysAndAreLogged) {
    EXPECT_EQ(root.read("/sim/relays"), "??????????\n");
    enableOutputs();
    pulse(5);  // Y1 set coil
    pulse(23); // O/B reset coil
    EXPECT_EQ(root.read("/sim/relays"), "01????????\n");
    pulse(21); // Y1 reset coil
    pulse(2);  // G3 set coil
    EXPECT_EQ(root.read("/sim/relays"), "00???????1\n");
    EXPECT_STREQ(platformSimRelayContacts(), "00???????1");
    EXPECT_EQ(root.read("/sim/relay-log"), "500 1 1\n1000 0 0\n1500 1 0\n2000 9 1\n");
    EXPECT_EQ(platformSimOverlappingPulses(), 0u);
}

TEST_F(SimulatedIo, OnlyEnabledOutputsCanBePulsedAndOverlapsAreCounted) {
    // Not yet handed to the PIO controller as outputs: nothing moves.
    pulse(5);
    EXPECT_EQ(root.read("/sim/relays"), "??????????\n");
    EXPECT_EQ(root.read("/sim/relay-log"), "");
    enableOutputs();
    // Ending a pulse that never started latches nothing.
    platformIoWrite(CODR, pin(23));
    EXPECT_EQ(root.read("/sim/relay-log"), "");
    platformIoWrite(SODR, pin(5));
    platformIoWrite(SODR, pin(6));
    EXPECT_EQ(platformSimCoilLines(), pin(5) | pin(6));
    EXPECT_EQ(platformSimOverlappingPulses(), 1u);
    platformIoWrite(CODR, pin(5) | pin(6));
    EXPECT_EQ(root.read("/sim/relays"), "?11???????\n");
    platformIoWrite(ODR, pin(5));
    pulse(5);
    EXPECT_EQ(platformSimCoilLines(), 0u);
    EXPECT_EQ(root.read("/sim/relays"), "?11???????\n");
}

TEST_F(SimulatedIo, TestPinReadsTheSimulatedBoardFile) {
    EXPECT_EQ(platformIoRead(PDSR) & pin(31), 0u); // no file
    for (const auto &[content, high] : {std::pair{"1\n", true}, std::pair{"1", true},
                                        std::pair{"0\n", false}, std::pair{"11", false}}) {
        root.write("/sim/test-pin", content);
        EXPECT_EQ(platformIoRead(PDSR) & pin(31), high ? pin(31) : 0u) << content;
    }
    // Offsets outside the page are ignored.
    platformIoWrite(4096, 1);
    EXPECT_EQ(platformIoRead(4096), 0u);
}

} // namespace
