// Manufacturing test mode: the command receiver, the sensor ranges, the
// sequence ending at a failed link or relay test, a failed bus test or
// sensor that does not end it, and the write-once serial number. The
// fixture's side of the console port and the coprocessor's side of the link
// are pseudo-terminals; every wait runs on the fake clock.
#include "mfgtest/mfgtest.h"

#include "config/data_dict.h"
#include "config/persist.h"
#include "coproc/coproc_comm.h"
#include "coproc/coproc_msg.h"
#include "encoder.h"
#include "graphics/buttons.h"
#include "hvac/relay_control.h"
#include "hvac/sensors.h"
#include "platform/platform.h"
#include "platform/platform_display.h"
#include "platform/platform_test.h"

#include "board_root.h"
#include "coproc_frame.h"
#include "fixed.h"
#include "host/relay_check.h"
#include "modules.h"
#include "printed.h"
#include "pty_pair.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

int whole(fpr_t value) {
    int16_t w = 0;
    int32_t fraction = 0;
    fprDecodeRes(value, &w, &fraction, 0);
    return w;
}

Bytes textBytes(const std::string &text) {
    return Bytes(text.begin(), text.end());
}

Bytes word(uint16_t value) {
    return {static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
}

// In the unit, the control bus hands the coprocessor's strings to the test
// sequence while it waits for one; here nothing else is listening.
const CoprocBusHandlers c_BusForwardingStrings{
    nullptr, nullptr, [](char *text) { set_mfg_test_resp(text); }, nullptr};

class MfgTest : public ::testing::Test {
  protected:
    TempBoardRoot root;
    PtyPair console; // the fixture's end of /dev/ttyS0
    PtyPair coproc;  // the coprocessor's end of the link

    void SetUp() override {
        resetModules<Layer::MfgTest>();
        platformFakeClockSet(1000, 0, 1700000000);
        std::filesystem::create_directories(root.file("/dev/input"));
        ASSERT_EQ(symlink(console.slaveName().c_str(), root.file("/dev/ttyS0").c_str()), 0);
        root.write("/dev/input/event0", "");
        root.write("/dev/mtdblock4", "");
        root.write("/dev/mtdblock5", "");
        root.write("/dev/mtdblock8", "");
        ASSERT_EQ(coprocessorInit(coproc.slaveName().c_str()), 0);
        ASSERT_EQ(RlyCntl_Init(), 0);
        Sensors_Initialize();
        coprocMsgSetBusHandlers(&c_BusForwardingStrings);
    }
    void TearDown() override { resetModules<Layer::MfgTest>(); }

    void fixtureSends(const std::string &text) { console.write(textBytes(text)); }
    void coprocSends(uint8_t type, const Bytes &payload) {
        coproc.write(coprocEncoded(type, payload));
    }
    // Key presses (with their releases) waiting on the key device, after the
    // keys' start-up edges have been taken as a running unit takes them.
    void keyPresses(int count) {
        ASSERT_EQ(buttonInit(), 0);
        for (int i = 0; i < 4; i++) {
            buttonCheck(nullptr);
        }
        const uint16_t codes[] = {BUTTON_CODE_UP, BUTTON_CODE_DOWN, BUTTON_CODE_MODE};
        std::string records;
        for (int i = 0; i < count; i++) {
            for (int32_t value : {1, 0}) {
                uint8_t record[PLATFORM_KEY_EVENT_SIZE];
                platformEncodeKeyEvent({BUTTON_EVENT_KEY, codes[i % 3], value}, record);
                records.append(reinterpret_cast<char *>(record), sizeof(record));
            }
        }
        root.write("/dev/input/event0", records);
    }
    // Runs the sequence from `step`; what it printed goes to *printed.
    int run(int step, std::string *printed) {
        return printedBy([&] { return start_manufacturing_tests(step); }, printed);
    }
    // The relays in the order their contacts closed, from the relay log.
    std::vector<int> relaysClosed() {
        std::istringstream log(root.read("/sim/relay-log"));
        std::vector<RelayEvent> events;
        std::string error;
        EXPECT_TRUE(parseRelayLog(log, events, error)) << error;
        std::vector<int> closed;
        for (const RelayEvent &e : events) {
            if (e.closed == 1) {
                closed.push_back(e.relay);
            }
        }
        return closed;
    }
};

TEST(MfgCommandReceiver, MatchesWholeLinesOfTheExpectedCommand) {
    struct Case {
        std::string input;
        const char *expected;
        int matches;
    };
    const std::string x24(24, 'x');
    const Case cases[] = {
        {"***SerialLinkTest\n", "SerialLinkTest\n", 1},
        {"SerialLinkTest\n", "SerialLinkTest\n", 1},
        {"***IOTest\n", "SerialLinkTest\n", 0},
        {"***SerialLinkTest\r\n", "SerialLinkTest\n", 0},
        {"***IOTest\n***SerialLinkTest\n***SerialLinkTest\n", "SerialLinkTest\n", 2},
        // The longest line the buffer holds is 24 characters; a longer one is
        // dropped whole, even when it ends in the command.
        {x24.substr(1) + "\n***IOTest\n", "IOTest\n", 1},
        {x24 + "\n***IOTest\n", "IOTest\n", 1},
        {std::string(100, 'x') + "IOTest\n", "IOTest\n", 0},
        {"***EnterSerialNumber\n", "EnterSerialNumber\n", 1},
    };
    for (const Case &c : cases) {
        mfgTestReset();
        int matches = 0;
        for (char byte : c.input) {
            matches += mfgCommandFeed(static_cast<uint8_t>(byte), c.expected);
        }
        EXPECT_EQ(matches, c.matches) << c.input;
    }
}

TEST_F(MfgTest, AStepsTimeRunsOutAtItsLastMillisecond) {
    start_mfg_test_timer(2);
    platformFakeClockAdvanceMs(1999);
    EXPECT_EQ(check_mfg_test_timer(), 0);
    platformFakeClockAdvanceMs(1);
    EXPECT_NE(check_mfg_test_timer(), 0);
}

TEST(MfgSensorRange, EdgesRoundToWholeUnits) {
    struct Case {
        double reading;
        int16_t low, high;
        int result;
        int16_t shown;
    };
    const Case cases[] = {
        {150.4, MFG_TEMP_LOW, MFG_TEMP_HIGH, 0, 150},
        {150.6, MFG_TEMP_LOW, MFG_TEMP_HIGH, -1, 151},
        {151.0, MFG_TEMP_LOW, MFG_TEMP_HIGH, -1, 151},
        {-50.4, MFG_TEMP_LOW, MFG_TEMP_HIGH, 0, -50},
        {-51.0, MFG_TEMP_LOW, MFG_TEMP_HIGH, -1, -51},
        {100.4, MFG_HUM_LOW, MFG_HUM_HIGH, 0, 100},
        {100.6, MFG_HUM_LOW, MFG_HUM_HIGH, -1, 101},
        {0.0, MFG_HUM_LOW, MFG_HUM_HIGH, 0, 0},
        {-0.6, MFG_HUM_LOW, MFG_HUM_HIGH, -1, -1},
    };
    for (const Case &c : cases) {
        int16_t shown = 0;
        EXPECT_EQ(mfgReadingInRange(fx(c.reading), c.low, c.high, &shown), c.result) << c.reading;
        EXPECT_EQ(shown, c.shown) << c.reading;
    }
}

TEST_F(MfgTest, IgnoresAnotherStepsCommandAndLeavesWhatFollows) {
    fixtureSends("***IOTest\n***SerialLinkTest\n***KorabusTest\n");
    EXPECT_EQ(uart_rx_poll("SerialLinkTest\n"), 0);
    EXPECT_EQ(uart_rx_poll("KorabusTest\n"), 0);
    // The earlier command was discarded, and with the fixture gone the wait
    // ends instead of lasting for ever; the port is closed at the end.
    console.closeMaster();
    EXPECT_EQ(uart_rx_poll("IOTest\n"), -1);
    auto openFiles = [] {
        return std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                             std::filesystem::directory_iterator());
    };
    const auto withPort = openFiles();
    mfgTestReset();
    EXPECT_EQ(openFiles(), withPort - 1);
}

TEST_F(MfgTest, FailedLinkOrRelayTestEndsTheSequence) {
    struct Case {
        bool linkAnswered;
        int presses;
        const char *printed;
        int64_t endsAfterMs; // at least this much fake time
        std::vector<int> closed;
    };
    const Case cases[] = {
        {false, 0, "APP_READY\nAT_LM_INT_TEST_FAIL\n", 10000, {}},
        // Relays 10-18: G1, G2, G3, W1/E, W2, Y1, Y2, O/B, DEH; the tenth
        // press never comes and the walk runs out of its 120 s.
        {true,
         9,
         "APP_READY\nAT_LM_INT_TEST_PASS\nIO_TEST_FAIL\n",
         120000,
         {7, 8, 9, 3, 4, 1, 2, 0, 5}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.printed);
        resetModules<Layer::MfgTest>();
        root.write("/sim/relay-log", "");
        ASSERT_EQ(coprocessorInit(coproc.slaveName().c_str()), 0);
        ASSERT_EQ(RlyCntl_Init(), 0);
        coproc.read(0);
        if (c.linkAnswered) {
            coprocSends(COPROC_PKT_STRING, textBytes("ABCDE"));
        }
        keyPresses(c.presses);
        fixtureSends("***SerialLinkTest\n***IOTest\n***KorabusTest\n");
        int64_t start = platformUptimeMs();
        std::string printed;
        EXPECT_EQ(run(0, &printed), -1);
        EXPECT_EQ(printed, c.printed);
        EXPECT_GE(platformUptimeMs() - start, c.endsAfterMs);
        EXPECT_LT(platformUptimeMs() - start, c.endsAfterMs + 20000);
        EXPECT_EQ(relaysClosed(), c.closed);
        // Latching relays: the failed walk leaves every contact open.
        if (c.presses > 0) {
            EXPECT_STREQ(platformSimRelayContacts(), "0000000000");
        }
    }
}

TEST_F(MfgTest, FailedBusTestOrSensorDoesNotEndTheSequence) {
    // A bus test never answered, which fails when its time runs out; an open
    // on-board thermistor (354 kilo-ohms, above its table, which reads as
    // -50, inside the pass range) and good readings of the external
    // thermistor and the humidity sensor.
    sim::ThermistorWords external = sim::encodeExternal(4.2);
    Bytes temp = word(1000);
    for (uint16_t w : {uint16_t{1945}, external.first, external.second}) {
        Bytes b = word(w);
        temp.insert(temp.end(), b.begin(), b.end());
    }
    coprocSends(COPROC_PKT_TEMP, temp);
    coprocSends(COPROC_PKT_HUMIDITY, word(sim::encodeHumidity(45.0)));
    for (int i = 0; i < 1000 && coprocMsgGetRelHumidity() == 0; i++) {
        coprocessorPoll();
        usleep(1000);
    }
    ASSERT_EQ(PersistUtil_Init(), 0);
    fixtureSends("***KorabusTest\n***LCDTest\n***IntTempSsorTest\n***ExtTempSsorTest\n"
                 "***HumSsorTest\n***EnterSerialNumber\nSN000000000001***ReadSerialNumber\n");
    std::string printed;
    EXPECT_EQ(run(3, &printed), 0);
    // What the display step prints about the missing panel comes in between.
    const std::string after = "LCD_TEST_DONE\n-50 INT_TEMP_TEST_FAIL\n" +
                              std::to_string(whole(Sensors_GetExternalTemp(0))) +
                              " EXT_TEMP_TEST_PASS\n" +
                              std::to_string(whole(Sensors_GetOnboardRelHumidity())) +
                              " HUM_TEST_PASS\nSERIAL_NUMBER_RX_PASS\n"
                              "Serial Number read from Flash is : \nSN000000000001";
    EXPECT_EQ(printed.rfind("KORABUS_TEST_FAIL\n", 0), 0u) << printed;
    ASSERT_GE(printed.size(), after.size());
    EXPECT_EQ(printed.substr(printed.size() - after.size()), after);
}

TEST_F(MfgTest, SerialNumberIsWrittenOnceAndReadBack) {
    struct Case {
        const char *name;
        std::string sent;
        const char *held;    // a valid serial already stored, or null
        bool storeFails;     // no flash region can be written
        std::string printed; // by steps 8 and 9
    };
    const std::string header = "Serial Number read from Flash is : \n";
    const Case cases[] = {
        {"blank unit",
         std::string("NEW\r\nSER\0IAL\x7f\xff"
                     "12345",
                     19),
         nullptr, false, "SERIAL_NUMBER_RX_PASS\n" + header + "NEWSERIAL12345"},
        {"unit with a serial", "ANOTHER0000002", "OLDSERIAL00001", false,
         "SERIAL_NUMBER_RX_PASS\n" + header + "OLDSERIAL00001"},
        {"store fails", "NEWSERIAL12345", nullptr, true,
         "ERROR: cannot write the copy of the user configuration\nSERIAL_NUMBER_RX_FAIL\n" +
             header},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        resetModules<Layer::MfgTest>();
        root.write("/dev/mtdblock8", "");
        PersistUtil_Init();
        if (c.held != nullptr) {
            ASSERT_EQ(setSerialNumber(reinterpret_cast<const uint8_t *>(c.held)), 0);
        }
        // Blank flash whose every write fails.
        platformCutFlash(c.storeFails ? 0 : -1);
        fixtureSends("***EnterSerialNumber\n" + c.sent + "***ReadSerialNumber\n");
        std::string printed;
        EXPECT_EQ(run(8, &printed), 0);
        EXPECT_EQ(printed, c.printed);
    }
}

} // namespace
