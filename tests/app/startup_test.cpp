// Start-up and the main loop: the usage line, the manufacturing-test
// hand-over, the start-up packet and clock fix-up, the emergency stop and the
// one-time version exchange.
#include "app/tstat_main.h"

#include "config/data_dict.h"
#include "config/persist.h"
#include "coproc/coproc_comm.h"
#include "coproc/coproc_msg.h"
#include "hvac/hvac_control.h"
#include "hvac/relay_control.h"
#include "platform/platform.h"
#include "platform/platform_test.h"

#include "board_root.h"
#include "coproc_frame.h"
#include "modules.h"
#include "printed.h"
#include "pty_pair.h"
#include "run_tool.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// How many valid packets of a type a stream of link bytes holds.
size_t packets(const Bytes &stream, uint8_t type) {
    size_t n = 0;
    for (const Bytes &frame : coprocDecoded(stream)) {
        n += coprocCommCheckFrame(frame.data(), frame.size()) == 0 && frame[0] == type ? 1 : 0;
    }
    return n;
}

const std::string c_Tstat = TSTAT_BUILD_DIR "/bin/tstat";

TEST(StartUp, WrongArgumentCountPrintsOnlyTheUsageLine) {
    TempBoardRoot root;
    for (const std::vector<std::string> &args :
         {std::vector<std::string>{}, std::vector<std::string>{"/dev/a", "/dev/b"}}) {
        ToolResult r = runTool(c_Tstat, args);
        EXPECT_EQ(r.status, 255);
        EXPECT_EQ(r.out, "use is " + c_Tstat + " <coproc_dev>\n");
    }
    // Nothing else ran: no relay was touched, no shell command asked for.
    EXPECT_EQ(root.read("/sim/relays"), "");
    EXPECT_EQ(root.read("/sim/shell.log"), "");
}

TEST(StartUp, TestPinHandsTheProcessToTheManufacturingTestMode) {
    TempBoardRoot root;
    root.write("/sim/test-pin", "1\n");
    PtyPair link;
    ToolResult r = runTool(c_Tstat, {link.slaveName()});
    // The test mode's failure is the process's status; the loop never ran.
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(packets(link.read(100), 0x16), 0u);
    EXPECT_EQ(root.read("/sim/shell.log"), "");
}

class StartUpInProcess : public ::testing::Test {
  protected:
    TempBoardRoot root;
    PtyPair link;
    void SetUp() override { resetAll(); }
    void TearDown() override { resetAll(); }
    static void resetAll() { resetModules<>(); }
    int startUp() {
        std::string device = link.slaveName();
        char *argv[] = {const_cast<char *>("tstat"), device.data(), nullptr};
        return tstatStartUp(2, argv);
    }
};

TEST_F(StartUpInProcess, SendsTheStartUpPacketAndCarriesTheSavedYearIntoTheClock) {
    ScopedTimeZone utc("UTC0");
    root.write("/dev/mtdblock5", "");
    root.write("/dev/mtdblock8", "");
    ASSERT_EQ(runTool(TSTAT_BUILD_DIR "/bin/tstat-factory", {root.file("/dev/mtdblock4")}).status,
              0);
    TstatSysCfgPersistMem_t image{};
    // 2003-06-15 12:34:56 UTC: a clock that has lost its year.
    platformFakeClockSet(100, 0, 1055680496);
    ASSERT_EQ(startUp(), TSTAT_RUN_MAIN_LOOP);
    copyThermostatSysCfg(&image);
    int savedYear = image.clockYear + 1900;
    ASSERT_GT(savedYear, 2007);
    char expected[64];
    snprintf(expected, sizeof(expected), "date 06151234%04d.56\n/sbin/hwclock --systohc\n",
             savedYear);
    EXPECT_EQ(root.read("/sim/shell.log"), expected);
    EXPECT_EQ(packets(link.read(100), 0x16), 1u);

    // Without flash and without the I/O controller start-up goes on: a unit
    // that stopped here would heat nothing.
    resetAll();
    for (const char *region : {"/dev/mtdblock4", "/dev/mtdblock5", "/dev/mtdblock8"}) {
        ASSERT_EQ(unlink(root.file(region).c_str()), 0);
    }
    platformRefuseIoMap();
    std::string printed;
    ASSERT_EQ(printedBy([&] { return startUp(); }, &printed), TSTAT_RUN_MAIN_LOOP);
    EXPECT_NE(printed.find("ERROR: PersistUtil_Init failed"), std::string::npos) << printed;
    EXPECT_EQ(packets(link.read(100), 0x16), 1u);
}

TEST_F(StartUpInProcess, EmergencyStopEngagesAt491AndHoldsTenSeconds) {
    platformFakeClockSet(100, 0, 1700000000);
    // No reading yet: never engaged. A normal reading does not end the hold
    // early; a voltage still low when it ends starts the next hold at once,
    // so no control decision slips in between.
    const struct {
        int reading; // 0: none
        uint32_t afterMs;
        uint32_t engaged;
    } steps[] = {{0, 0, 0}, {492, 0, 0}, {491, 0, 1},  {600, 9999, 1},
                 {0, 1, 0}, {300, 0, 1}, {0, 10000, 1}};
    for (const auto &step : steps) {
        Bytes frame = coprocFrameOf(
            0x0E, {static_cast<uint8_t>(step.reading >> 8), static_cast<uint8_t>(step.reading)});
        if (step.reading != 0) {
            ASSERT_EQ(coprocMsgProcess(frame.data(), static_cast<uint16_t>(frame.size())), 0);
        }
        platformFakeClockAdvanceMs(step.afterMs);
        EXPECT_EQ(checkEStop(), step.engaged) << step.reading << " +" << step.afterMs;
    }
}

TEST_F(StartUpInProcess, VersionExchangeHappensExactlyOnce) {
    platformFakeClockSet(100, 0, 1700000000);
    ASSERT_EQ(coprocessorInit(link.slaveName().c_str()), 0);
    for (int i = 0; i < 5; i++) {
        tstatMainLoopPass();
    }
    EXPECT_EQ(packets(link.read(50), 0x10), 0u);
    setKorabusVersion("2.11");
    tstatMainLoopPass();
    EXPECT_EQ(packets(link.read(50), 0x10), 1u);
    setKorabusVersion("2.12");
    for (int i = 0; i < 5; i++) {
        tstatMainLoopPass();
    }
    EXPECT_EQ(packets(link.read(50), 0x10), 0u);
}

TEST_F(StartUpInProcess, ClockIsReloadedFromTheHardwareClockEvery30Seconds) {
    platformFakeClockSet(100, 0, 1700000000);
    for (int second = 0; second < 95; second++) {
        dispManRTCSetTimeout();
        dispManCheckRTCSetTimeout();
        platformFakeClockAdvanceMs(1000);
    }
    EXPECT_EQ(root.read("/sim/shell.log"),
              "/sbin/hwclock --hctosys\n/sbin/hwclock --hctosys\n/sbin/hwclock --hctosys\n");
}

} // namespace
