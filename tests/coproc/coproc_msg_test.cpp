// Coprocessor messages: validation and dispatch, payload decoding into the
// stores, the periodic requests and the packets sent.
#include "coproc/coproc_msg.h"

#include "board_root.h"
#include "config/data_dict.h"
#include "config/persist.h"
#include "coproc_frame.h"
#include "modules.h"
#include "platform/platform_test.h"
#include "printed.h"
#include "pty_pair.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

int process(const Bytes &frame) {
    return coprocMsgProcess(frame.data(), static_cast<uint16_t>(frame.size()));
}

Bytes textBytes(const std::string &text) {
    return Bytes(text.begin(), text.end());
}

class MsgTest : public ::testing::Test {
  protected:
    void SetUp() override { TearDown(); }
    void TearDown() override { resetModules<Layer::Coproc>(); }
};

TEST_F(MsgTest, BusStatusAddressAndVersion) {
    // Online after offline: one channel dump; levels enabled: one level dump.
    process(coprocFrameOf(0x14, {0, 0, 0}));
    EXPECT_EQ(isDumpChannels(), 0);
    process(coprocFrameOf(0x14, {1, 0, 0}));
    EXPECT_EQ(getLedStatus(), 1);
    EXPECT_EQ(isDumpChannels(), 1);
    EXPECT_EQ(isDumpChannels(), 0);
    EXPECT_EQ(isDumpLevels(), 0);
    process(coprocFrameOf(0x14, {1, 9, 1}));
    process(coprocFrameOf(0x14, {5, 0, 7}));
    EXPECT_EQ(isDumpChannels(), 0); // still online: no new edge
    EXPECT_EQ(isDumpLevels(), 1);
    EXPECT_EQ(isDumpLevels(), 0);
    process(coprocFrameOf(0x14, {0, 0, 0}));
    EXPECT_EQ(getLedStatus(), 0);
    process(coprocFrameOf(0x14, {1, 0})); // too short: ignored
    EXPECT_EQ(getLedStatus(), 0);
    process(coprocFrameOf(0x14, {1, 0, 1}));
    EXPECT_EQ(isDumpChannels(), 1);
    EXPECT_EQ(isDumpLevels(), 1);

    process(coprocFrameOf(0x11, {42}));
    EXPECT_EQ(getKorabusAddress(), 42);
    process(coprocFrameOf(0x11, {}));
    EXPECT_EQ(getKorabusAddress(), 42);

    process(coprocFrameOf(0x17, textBytes(std::string("2.10") + '\0')));
    EXPECT_STREQ(getKorabusVersion(), "2.10");
    // A text without its NUL ends with the packet, and keeps nine characters.
    process(coprocFrameOf(0x17, textBytes(std::string(64, 'V'))));
    EXPECT_STREQ(getKorabusVersion(), "VVVVVVVVV");
}

// The words themselves reach the sensors (their tests report through here).
TEST_F(MsgTest, ShortReportsAndOtherSensorsChangeNothing) {
    process(coprocFrameOf(0x06, {0x0F, 0xA0, 0x0F, 0x9F, 0x14, 0x4C, 0x07, 0xD0}));
    process(coprocFrameOf(0x06, {1, 2, 3, 4, 5, 6}));
    process(coprocFrameOf(0x08, {0x1A, 0xE0}));
    process(coprocFrameOf(0x08, {0x11}));
    CoprocTempReading reading = {};
    coprocMsgGetInternalTemp(&reading);
    EXPECT_EQ(reading.firstWord, 0x0FA0);
    EXPECT_EQ(reading.secondWord, 0x0F9F);
    CoprocTempReading external = {};
    coprocMsgGetExternalTemp(&external);
    EXPECT_EQ(external.firstWord, 0x144C);
    EXPECT_EQ(external.secondWord, 0x07D0);
    EXPECT_EQ(coprocMsgGetRelHumidity(), 0x1AE0);
    // Only sensor 0 exists.
    CoprocTempReading other = {};
    other.sensorIndex = 1;
    coprocMsgGetExternalTemp(&other);
    EXPECT_EQ(other.firstWord, 0);
}

TEST_F(MsgTest, LineVoltageAndInvalidFrames) {
    // A bad frame, a bad CRC and a report too short to hold the reading
    // change nothing.
    EXPECT_EQ(process({0x0E, 0x06, 0x02}), -1);
    Bytes bad = coprocFrameOf(0x0E, {0x01, 0xE0});
    bad.back() ^= 0xFF;
    EXPECT_EQ(process(bad), -1);
    EXPECT_EQ(process(coprocFrameOf(0x0E, {0x07})), 0);
    uint16_t volts = 1234;
    EXPECT_EQ(coprocMsgGetLineVoltage(&volts), 0);
    EXPECT_EQ(volts, 1234);
    EXPECT_EQ(process(coprocFrameOf(0x0E, {0x01, 0xE0})), 0);
    EXPECT_EQ(coprocMsgGetLineVoltage(&volts), 1);
    EXPECT_EQ(volts, 480);
    EXPECT_EQ(coprocMsgGetLineVoltage(nullptr), 0);
    // Too short a channel or level payload is ignored, two bytes are
    // enough; unknown types are accepted and ignored.
    static int s_Channel = -1;
    const CoprocBusHandlers toBus{[](uint8_t c, uint8_t v) { s_Channel = c * 256 + v; }, nullptr,
                                  nullptr, nullptr};
    coprocMsgSetBusHandlers(&toBus);
    EXPECT_EQ(process(coprocFrameOf(0x01, {0x05})), 0);
    EXPECT_EQ(s_Channel, -1);
    EXPECT_EQ(process(coprocFrameOf(0x01, {0x05, 0x01})), 0);
    EXPECT_EQ(s_Channel, 0x0501);
    coprocMsgSetBusHandlers(nullptr);
    EXPECT_EQ(process(coprocFrameOf(0x02, {})), 0);
    EXPECT_EQ(process(coprocFrameOf(0x2A, {1, 2, 3})), 0);
    EXPECT_EQ(process(coprocFrameOf(0xFF, {})), 0);
}

TEST_F(MsgTest, StringAndCommandTextsStayWithinTheirPackets) {
    // Each frame and the text left in the buffer after it.
    const std::string longest(64, 'L');
    const std::string longestCommand(63, 'C');
    Bytes tooLong = {65};
    tooLong.insert(tooLong.end(), 60, 'A');
    // The length byte, then the 63 characters.
    Bytes full(1 + longestCommand.size(), 'C');
    full[0] = 63;
    const struct {
        Bytes frame;
        std::string text;
    } cases[] = {
        {coprocFrameOf(0x09, textBytes("KorabusTestPass")), "KorabusTestPass"},
        {coprocFrameOf(0x09, textBytes("ABC")), "ABC"},  // replaced whole
        {coprocFrameOf(0x09, {'X', 'Y', 0, 'Z'}), "XY"}, // the copy stops at a NUL
        // 64 characters fit; a length byte announcing more or fewer is ignored,
        // and one larger than the packet never reads past it.
        {coprocFrameOf(0x09, textBytes(longest)), longest},
        {coprocFrameOf(0x09, textBytes("short"), 69), longest},
        {coprocFrameOf(0x09, textBytes("short"), 3), longest},
        {coprocFrameOf(0x09, textBytes("four"), 40), "four"},
        {coprocFrameOf(0x09, {}), ""},
        // A command text: one without blanks and keyword stays as handed over.
        {coprocFrameOf(0x0B, textBytes("\x17NO-SUCH-COMMAND,H68,C76")), "NO-SUCH-COMMAND,H68,C76"},
        // N shorter than the text cuts it, N = 0 leaves none; N = 65, an N
        // beyond the received text and an empty packet are ignored.
        {coprocFrameOf(0x0B, {2, 'F', 'M', ' ', 'S', 'C'}), "FM"},
        {coprocFrameOf(0x0B, tooLong), "FM"},
        {coprocFrameOf(0x0B, {10, 'S', 'T'}), "FM"},
        {coprocFrameOf(0x0B, {}), "FM"},
        {coprocFrameOf(0x0B, {0}), ""},
        {coprocFrameOf(0x0B, full), longestCommand},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(process(c.frame), 0);
        EXPECT_EQ(std::string(g_stringBuf), c.text);
    }
}

TEST_F(MsgTest, PeriodicRequestsAndSends) {
    TempBoardRoot root;
    platformFakeClockSet(50, 0, 1700000000);
    PtyPair pty;
    printedBy([] { EXPECT_EQ(coprocessorInit("/dev/ttyMISSING"), -1); });
    coprocessorPoll(); // no link: nothing happens
    coprocMsgSendStartup();

    ASSERT_EQ(coprocessorInit(pty.slaveName().c_str()), 0);
    coprocessorPoll(); // the first period has not passed yet
    EXPECT_TRUE(pty.read(50).empty());
    platformFakeClockAdvanceMs(999);
    coprocessorPoll();
    EXPECT_TRUE(pty.read(50).empty());
    platformFakeClockAdvanceMs(1);
    coprocessorPoll();
    Bytes expected;
    for (uint8_t type : {0x05, 0x07, 0x0D, 0x15}) {
        Bytes p = coprocEncoded(type, {});
        expected.insert(expected.end(), p.begin(), p.end());
    }
    EXPECT_EQ(pty.read(), expected);
    coprocessorPoll();
    EXPECT_TRUE(pty.read(50).empty());

    // The other packets' bytes are checked where they are used (start-up,
    // control bus, bus address page); a channel state is sent as 0 or 1.
    coprocMsgSendChannel(COPROC_PKT_SEND_CHANNEL_ALT, 240, 7);
    EXPECT_EQ(pty.read(), coprocEncoded(0x13, {240, 1}));

    // Frames from the coprocessor are dispatched by the poll.
    pty.write(coprocEncoded(0x0E, {0x02, 0x58}));
    uint16_t volts = 0;
    for (int i = 0; i < 50 && coprocMsgGetLineVoltage(&volts) == 0; i++) {
        usleep(10000);
        coprocessorPoll();
    }
    EXPECT_EQ(volts, 600);
}

} // namespace
