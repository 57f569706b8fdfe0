// tstat-sim as the thermostat's peer: a driver plays the thermostat's side
// of the link with the application's own link layer and messages.
#include "sim_process.h"

#include "board_root.h"
#include "config/data_dict.h"
#include "config/persist.h"
#include "coproc/coproc_comm.h"
#include "coproc/coproc_msg.h"
#include "coproc/download.h"
#include "hvac/sensors.h"
#include "korabus/korabus_data.h"
#include "modules.h"
#include "run_tool.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <csignal>
#include <filesystem>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::chrono_literals;

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
        resetModules();
        korabusInit();
        m_Frames.clear();
    }
    void TearDown() override { resetModules(); }

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

TEST_F(SimLinkTest, TheLinkOutlivesFaultsAndAReopening) {
    start({"--no-status"}, 10.0);
    // The controller's traffic arrives as valid frames.
    console("string ABCDE", "sim> string");
    ASSERT_TRUE(readUntil([] { return countFrames(0x09) == 1; }));
    EXPECT_STREQ(g_stringBuf, "ABCDE");
    // Noise, a bad CRC and an over-long frame: the link takes the next reports.
    console("garbage 50", "sim> 50 garbage bytes");
    console("badcrc", "sim> temperature report with a bad CRC");
    console("overlong 90", "sim> frame of 90 bytes");
    console("voltage 480", "coproc: line voltage reading 480 (under-voltage)");
    uint16_t volts = 0;
    EXPECT_TRUE(readUntil([&] { return coprocMsgGetLineVoltage(&volts) == 1 && volts == 480; }));
    // The thermostat's packets are printed decoded on the console.
    coprocMsgSendReply("MD MPH H68 C76 ");
    EXPECT_NE(sim->waitFor("tstat> reply \"MD MPH H68 C76 \" [0x0C]"), "");
    coprocMsgSendBusTest("FM SF DD T1");
    EXPECT_TRUE(readUntil([] { return std::string(g_stringBuf) == "KorabusTestPass"; }));

    // The thermostat closes and reopens its side: the link goes on.
    coprocMsgReset();
    m_Frames.clear();
    ASSERT_EQ(coprocessorInit("/dev/ttyCOPROC"), 0);
    g_coprocHdl->frameHandler = recordAndDispatch;
    EXPECT_TRUE(readUntil([] { return countFrames(0x06) > 0; }));
}

TEST_F(SimLinkTest, FirmwareDownloadThroughPassthrough) {
    start({"--no-status"}, 10.0);
    root.write("/tmp/.keep", "");
    std::string image(1000, '\0');
    for (size_t i = 0; i < image.size(); i++) {
        image[i] = static_cast<char>(i * 13 + 1);
    }
    root.write("/image.bin", image);
    // The controller's command reaches the thermostat's own receiver, which
    // takes the link for the transfer and gives it back.
    sim->send("download " + root.file("/image.bin") + " 2");
    ASSERT_TRUE(pollUntil([] { coprocessorPoll(), downloadPoll(); },
                          [] { return downloadGetState() == DOWNLOAD_ENDED; }, 20s))
        << sim->output();
    ASSERT_NE(sim->waitFor("coproc: download complete (8 of 8 blocks acknowledged, 0 NAK)"), "")
        << sim->output();
    std::string file = root.read(DOWNLOAD_GFX_ARCHIVE);
    ASSERT_EQ(file.size(), 126u + 7 * 128u);
    EXPECT_EQ(file.substr(0, 1000), image);
    // Reports flow again after the transfer.
    m_Frames.clear();
    EXPECT_TRUE(readUntil([] { return countFrames(0x06) > 0; }));
}

TEST_F(SimLinkTest, TheConsoleTakesOnlyItsOwnClientsAndRegularFiles) {
    start({"--no-status"}, 10.0);
    auto connectConsole = [this] {
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        struct sockaddr_in addr {};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(static_cast<uint16_t>(std::stoi(root.read("/sim/console.port"))));
        EXPECT_EQ(connect(fd, reinterpret_cast<struct sockaddr *>(&addr), sizeof(addr)), 0);
        return fd;
    };
    // A web page's cross-site POST (text/plain needs no pre-flight): closed
    // at its request line, and nothing in its body is carried out.
    int page = connectConsole();
    const std::string post = "POST / HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: text/plain\r\n"
                             "Content-Length: 27\r\n\r\nvoltage 480\ncommand ZAP!\n";
    ASSERT_EQ(write(page, post.data(), post.size()), static_cast<ssize_t>(post.size()));
    EXPECT_NE(sim->waitFor("sent an HTTP request"), "") << sim->output();
    char byte;
    EXPECT_EQ(read(page, &byte, 1), 0);
    close(page);
    // Neither a device nor a FIFO is read.
    root.write("/tmp/.keep", "");
    ASSERT_EQ(mkfifo(root.file("/tmp/fifo").c_str(), 0600), 0);
    console("download /dev/zero", "is not a regular file");
    console("download " + root.file("/tmp/fifo"), "is not a regular file");
    // A NUL does not cut a line short: the line is refused whole.
    console(std::string("voltage 480\0 and more", 20), "a NUL byte in the line");
    console("report", "sim> reports");
    EXPECT_EQ(sim->output().find("line voltage reading 480"), std::string::npos);
    EXPECT_EQ(sim->output().find("SFLASH"), std::string::npos);

    // Clients that hold every place without a word (blank lines are none)
    // make room for a new one.
    std::vector<int> idle;
    for (int i = 1; i < 8; i++) {
        idle.push_back(connectConsole());
    }
    for (int i = 0; i < 5; i++) {
        std::this_thread::sleep_for(500ms);
        for (int fd : idle) {
            ASSERT_EQ(write(fd, "\n", 1), 1);
        }
    }
    console("report", "sim> reports");
    int late = connectConsole();
    const std::string help = "help\n";
    ASSERT_EQ(write(late, help.data(), help.size()), static_cast<ssize_t>(help.size()));
    std::string answer;
    char buf[4096];
    for (ssize_t n; answer.find("quit") == std::string::npos && (n = read(late, buf, 4096)) > 0;) {
        answer.append(buf, static_cast<size_t>(n));
    }
    EXPECT_NE(answer.find("help                        this list"), std::string::npos) << answer;
    close(late);
    for (int fd : idle) {
        close(fd);
    }
}

TEST_F(SimLinkTest, StaleReportsAreDroppedUntilTheLinkIsRead) {
    // Fast time fills the unread link quickly; it is flushed, and the first
    // reports the thermostat reads are fresh.
    sim = std::make_unique<SimProcess>(root.path(), "coproc",
                                       std::vector<std::string>{"--no-status"}, 300.0);
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
        // Said once the link is up, which may come after the port file.
        EXPECT_TRUE(pollUntil([] {},
                              [&] {
                                  return missing.output().find("is missing or not executable") !=
                                         std::string::npos;
                              }))
            << missing.output();
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
}

TEST_F(SimLinkTest, ALockStepRunEndsWhenItsApplicationNeverAnswers) {
    // An application that never answers its clock (as a stopped one): an
    // end signal ends the run at once (failing, as a signal does), and
    // without one the run gives it up after the answer limit, saying so.
    std::string silent = root.file("/silent-tstat");
    root.write("/silent-tstat", "#!/bin/sh\nexec sleep 600\n");
    chmod(silent.c_str(), 0755);
    struct Case {
        const char *limit;
        bool signalled;
        int status;
        const char *said;
    };
    const Case cases[] = {
        {"600", true, 128 + SIGTERM, "interrupted"},
        {"0.5", false, 1, "did not answer its clock within 0.5 host seconds"},
    };
    for (const Case &c : cases) {
        SimProcess run(root.path(), "run",
                       {"--tstat", silent, "--hours", "1", "--no-http", "--no-report",
                        "--answer-limit", c.limit},
                       1.0);
        ASSERT_TRUE(pollUntil(
            [] {}, [&] { return run.output().find("lock-step time from") != std::string::npos; }))
            << run.output();
        if (c.signalled) {
            std::this_thread::sleep_for(200ms);
            run.signal(SIGTERM);
        }
        EXPECT_EQ(run.wait(5s), c.status) << run.output();
        EXPECT_NE(run.output().find(c.said), std::string::npos) << run.output();
    }
}

TEST_F(SimLinkTest, TheConsoleOfAScaledRunPressesKeysAndKeepsScreens) {
    SimProcess run(root.path(), "run", {"--no-http", "--no-report"}, 1.0);
    ASSERT_TRUE(run.waitReady()) << run.output();
    ASSERT_TRUE(pollUntil(
        [] {}, [&] { return run.output().find("tstat-sim: started ") != std::string::npos; }))
        << run.output();
    run.send("key up");
    EXPECT_NE(run.waitFor("sim> key up held 0.1 s"), "") << run.output();
    // tstat-sim key presses through the console of the simulator on its root.
    ToolResult pressed =
        runTool(TSTAT_SIM_BINARY, {"key", "down", "--hold", "0.3", "--root", root.path()});
    EXPECT_EQ(pressed.status, 0) << pressed.out << pressed.err;
    EXPECT_NE(pressed.out.find("sim> key down held 0.3 s"), std::string::npos) << pressed.out;
    EXPECT_NE(run.waitFor("sim> key down held 0.3 s"), "") << run.output();
    ASSERT_TRUE(
        pollUntil([] {}, [&] { return std::filesystem::exists(root.file("/sim/screen.png")); }));
    run.send("screen shot");
    EXPECT_NE(run.waitFor("tstat-sim: screen "), "") << run.output();
    EXPECT_GT(root.read("/sim/shot.png").size(), 1000u);
}

} // namespace
