// The simulated coprocessor and its console: reports, the controller's
// traffic, faults, answers to the thermostat's packets, and decoding.
#include "coprocessor.h"

#include "console.h"
#include "coproc/coproc_comm.h"
#include "coproc/coproc_msg.h"
#include "decode.h"
#include "encoder.h"
#include "hvac/sensors.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

std::vector<Bytes> m_Frames;

int recordFrame(const uint8_t *frame, uint16_t length) {
    m_Frames.emplace_back(frame, frame + length);
    return 0;
}

// The thermostat's end of the link, on the other side of a socket pair.
class Peer {
  public:
    Peer() {
        int fds[2];
        EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, fds), 0);
        coprocFd = fds[0];
        link = coprocCommAttach(fds[1], recordFrame);
        m_Frames.clear();
    }
    ~Peer() { coprocCommClose(link); }
    // Everything the coprocessor has sent so far, as frames.
    std::vector<Bytes> frames() {
        m_Frames.clear();
        coprocCommPoll(link);
        return m_Frames;
    }
    Bytes rawBytes() {
        Bytes out;
        uint8_t buf[512];
        ssize_t got;
        while ((got = read(link->fd, buf, sizeof(buf))) > 0) {
            out.insert(out.end(), buf, buf + got);
        }
        return out;
    }
    void send(uint8_t type, const Bytes &payload) {
        coprocCommSendPacket(link, type, static_cast<uint8_t>(payload.size()), payload.data());
    }
    int coprocFd = -1;
    CoprocComm *link = nullptr;
};

std::string text(const Bytes &frame) {
    return std::string(frame.begin() + 2, frame.end() - 2);
}

Bytes payload(const Bytes &frame) {
    return Bytes(frame.begin() + 2, frame.end() - 2);
}

const Bytes *findType(const std::vector<Bytes> &frames, uint8_t type) {
    for (const Bytes &f : frames) {
        if (f[0] == type) {
            return &f;
        }
    }
    return nullptr;
}

class CoprocessorTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Sensors_Initialize();
        house.setIndoor(21.3);
        house.setIndoorRh(45.0);
        house.advance(0.0, 15.0);
        coproc =
            std::make_unique<sim::Coprocessor>(peer.coprocFd, house, sim::CoprocessorOptions{},
                                               [this](const std::string &l) { said.push_back(l); });
        ctx = {coproc.get(),
               &house,
               &paused,
               &quit,
               [this](const std::string &l) { said.push_back(l); },
               [this] { said.push_back("house shown"); }};
    }
    bool saidLine(const std::string &part) const {
        return std::any_of(said.begin(), said.end(),
                           [&](const std::string &l) { return l.find(part) != std::string::npos; });
    }
    sim::HouseParams params;
    sim::House house{params};
    Peer peer;
    std::unique_ptr<sim::Coprocessor> coproc;
    std::vector<std::string> said;
    bool paused = false;
    bool quit = false;
    sim::ConsoleContext ctx;
};

TEST_F(CoprocessorTest, ReportsCarryTheHouse) {
    coproc->poll(0);
    std::vector<Bytes> frames = peer.frames();
    ASSERT_EQ(frames.size(), 6u);
    std::vector<uint8_t> types;
    for (const Bytes &f : frames) {
        EXPECT_EQ(coprocCommCheckFrame(f.data(), f.size()), 0);
        types.push_back(f[0]);
    }
    EXPECT_EQ(types, (std::vector<uint8_t>{0x06, 0x08, 0x0E, 0x14, 0x11, 0x17}));
    Bytes temp = payload(frames[0]);
    ASSERT_EQ(temp.size(), 8u);
    auto word = [&](int i) { return static_cast<uint16_t>(temp[2 * i] << 8 | temp[2 * i + 1]); };
    EXPECT_NEAR(sim::decodeOnboard({word(0), word(1)}), 21.3, 0.05);
    EXPECT_NEAR(sim::decodeExternal({word(2), word(3)}), house.outdoor(), 0.08);
    Bytes hum = payload(frames[1]);
    EXPECT_NEAR(sim::decodeHumidity(static_cast<uint16_t>(hum[0] << 8 | hum[1])), 45.0, 1.0);
    EXPECT_EQ(payload(frames[2]), (Bytes{0x02, 0x58}));
    EXPECT_EQ(payload(frames[3]), (Bytes{1, 0, 1}));
    EXPECT_EQ(payload(frames[4]), (Bytes{1}));
    EXPECT_EQ(payload(frames[5]), (Bytes{'2', '.', '1', '0', 0}));

    // Once a second of simulated time; the identity every 30 seconds.
    coproc->poll(999);
    EXPECT_TRUE(peer.frames().empty());
    coproc->poll(1000);
    EXPECT_EQ(peer.frames().size(), 4u);
    // A late pass sends one set, not the missed ones.
    coproc->poll(25000);
    EXPECT_EQ(peer.frames().size(), 4u);
    coproc->poll(30000);
    EXPECT_EQ(peer.frames().size(), 6u);

    // The second thermistor can measure the indoor air instead.
    coproc->setExternal(sim::ExternalSensor::Indoor);
    coproc->reportNow();
    coproc->poll(30100);
    Bytes again = payload(peer.frames()[0]);
    EXPECT_NEAR(sim::decodeExternal({static_cast<uint16_t>(again[4] << 8 | again[5]),
                                     static_cast<uint16_t>(again[6] << 8 | again[7])}),
                21.3, 0.08);
}

TEST_F(CoprocessorTest, ConsoleSendsTheControllersTraffic) {
    EXPECT_TRUE(sim::runConsoleLine("channel 214 1", ctx));
    EXPECT_TRUE(sim::runConsoleLine("  level 3 190  ", ctx));
    EXPECT_TRUE(sim::runConsoleLine("command MD MPH H68 C76", ctx));
    EXPECT_TRUE(sim::runConsoleLine("command SFLASH1\\r", ctx));
    EXPECT_TRUE(sim::runConsoleLine("string \"  ABCDE \"", ctx));
    EXPECT_TRUE(sim::runConsoleLine("packet 0x2A 01 02 0a", ctx));
    EXPECT_TRUE(sim::runConsoleLine("# a comment", ctx));
    EXPECT_TRUE(sim::runConsoleLine("", ctx));
    std::vector<Bytes> frames = peer.frames();
    ASSERT_EQ(frames.size(), 6u);
    EXPECT_EQ(frames[0], (Bytes{0x01, 0x06, 214, 1, frames[0][4], frames[0][5]}));
    EXPECT_EQ(payload(frames[1]), (Bytes{3, 190}));
    EXPECT_EQ(frames[2][0], 0x0B);
    EXPECT_EQ(text(frames[2]), std::string("\x0EMD MPH H68 C76"));
    EXPECT_EQ(text(frames[3]), std::string("\x08SFLASH1\r"));
    EXPECT_EQ(frames[4][0], 0x09);
    EXPECT_EQ(text(frames[4]), "  ABCDE ");
    EXPECT_EQ(payload(frames[5]), (Bytes{1, 2, 10}));
    EXPECT_TRUE(saidLine("sim> channel 214 1 (fan on) [0x01]"));
    EXPECT_TRUE(saidLine("sim> command \"SFLASH1\\r\" [0x0B]"));

    // Lines that are not understood send nothing and say why.
    for (const char *bad : {"channel 300 1", "channel 5", "level x 1", "command bad\\q",
                            "voltage -1", "silence forever", "set indoor hot", "frobnicate",
                            "garbage 0", "overlong 2", "raw zz", "online maybe"}) {
        said.clear();
        EXPECT_FALSE(sim::runConsoleLine(bad, ctx)) << bad;
        EXPECT_FALSE(said.empty()) << bad;
    }
    EXPECT_TRUE(peer.frames().empty());

    // House settings, pause and quit.
    EXPECT_TRUE(sim::runConsoleLine("set indoor 23.5", ctx));
    EXPECT_DOUBLE_EQ(house.indoor(), 23.5);
    EXPECT_TRUE(sim::runConsoleLine("set equipment heatpump", ctx));
    EXPECT_EQ(house.params().equipment, sim::Equipment::HeatPump);
    EXPECT_TRUE(sim::runConsoleLine("pause", ctx));
    EXPECT_TRUE(paused);
    EXPECT_TRUE(sim::runConsoleLine("house", ctx));
    EXPECT_TRUE(saidLine("house shown"));
    EXPECT_TRUE(sim::runConsoleLine("quit", ctx));
    EXPECT_TRUE(quit);
}

TEST_F(CoprocessorTest, Faults) {
    coproc->poll(0);
    peer.frames();
    EXPECT_TRUE(sim::runConsoleLine("voltage 480", ctx));
    coproc->poll(1000);
    const std::vector<Bytes> frames = peer.frames();
    ASSERT_NE(findType(frames, 0x0E), nullptr);
    EXPECT_EQ(payload(*findType(frames, 0x0E)), (Bytes{0x01, 0xE0}));

    // Silence: nothing at all until it is over.
    EXPECT_TRUE(sim::runConsoleLine("silence 5", ctx));
    for (int64_t t = 2000; t < 6000; t += 1000) {
        coproc->poll(t);
        EXPECT_TRUE(peer.frames().empty()) << t;
    }
    coproc->poll(6000);
    EXPECT_EQ(peer.frames().size(), 4u);

    // Garbage never contains END, so it cannot make frames of its own.
    EXPECT_TRUE(sim::runConsoleLine("garbage 50", ctx));
    Bytes garbage = peer.rawBytes();
    EXPECT_EQ(garbage.size(), 50u);
    EXPECT_EQ(std::count(garbage.begin(), garbage.end(), 0xC0), 0);

    // A bad CRC arrives as a frame that fails its check.
    EXPECT_TRUE(sim::runConsoleLine("badcrc", ctx));
    std::vector<Bytes> bad = peer.frames();
    ASSERT_EQ(bad.size(), 1u);
    EXPECT_EQ(bad[0][0], 0x06);
    EXPECT_EQ(coprocCommCheckFrame(bad[0].data(), bad[0].size()), -1);

    // An over-long frame is dropped by the receiver; the next one arrives.
    EXPECT_TRUE(sim::runConsoleLine("overlong 80", ctx));
    EXPECT_TRUE(peer.frames().empty());
    EXPECT_TRUE(sim::runConsoleLine("overlong 68", ctx));
    EXPECT_EQ(peer.frames().size(), 1u);
    EXPECT_TRUE(sim::runConsoleLine("online 0", ctx));
    EXPECT_TRUE(sim::runConsoleLine("levels off", ctx));
    coproc->reportNow();
    coproc->poll(6100);
    const std::vector<Bytes> status = peer.frames();
    ASSERT_NE(findType(status, 0x14), nullptr);
    EXPECT_EQ(payload(*findType(status, 0x14)), (Bytes{0, 0, 0}));
}

TEST_F(CoprocessorTest, AnswersTheThermostat) {
    coproc->poll(0);
    peer.frames();
    // Start-up: the bus identity comes at once.
    peer.send(0x16, {});
    coproc->poll(10);
    std::vector<Bytes> frames = peer.frames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0][0], 0x11);
    EXPECT_EQ(frames[1][0], 0x17);
    EXPECT_TRUE(saidLine("tstat> start-up [0x16]"));

    // A new bus address: address, complement, address.
    peer.send(0x0F, {9});
    peer.send(0x0F, {0xF6});
    peer.send(0x0F, {9});
    coproc->poll(20);
    frames = peer.frames();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(payload(frames[0]), (Bytes{9}));
    EXPECT_EQ(coproc->options().address, 9);
    peer.send(0x0F, {4});
    peer.send(0x0F, {4});
    peer.send(0x0F, {4});
    coproc->poll(30);
    EXPECT_TRUE(peer.frames().empty());
    EXPECT_EQ(coproc->options().address, 9);
    EXPECT_TRUE(saidLine("address sequence rejected"));

    // Manufacturing tests: the bus test and the bare link-test frame.
    peer.send(0x12, {'F', 'M', ' ', 'S', 'F', ' ', 'D', 'D', ' ', 'T', '1'});
    coproc->poll(40);
    frames = peer.frames();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0][0], 0x09);
    EXPECT_EQ(text(frames[0]), "KorabusTestPass");
    EXPECT_TRUE(sim::runConsoleLine("bustest fail", ctx));
    peer.send(0x12, {'x'});
    coproc->poll(50);
    EXPECT_EQ(text(peer.frames()[0]), "KorabusTestFail");
    std::string linkTest = "\xC0Kz8mWq3VbN5tR7pLd\xC0";
    coprocCommSendRaw(peer.link, static_cast<uint8_t>(linkTest.size()),
                      reinterpret_cast<const uint8_t *>(linkTest.data()));
    coproc->poll(60);
    frames = peer.frames();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(text(frames[0]), "ABCDE");

    // Everything else is printed decoded; requests are only counted.
    said.clear();
    peer.send(0x13, {214, 1});
    peer.send(0x04, {1, 190});
    peer.send(0x0C, {'M', 'D', ' ', 'M', 'P', 'H', ' '});
    peer.send(0x05, {});
    peer.send(0x07, {});
    uint8_t broken[] = {0xC0, 0x03, 0x06, 0x05, 0x01, 0x00, 0x00, 0xC0};
    coprocCommSendRaw(peer.link, sizeof(broken), broken);
    coproc->poll(70);
    EXPECT_TRUE(saidLine("tstat> channel 214 1 (fan on) [0x13]"));
    EXPECT_TRUE(saidLine("tstat> level 1 190 = 70 display degrees (indoor temperature) [0x04]"));
    EXPECT_TRUE(saidLine("tstat> reply \"MD MPH \" [0x0C]"));
    EXPECT_TRUE(saidLine("tstat> bad frame (CRC): 03 06 05 01 00 00"));
    EXPECT_FALSE(saidLine("request"));
    EXPECT_EQ(coproc->takeRequestCounts(), "1/1/0/0");
    EXPECT_EQ(coproc->takeRequestCounts(), "0/0/0/0");
    EXPECT_EQ(coproc->badFrames(), 1u);
}

TEST(Decode, FramesAndTexts) {
    auto frame = [](uint8_t type, const Bytes &p) {
        Bytes f = {type, static_cast<uint8_t>(p.size() + 4)};
        f.insert(f.end(), p.begin(), p.end());
        f.push_back(0);
        f.push_back(0);
        return sim::decodeFrame(f.data(), f.size());
    };
    EXPECT_EQ(frame(0x03, {209, 0}), "channel 209 0 (fan speed low) [0x03]");
    EXPECT_EQ(frame(0x13, {99, 1}), "channel 99 1 (unknown channel) [0x13]");
    EXPECT_EQ(frame(0x04, {2, 45}), "level 2 45 (indoor humidity) [0x04]");
    EXPECT_EQ(frame(0x18, {'2', '.', '1', '0', '/', '3', '.', '0', '4'}),
              "version \"2.10/3.04\" [0x18] bus firmware / application version");
    // Replies and reports say what they mean.
    auto reply = [&](const std::string &t) { return frame(0x0C, Bytes(t.begin(), t.end())); };
    EXPECT_EQ(reply("MD MPH H68 C76 "),
              "reply \"MD MPH H68 C76 \" [0x0C] mode report: permanent hold, heat 68, cool 76");
    EXPECT_EQ(reply("MD MV H60 C85 U30 D60 Y3 R4 "),
              "reply \"MD MV H60 C85 U30 D60 Y3 R4 \" [0x0C] mode report: vacation, heat 60, "
              "cool 85, humidify 30 %, dehumidify 60 %, 3 days 4 hours");
    EXPECT_EQ(reply("PG D1 SP1 HT70 C78 HM35 DM55 T0600"),
              "reply \"PG D1 SP1 HT70 C78 HM35 DM55 T0600\" [0x0C] program: Monday Wake from "
              "06:00, heat 70, cool 78, humidify 35 %, dehumidify 55 %");
    EXPECT_EQ(reply("FM SC"), "reply \"FM SC\" [0x0C] format report: Celsius");
    EXPECT_EQ(reply("SERIAL SN2026"), "reply \"SERIAL SN2026\" [0x0C] serial number SN2026");
    EXPECT_EQ(reply("EXTERNAL_TEMP--4"),
              "reply \"EXTERNAL_TEMP--4\" [0x0C] external sensor -4 degrees");
    EXPECT_EQ(frame(0x0F, {5}), "set address 5 [0x0F]");
    EXPECT_EQ(frame(0x10, {}), "bus version known [0x10]");
    EXPECT_EQ(frame(0x12, {'F', 'M'}), "bus test \"FM\" [0x12]");
    EXPECT_EQ(frame(0x0D, {}), "request line voltage [0x0D]");
    EXPECT_EQ(frame(0x15, {}), "request bus status [0x15]");
    EXPECT_EQ(frame(0x0C, {'a', '"', '\r', 0x01}), "reply \"a\\\"\\r\\x01\" [0x0C]");
    EXPECT_EQ(frame(0x03, {1}), "channel (short payload) [0x03]");
    EXPECT_EQ(frame(0x7E, {0xAB}), "unknown packet AB [0x7E]");
    EXPECT_TRUE(sim::isPeriodicRequest(0x05));
    EXPECT_FALSE(sim::isPeriodicRequest(0x06));

    std::string out;
    EXPECT_TRUE(sim::unescapeText("SFLASH1\\r\\x41\\\\\\\"\\0", &out));
    EXPECT_EQ(out, std::string("SFLASH1\rA\\\"\0", 12));
    EXPECT_EQ(sim::escapeText(out), "SFLASH1\\rA\\\\\\\"\\x00");
    EXPECT_FALSE(sim::unescapeText("\\x4", &out));
    EXPECT_FALSE(sim::unescapeText("\\xZZ", &out));
    EXPECT_FALSE(sim::unescapeText("end\\", &out));

    Bytes bytes;
    EXPECT_TRUE(sim::parseHex("C0 01,02:0a ff", &bytes));
    EXPECT_EQ(bytes, (Bytes{0xC0, 0x01, 0x02, 0x0A, 0xFF}));
    EXPECT_TRUE(sim::parseHex("c00102", &bytes));
    EXPECT_EQ(bytes, (Bytes{0xC0, 0x01, 0x02}));
    EXPECT_FALSE(sim::parseHex("0x12", &bytes));

    sim::LineBuffer lines;
    std::vector<std::string> got;
    lines.add("help\r\nchan", 10, &got);
    lines.add("nel 1 1\n", 8, &got);
    EXPECT_EQ(got, (std::vector<std::string>{"help", "channel 1 1"}));
    std::string huge(sim::LineBuffer::MAX_LINE + 10, 'x');
    huge += "\nok\n";
    got.clear();
    lines.add(huge.data(), huge.size(), &got);
    EXPECT_EQ(got, (std::vector<std::string>{"ok"}));
}

} // namespace
