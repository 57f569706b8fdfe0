// The simulated coprocessor and its console: reports, the controller's
// traffic, faults, answers to the thermostat's packets, and decoding.
#include "coprocessor.h"

#include "console.h"
#include "coproc/coproc_comm.h"
#include "coproc/coproc_msg.h"
#include "decode.h"
#include "encoder.h"
#include "hvac/sensors.h"

#include "board_root.h"

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

std::string text(const Bytes &frame) {
    return std::string(frame.begin() + 2, frame.end() - 2);
}

Bytes payload(const Bytes &frame) {
    return Bytes(frame.begin() + 2, frame.end() - 2);
}

// The payload of the first frame of a type ("" when there is none).
Bytes payloadOf(const std::vector<Bytes> &frames, uint8_t type) {
    for (const Bytes &f : frames) {
        if (f[0] == type) {
            return payload(f);
        }
    }
    return {};
}

std::vector<uint8_t> types(const std::vector<Bytes> &frames) {
    std::vector<uint8_t> out;
    for (const Bytes &f : frames) {
        out.push_back(f[0]);
    }
    return out;
}

// The simulated coprocessor on one end of a socket pair, the thermostat's
// link on the other, and a console.
class CoprocessorTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Sensors_Initialize();
        int fds[2];
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, fds), 0);
        link = coprocCommAttach(fds[1], recordFrame);
        house.setIndoor(21.3);
        house.setIndoorRh(45.0);
        house.advance(0.0, 15.0);
        coproc =
            std::make_unique<sim::Coprocessor>(fds[0], house, sim::CoprocessorOptions{}, ctx.say);
        ctx.coproc = coproc.get();
    }
    void TearDown() override { coprocCommClose(link); }
    // Everything the coprocessor has sent since the last call, as frames.
    std::vector<Bytes> frames() {
        m_Frames.clear();
        coprocCommPoll(link);
        return m_Frames;
    }
    void send(uint8_t type, const Bytes &bytes) {
        coprocCommSendPacket(link, type, static_cast<uint8_t>(bytes.size()), bytes.data());
    }
    bool saidLine(const std::string &part) const {
        return std::any_of(said.begin(), said.end(),
                           [&](const std::string &l) { return l.find(part) != std::string::npos; });
    }
    sim::HouseParams params;
    sim::House house{params};
    CoprocComm *link = nullptr;
    std::unique_ptr<sim::Coprocessor> coproc;
    std::vector<std::string> said;
    bool paused = false;
    bool quit = false;
    sim::ConsoleContext ctx{nullptr,
                            &house,
                            &paused,
                            &quit,
                            [this](const std::string &l) { said.push_back(l); },
                            [this] { said.push_back("house shown"); },
                            {},
                            {}};
};

TEST_F(CoprocessorTest, ReportsCarryTheHouse) {
    coproc->poll(0);
    std::vector<Bytes> first = frames();
    EXPECT_EQ(types(first), (std::vector<uint8_t>{0x06, 0x08, 0x0E, 0x14, 0x11, 0x17}));
    for (const Bytes &f : first) {
        EXPECT_EQ(coprocCommCheckFrame(f.data(), f.size()), 0);
    }
    Bytes temp = payload(first[0]);
    auto word = [&](int i) { return static_cast<uint16_t>(temp[2 * i] << 8 | temp[2 * i + 1]); };
    EXPECT_NEAR(sim::decodeOnboard({word(0), word(1)}), 21.3, 0.05);
    EXPECT_NEAR(sim::decodeExternal({word(2), word(3)}), house.outdoor(), 0.08);
    Bytes hum = payload(first[1]);
    EXPECT_NEAR(sim::decodeHumidity(static_cast<uint16_t>(hum[0] << 8 | hum[1])), 45.0, 1.0);
    EXPECT_EQ(payload(first[2]), (Bytes{0x02, 0x58}));

    // Once a second of simulated time; the identity every 30 seconds; a
    // late pass sends one set, not the missed ones.
    const std::pair<int64_t, size_t> polls[] = {{999, 0}, {1000, 4}, {25000, 4}, {30000, 6}};
    for (const auto &[ms, count] : polls) {
        coproc->poll(ms);
        EXPECT_EQ(frames().size(), count) << ms;
    }
}

TEST_F(CoprocessorTest, ConsoleSendsTheControllersTraffic) {
    for (const char *line : {"channel 214 1", "  level 3 190  ", "command SFLASH1\\r",
                             "string \"  ABCDE \"", "packet 0x2A 01 02 0a", "# a comment", ""}) {
        EXPECT_TRUE(sim::runConsoleLine(line, ctx)) << line;
    }
    std::vector<Bytes> sent = frames();
    ASSERT_EQ(sent.size(), 5u);
    EXPECT_EQ(sent[0], (Bytes{0x01, 0x06, 214, 1, sent[0][4], sent[0][5]}));
    EXPECT_EQ(payload(sent[1]), (Bytes{3, 190}));
    // A level written is known to both sides, as one the thermostat reports.
    EXPECT_EQ(coproc->exchangedLevel(3), 190);
    EXPECT_EQ(sent[2][0], 0x0B);
    EXPECT_EQ(text(sent[2]), std::string("\x08SFLASH1\r"));
    EXPECT_EQ(text(sent[3]), "  ABCDE ");
    EXPECT_EQ(payload(sent[4]), (Bytes{1, 2, 10}));

    // Lines that are not understood send nothing and say why.
    for (const char *bad : {"channel 300 1", "channel 5", "level x 1", "command bad\\q",
                            "voltage -1", "silence forever", "set indoor hot", "frobnicate",
                            "garbage 0", "overlong 2", "raw zz", "online maybe"}) {
        said.clear();
        EXPECT_FALSE(sim::runConsoleLine(bad, ctx)) << bad;
        EXPECT_FALSE(said.empty()) << bad;
    }
    EXPECT_TRUE(frames().empty());

    // House settings, pause and quit.
    for (const char *line :
         {"set indoor 23.5", "set equipment heatpump", "pause", "house", "quit"}) {
        EXPECT_TRUE(sim::runConsoleLine(line, ctx)) << line;
    }
    EXPECT_DOUBLE_EQ(house.indoor(), 23.5);
    EXPECT_EQ(house.params().equipment, sim::Equipment::HeatPump);
    EXPECT_TRUE(paused && quit && saidLine("house shown"));
}

TEST_F(CoprocessorTest, Faults) {
    coproc->poll(0);
    frames();
    EXPECT_TRUE(sim::runConsoleLine("voltage 480", ctx));
    coproc->poll(1000);
    EXPECT_EQ(payloadOf(frames(), 0x0E), (Bytes{0x01, 0xE0}));

    // Silence: nothing at all until it is over.
    EXPECT_TRUE(sim::runConsoleLine("silence 5", ctx));
    for (int64_t t = 2000; t < 6000; t += 1000) {
        coproc->poll(t);
        EXPECT_TRUE(frames().empty()) << t;
    }
    coproc->poll(6000);
    EXPECT_EQ(frames().size(), 4u);

    // Garbage never contains END, so it cannot make frames of its own.
    EXPECT_TRUE(sim::runConsoleLine("garbage 50", ctx));
    uint8_t garbage[100];
    ASSERT_EQ(read(link->fd, garbage, sizeof(garbage)), 50);
    EXPECT_EQ(std::count(garbage, garbage + 50, 0xC0), 0);

    // A bad CRC arrives as a frame that fails its check; an over-long frame
    // is dropped by the receiver; bus status off.
    EXPECT_TRUE(sim::runConsoleLine("badcrc", ctx));
    std::vector<Bytes> bad = frames();
    ASSERT_EQ(bad.size(), 1u);
    EXPECT_EQ(coprocCommCheckFrame(bad[0].data(), bad[0].size()), -1);
    EXPECT_TRUE(sim::runConsoleLine("overlong 80", ctx));
    EXPECT_TRUE(frames().empty());
    EXPECT_TRUE(sim::runConsoleLine("overlong 68", ctx));
    EXPECT_EQ(frames().size(), 1u);
    EXPECT_TRUE(sim::runConsoleLine("online 0", ctx));
    EXPECT_TRUE(sim::runConsoleLine("levels off", ctx));
    coproc->reportNow();
    coproc->poll(6100);
    EXPECT_EQ(payloadOf(frames(), 0x14), (Bytes{0, 0, 0}));
}

// A download ordered before the run's first pass (a console line that came
// with it) waits for the thermostat from that pass on, whatever the time.
TEST_F(CoprocessorTest, ADownloadOrderedBeforeTheFirstPassWaitsFromThatPass) {
    TempBoardRoot files;
    files.write("/image.bin", std::string(300, '\x01'));
    ASSERT_TRUE(coproc->startDownload(files.file("/image.bin"), 2));
    coproc->poll(60000);
    coproc->poll(60000 + 30000);
    EXPECT_FALSE(saidLine("abandoned"));
    coproc->poll(60000 + 30001);
    EXPECT_TRUE(saidLine("abandoned: the thermostat stopped answering"));
}

TEST_F(CoprocessorTest, AnswersTheThermostat) {
    coproc->poll(0);
    frames();
    // Start-up: the bus identity comes at once.
    send(0x16, {});
    coproc->poll(10);
    EXPECT_EQ(types(frames()), (std::vector<uint8_t>{0x11, 0x17}));

    // A new bus address: address, complement, address; anything else is refused.
    for (uint8_t b : {9, 0xF6, 9, 4, 4, 4}) {
        send(0x0F, {b});
    }
    coproc->poll(20);
    std::vector<Bytes> answer = frames();
    ASSERT_EQ(answer.size(), 1u);
    EXPECT_EQ(payload(answer[0]), (Bytes{9}));
    EXPECT_EQ(coproc->options().address, 9);
    EXPECT_TRUE(saidLine("address sequence rejected"));

    // A failing bus test (the passing one and the link test are the
    // fixture's, against the application).
    EXPECT_TRUE(sim::runConsoleLine("bustest fail", ctx));
    send(0x12, {'x'});
    coproc->poll(50);
    EXPECT_EQ(text(frames()[0]), "KorabusTestFail");

    // Everything else is printed decoded; requests are only counted.
    said.clear();
    send(0x13, {214, 1});
    send(0x04, {3, 185});
    send(0x05, {});
    send(0x07, {});
    uint8_t broken[] = {0xC0, 0x03, 0x06, 0x05, 0x01, 0x00, 0x00, 0xC0};
    coprocCommSendRaw(link, sizeof(broken), broken);
    coproc->poll(70);
    EXPECT_TRUE(saidLine("tstat> bad frame (CRC): 03 06 05 01 00 00"));
    EXPECT_FALSE(saidLine("request"));
    EXPECT_EQ(coproc->takeRequestCounts(), "1/1/0/0");
    EXPECT_EQ(coproc->takeRequestCounts(), "0/0/0/0");
    EXPECT_EQ(coproc->badFrames(), 1u);
    EXPECT_EQ(coproc->exchangedLevel(3), 185);
    EXPECT_EQ(coproc->exchangedLevel(4), -1);

    // A command string waits one second from the pass that sends it for an
    // answer: a reply ends the wait; without one the console says so, after
    // the second, not before.
    struct Case {
        const char *line;
        bool answered;
        const char *said;
    };
    const Case cases[] = {
        {"command ?FILTER", true, nullptr},
        {"command FOO", false, "\"FOO\" is not one of its commands"},
        {"command FILTER abc", false, "a setting it takes is not answered"},
        {"command ?PG D9 SP1", false, "it refused the query"},
    };
    int64_t now = 1000;
    for (const Case &c : cases) {
        coproc->poll(now);
        said.clear();
        EXPECT_TRUE(sim::runConsoleLine(c.line, ctx)) << c.line;
        if (c.answered) {
            send(0x0C, {'F', 'I', 'L', 'T', 'E', 'R'});
        }
        coproc->poll(now);
        coproc->poll(now + sim::Coprocessor::ANSWER_MS - 1);
        EXPECT_FALSE(saidLine("no answer")) << c.line;
        coproc->poll(now + sim::Coprocessor::ANSWER_MS);
        EXPECT_EQ(saidLine("no answer from the thermostat"), !c.answered) << c.line;
        EXPECT_TRUE(c.said == nullptr || saidLine(c.said)) << c.line;
        now += 2 * sim::Coprocessor::ANSWER_MS;
    }
}

TEST(Decode, FramesTextsAndLines) {
    auto frame = [](uint8_t type, const std::string &p) {
        Bytes f = {type, static_cast<uint8_t>(p.size() + 4)};
        f.insert(f.end(), p.begin(), p.end());
        f.insert(f.end(), {0, 0});
        return sim::decodeFrame(f.data(), f.size());
    };
    EXPECT_EQ(frame(0x0C, "MD MV H60 C85 U30 D60 Y3 R4 "),
              "reply \"MD MV H60 C85 U30 D60 Y3 R4 \" [0x0C] mode report: vacation, heat 60, "
              "cool 85, humidify 30 %, dehumidify 60 %, 3 days 4 hours");
    EXPECT_EQ(frame(0x0C, "UPDATE S2 ROLLED-BACK v2-g1a2b"),
              "reply \"UPDATE S2 ROLLED-BACK v2-g1a2b\" [0x0C] software: version v2-g1a2b, "
              "security version 2, last update: failed its trial, back to the version before");
    EXPECT_EQ(frame(0x0C, std::string("a\"\r\x01", 4)), "reply \"a\\\"\\r\\x01\" [0x0C]");
    EXPECT_EQ(frame(0x03, "\x01"), "channel (short payload) [0x03]");
    EXPECT_EQ(frame(0x7E, "\xAB"), "unknown packet AB [0x7E]");

    std::string out;
    EXPECT_TRUE(sim::unescapeText("SFLASH1\\r\\x41\\\\\\\"\\0", &out));
    EXPECT_EQ(out, std::string("SFLASH1\rA\\\"\0", 12));
    for (const char *bad : {"\\x4", "\\xZZ", "end\\"}) {
        EXPECT_FALSE(sim::unescapeText(bad, &out)) << bad;
    }
    // Console lines: CR LF or LF ended; an overlong one is dropped.
    sim::LineBuffer lines;
    std::vector<std::string> got;
    lines.add("help\r\nchan", 10, &got);
    lines.add("nel 1 1\n", 8, &got);
    std::string huge(sim::LineBuffer::MAX_LINE + 10, 'x');
    huge += "\nok\n";
    lines.add(huge.data(), huge.size(), &got);
    EXPECT_EQ(got, (std::vector<std::string>{"help", "channel 1 1", "ok"}));
}

} // namespace
