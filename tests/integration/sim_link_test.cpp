// tstat-sim as the thermostat's peer: a driver plays the thermostat's side
// of the link with the application's own link layer, messages and sensor
// conversions, and checks what it reads against the simulated house.
#include "sim_process.h"

#include "board_root.h"
#include "config/data_dict.h"
#include "config/persist.h"
#include "coproc/coproc_comm.h"
#include "coproc/coproc_msg.h"
#include "hvac/sensors.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <vector>

namespace {

using namespace std::chrono_literals;

double celsius(fpr_t value) {
    return static_cast<double>(value) / FPR_ONE;
}

// Frames the driver received, checked or not, next to normal dispatch.
std::vector<std::vector<uint8_t>> m_Frames;

int recordAndDispatch(const uint8_t *frame, uint16_t length) {
    m_Frames.emplace_back(frame, frame + length);
    return coprocMsgProcess(frame, length);
}

size_t countFrames(uint8_t type) {
    size_t n = 0;
    for (const auto &f : m_Frames) {
        if (!f.empty() && f[0] == type && coprocCommCheckFrame(f.data(), f.size()) == 0) {
            n++;
        }
    }
    return n;
}

class SimLinkTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Sensors_Initialize();
        Sensors_Reset();
        coprocMsgReset();
        PersistUtil_Reset();
        dataDictReset();
        m_Frames.clear();
    }
    void TearDown() override {
        coprocMsgReset();
        PersistUtil_Reset();
        dataDictReset();
    }

    // Starts the simulator and opens the link the way the thermostat does.
    void start(const std::vector<std::string> &args, double scale) {
        sim = std::make_unique<SimProcess>(root.path(), "coproc", args, scale);
        ASSERT_TRUE(sim->waitReady()) << sim->output();
        ASSERT_EQ(coprocessorInit("/dev/ttyCOPROC"), 0);
        g_coprocHdl->frameHandler = recordAndDispatch;
    }
    // Sends a console line and waits until the simulator has acted on it.
    void console(const std::string &line, const std::string &answer) {
        sim->send(line);
        ASSERT_NE(sim->waitFor(answer), "") << line << "\n" << sim->output();
    }
    // Polls the link until the readings match or the time is up.
    bool readUntil(const std::function<bool()> &done) {
        return pollUntil([] { coprocessorPoll(); }, done, 10s);
    }

    TempBoardRoot root;
    std::unique_ptr<SimProcess> sim;
};

TEST_F(SimLinkTest, ThermostatReadsTheHousesTemperaturesAndHumidity) {
    start({"--no-status"}, 10.0);
    // The simulator made the factory image; the thermostat's configuration
    // loads from it (the user region is blank).
    EXPECT_EQ(std::filesystem::file_size(root.file("/dev/mtdblock4")), 974u);
    EXPECT_NE(sim->output().find("wrote the factory image"), std::string::npos);
    ASSERT_EQ(PersistUtil_Init(), 0);
    ASSERT_EQ(initThermostatSysCfg(), 0);
    console("pause", "house: paused");
    console("set swing 0", "house: swing 0");
    struct Case {
        double indoor;
        double outdoor;
    };
    for (Case c : {Case{21.7, -7.3}, Case{18.25, 31.6}, Case{26.9, -24.15}, Case{5.5, 12.0}}) {
        console("set indoor " + std::to_string(c.indoor), "house: indoor");
        console("set outdoor " + std::to_string(c.outdoor), "house: outdoor");
        console("report", "sim> reports");
        bool matched = readUntil([&] {
            return std::fabs(celsius(Sensors_GetOnboardTemp()) - c.indoor) < 0.1 &&
                   std::fabs(celsius(Sensors_GetExternalTemp(0)) - c.outdoor) < 0.1;
        });
        EXPECT_TRUE(matched) << "house " << c.indoor << " / " << c.outdoor << ", thermostat reads "
                             << celsius(Sensors_GetOnboardTemp()) << " / "
                             << celsius(Sensors_GetExternalTemp(0));
    }
    // Humidity through the sensor's table and the correction line.
    for (double rh : {47.0, 30.5, 62.2, 85.0, 12.0}) {
        console("set rh " + std::to_string(rh), "house: rh");
        console("report", "sim> reports");
        bool matched = readUntil(
            [&] { return std::fabs(celsius(Sensors_GetOnboardRelHumidity()) - rh) <= 1.0; });
        EXPECT_TRUE(matched) << "house " << rh << " %, thermostat reads "
                             << celsius(Sensors_GetOnboardRelHumidity());
    }
    // The smoothed values the control and the screens use follow.
    fpr_t average = 0;
    EXPECT_EQ(getMovAvgIndTemp(&average), 1);
    EXPECT_EQ(getMovAvgHum(&average), 1);
    // The second thermistor can sit indoors instead.
    console("set external indoor", "house: external indoor");
    console("report", "sim> reports");
    EXPECT_TRUE(
        readUntil([] { return std::fabs(celsius(Sensors_GetExternalTemp(0)) - 5.5) < 0.1; }));
    uint16_t volts = 0;
    EXPECT_EQ(coprocMsgGetLineVoltage(&volts), 1);
    EXPECT_EQ(volts, 600);
}

TEST_F(SimLinkTest, RunningHouseFollowsTheRelays) {
    start(
        {"--no-status", "--indoor", "19", "--outdoor", "0", "--swing", "0", "--furnace-w", "18000"},
        60.0);
    ASSERT_TRUE(
        readUntil([] { return std::fabs(celsius(Sensors_GetOnboardTemp()) - 19.0) < 0.3; }));
    double before = celsius(Sensors_GetOnboardTemp());
    // The application latches W1 and W2 closed: the furnace heats.
    root.write("/sim/relays.tmp", "0001100000\n");
    std::filesystem::rename(root.file("/sim/relays.tmp"), root.file("/sim/relays"));
    ASSERT_NE(sim->waitFor("relays 0001100000 (W1 W2)"), "") << sim->output();
    EXPECT_TRUE(readUntil([&] { return celsius(Sensors_GetOnboardTemp()) > before + 0.5; }))
        << "still " << celsius(Sensors_GetOnboardTemp());
    // Frozen, the house and the thermostat agree within 0.1 degree.
    console("pause", "house: paused");
    console("report", "sim> reports");
    coprocessorPoll();
    sim->send("house");
    std::string line = sim->waitFor("house: indoor ");
    double indoor = 0;
    ASSERT_EQ(sscanf(line.c_str() + line.find("house: indoor ") + 14, "%lf", &indoor), 1) << line;
    EXPECT_TRUE(readUntil([&] {
        return std::fabs(celsius(Sensors_GetOnboardTemp()) - indoor) < 0.1;
    })) << line
        << " read " << celsius(Sensors_GetOnboardTemp());
    EXPECT_NE(line.find("heat 18.0 kW"), std::string::npos) << line;
}

TEST_F(SimLinkTest, ConsoleTrafficFaultsAndTheThermostatsPackets) {
    start({"--no-status"}, 10.0);
    // The controller's traffic arrives as valid frames.
    console("channel 214 1", "sim> channel 214 1");
    console("level 3 190", "sim> level 3 190");
    console("command MD MPH H68 C76", "sim> command");
    console("string ABCDE", "sim> string");
    ASSERT_TRUE(readUntil([] { return countFrames(0x09) == 1; }));
    EXPECT_EQ(countFrames(0x01), 1u);
    EXPECT_EQ(countFrames(0x02), 1u);
    EXPECT_EQ(countFrames(0x0B), 1u);
    EXPECT_STREQ(g_stringBuf, "ABCDE");

    // Low line voltage, then noise, a bad CRC and an over-long frame; the
    // link keeps going and takes the next reports.
    console("voltage 480", "coproc: line voltage reading 480 (under-voltage)");
    uint16_t volts = 0;
    EXPECT_TRUE(readUntil([&] { return coprocMsgGetLineVoltage(&volts) == 1 && volts == 480; }));
    console("garbage 50", "sim> 50 garbage bytes");
    console("badcrc", "sim> temperature report with a bad CRC");
    console("overlong 90", "sim> frame of 90 bytes");
    console("voltage 600", "coproc: line voltage reading 600");
    EXPECT_TRUE(readUntil([&] { return coprocMsgGetLineVoltage(&volts) == 1 && volts == 600; }));
    size_t rejected = 0;
    for (const auto &f : m_Frames) {
        rejected += coprocCommCheckFrame(f.data(), f.size()) != 0 ? 1 : 0;
    }
    EXPECT_GE(rejected, 1u);

    // Silence: no reports at all until it ends.
    console("silence 60", "coproc: silent for 60 s");
    // Drain what was already on its way.
    pollUntil([] { coprocessorPoll(); }, [] { return false; }, 300ms);
    m_Frames.clear();
    pollUntil([] { coprocessorPoll(); }, [] { return false; }, 800ms);
    EXPECT_EQ(countFrames(0x06), 0u);
    console("silence 0", "coproc: silence over");
    EXPECT_TRUE(readUntil([] { return countFrames(0x06) > 0; }));

    // The thermostat's packets are printed decoded on the console.
    coprocMsgSendStartup();
    EXPECT_NE(sim->waitFor("tstat> start-up [0x16]"), "");
    coprocMsgSendReply("MD MPH H68 C76 ");
    EXPECT_NE(sim->waitFor("tstat> reply \"MD MPH H68 C76 \" [0x0C]"), "");
    coprocMsgSendChannel(COPROC_PKT_SEND_CHANNEL_ALT, 214, 1);
    EXPECT_NE(sim->waitFor("tstat> channel 214 1 (fan on) [0x13]"), "");
    coprocMsgSendLevel(1, 190);
    EXPECT_NE(sim->waitFor("tstat> level 1 190 = 70 display degrees"), "");
    coprocMsgSendVersion("2.10");
    EXPECT_NE(sim->waitFor("tstat> version \"2.10/3.04\" [0x18]"), "");
    coprocMsgSendVersionKnown();
    EXPECT_NE(sim->waitFor("tstat> bus version known [0x10]"), "");
    coprocMsgSendAddress(7);
    EXPECT_NE(sim->waitFor("coproc: bus address is now 7"), "");
    coprocMsgSendBusTest("FM SF DD T1");
    EXPECT_TRUE(readUntil([] { return std::string(g_stringBuf) == "KorabusTestPass"; }));

    // The thermostat closes and reopens its side: the link goes on.
    coprocMsgReset();
    m_Frames.clear();
    ASSERT_EQ(coprocessorInit("/dev/ttyCOPROC"), 0);
    g_coprocHdl->frameHandler = recordAndDispatch;
    EXPECT_TRUE(readUntil([] { return countFrames(0x06) > 0; }));
}

// The receiving end of a download on the thermostat's side: NAK to start,
// then ACK for every good block, ACK and 0x16 after EOT.
struct DownloadReceiver {
    std::vector<uint8_t> block;
    std::vector<uint8_t> file;
    uint8_t expected = 1;
    bool done = false;
};
DownloadReceiver m_Rx;

void sendByte(uint8_t byte) {
    coprocCommSendRaw(g_coprocHdl, 1, &byte);
}

void receiveByte(uint8_t byte) {
    if (m_Rx.block.empty() && byte == 0x04) {
        sendByte(0x06);
        sendByte(0x16);
        m_Rx.done = true;
        coprocCommExitPassthrough(g_coprocHdl);
        return;
    }
    m_Rx.block.push_back(byte);
    if (m_Rx.block.size() < 133) {
        return;
    }
    const std::vector<uint8_t> &b = m_Rx.block;
    uint16_t crc = coprocCommCrc(0, b.data() + 3, 128);
    bool good = b[0] == 0x01 && b[1] == static_cast<uint8_t>(~b[2]) && b[1] == m_Rx.expected &&
                b[131] == (crc >> 8) && b[132] == (crc & 0xFF);
    if (good) {
        m_Rx.file.insert(m_Rx.file.end(), b.begin() + 3 + (m_Rx.expected == 1 ? 2 : 0), b.begin() + 131);
        m_Rx.expected++;
    }
    m_Rx.block.clear();
    sendByte(good ? 0x06 : 0x15);
}

TEST_F(SimLinkTest, FirmwareDownloadThroughPassthrough) {
    start({"--no-status"}, 10.0);
    std::string image(1000, '\0');
    for (size_t i = 0; i < image.size(); i++) {
        image[i] = static_cast<char>(i * 13 + 1);
    }
    root.write("/image.bin", image);
    m_Rx = DownloadReceiver();
    sim->send("download " + root.file("/image.bin") + " 2");
    // The controller's command arrives, then the thermostat switches to
    // passthrough and asks for the first block.
    ASSERT_TRUE(readUntil([] { return std::string(g_stringBuf) == "SFLASH2\r"; }));
    coprocCommEnterPassthrough(g_coprocHdl, receiveByte);
    sendByte(0x15);
    ASSERT_TRUE(readUntil([] { return m_Rx.done; }));
    ASSERT_NE(sim->waitFor("coproc: download complete (8 of 8 blocks acknowledged, 0 NAK)"), "")
        << sim->output();
    ASSERT_EQ(m_Rx.file.size(), 126u + 7 * 128u);
    EXPECT_EQ(std::string(m_Rx.file.begin(), m_Rx.file.begin() + 1000), image);
    // Reports flow again after the transfer.
    m_Frames.clear();
    EXPECT_TRUE(readUntil([] { return countFrames(0x06) > 0; }));
}

TEST_F(SimLinkTest, StaleReportsAreDroppedUntilTheLinkIsRead) {
    // Fast time fills the unread link quickly; it is flushed, and the first
    // reports the thermostat reads are fresh.
    sim = std::make_unique<SimProcess>(root.path(), "coproc", std::vector<std::string>{"--no-status"},
                                       300.0);
    ASSERT_TRUE(sim->waitReady());
    EXPECT_NE(sim->waitFor("nobody is reading the link", 20s), "") << sim->output();
    ASSERT_EQ(coprocessorInit("/dev/ttyCOPROC"), 0);
    EXPECT_TRUE(readUntil([] {
        uint16_t v;
        return coprocMsgGetLineVoltage(&v) == 1;
    }));
}

TEST_F(SimLinkTest, RunStartsTheApplicationOrStaysUpWithoutIt) {
    // Without the application the simulator says so and serves the link.
    {
        SimProcess missing(root.path(), "run", {"--tstat", root.file("/no-such-tstat")}, 10.0);
        ASSERT_TRUE(missing.waitReady()) << missing.output();
        EXPECT_NE(missing.output().find("is not built yet"), std::string::npos);
        ASSERT_EQ(coprocessorInit("/dev/ttyCOPROC"), 0);
        EXPECT_TRUE(readUntil([] {
            uint16_t v;
            return coprocMsgGetLineVoltage(&v) == 1;
        }));
        coprocMsgReset();
        missing.stop();
        EXPECT_FALSE(std::filesystem::exists(root.file("/sim/console.port")));
    }
    // With it: started on the link, in its data directory, sharing the time
    // anchor; the simulator ends with it and passes its status on.
    std::string script = root.file("/fake-tstat");
    root.write("/fake-tstat", "#!/bin/sh\n"
                              "echo \"$@\" > \"$TSTAT_ROOT/fake-args\"\n"
                              "pwd > \"$TSTAT_ROOT/fake-cwd\"\n"
                              "echo \"$TSTAT_TIME_ANCHOR\" > \"$TSTAT_ROOT/fake-anchor\"\n"
                              "exit 3\n");
    chmod(script.c_str(), 0755);
    std::filesystem::create_directories(root.file("/data"));
    SimProcess run(root.path(), "run", {"--tstat", script, "--data", root.file("/data")}, 10.0);
    EXPECT_EQ(run.wait(15s), 3) << run.output();
    EXPECT_EQ(root.read("/fake-args"), "/dev/ttyCOPROC\n");
    EXPECT_EQ(
        std::filesystem::path(root.read("/fake-cwd").substr(0, root.read("/fake-cwd").size() - 1)),
        std::filesystem::canonical(root.file("/data")));
    EXPECT_GT(std::atoll(root.read("/fake-anchor").c_str()), 0);
    EXPECT_NE(run.output().find("the application ended with status 3"), std::string::npos);
    // The board was prepared.
    struct stat st;
    ASSERT_EQ(stat(root.file("/dev/input/event0").c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    EXPECT_TRUE(std::filesystem::exists(root.file("/sys/class/backlight/backlight/brightness")));
    EXPECT_TRUE(std::filesystem::exists(root.file("/dev/mtdblock5")));
    EXPECT_TRUE(std::filesystem::exists(root.file("/tmp")));
}

} // namespace
