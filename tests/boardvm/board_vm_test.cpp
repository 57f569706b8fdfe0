// The emulated board: the board image booted in qemu-system-arm on the
// board's kind of devices (scripts/board-vm), with tstat-sim attached to its
// coprocessor line, its keyboard and screen (QMP) and its I/O page. What the
// board flavour does there: its first main page against the host flavour's
// picture of the same state, a key that raises the hold until the heat
// closes, the start script after a crash and after the fourth key, saves
// and start-up write-backs that survive power cuts on real erase blocks, and
// the manufacturing test.
#include "sim_process.h"

#include "board_link.h"

#include "board_root.h"
#include "poll_until.h"
#include "run_tool.h"

#include <gtest/gtest.h>

#include <cairo.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

namespace fs = std::filesystem;

// The board's clock at power-on: the Leave period (heat 62 F) of a weekday,
// with the house at 68 F, so that nothing heats until the hold is raised.
constexpr const char *c_PowerOn = "2026-01-14T08:30:00";
constexpr const char *c_HostStart = "2026-01-14 08:30";

void pause(std::chrono::milliseconds d) {
    std::this_thread::sleep_for(d);
}

// One boot of the emulated board (run-vm.sh), stopped at its first
// instruction until the simulator attaches.
class EmulatedBoard {
  public:
    EmulatedBoard(const std::string &dir, const std::string &factory) : m_dir(dir) {
        fs::create_directories(dir);
        std::string envFile = dir + "/vm.env";
        fs::remove(envFile);
        m_pid = fork();
        if (m_pid == 0) {
            int out = open((dir + "/run-vm.out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(out, STDOUT_FILENO);
            dup2(out, STDERR_FILENO);
            setpgid(0, 0);
            execl("/bin/sh", "sh", TSTAT_SOURCE_DIR "/scripts/board-vm/run-vm.sh", "--paused",
                  "--dir", dir.c_str(), "--initrd", TSTAT_BOARD_VM_ROOTFS, "--rtc-base", c_PowerOn,
                  "--factory", factory.c_str(), static_cast<char *>(nullptr));
            _exit(127);
        }
        pollUntil([] { pause(50ms); }, [&] { return fs::exists(envFile); }, 120s);
        std::ifstream in(envFile);
        for (std::string line; std::getline(in, line);) {
            size_t eq = line.find('=');
            if (eq != std::string::npos) {
                m_env[line.substr(0, eq)] = line.substr(eq + 1);
            }
        }
    }
    ~EmulatedBoard() { stop(SIGTERM); }
    EmulatedBoard(const EmulatedBoard &) = delete;
    EmulatedBoard &operator=(const EmulatedBoard &) = delete;

    bool ready() const { return m_env.count("QMP") != 0; }
    std::string operator[](const std::string &key) const {
        auto it = m_env.find(key);
        return it == m_env.end() ? "" : it->second;
    }
    // The simulator's options that attach it to this board.
    std::vector<std::string> attachment() const {
        return {"--coproc-line", (*this)["COPROCESSOR_TTY"],
                "--qmp",         (*this)["QMP"],
                "--io-page",     (*this)["MEMORY"] + "@" + (*this)["IO_PAGE_OFFSET"]};
    }
    // Everything the board printed on its console (/dev/ttyS0).
    std::string console() const { return readFile((*this)["FIXTURE_LOG"]); }
    // The power goes: the emulator is killed at once, flash as it stands.
    void cut() {
        std::string qemu = (*this)["QEMU_PID"];
        if (!qemu.empty()) {
            kill(std::stoi(qemu), SIGKILL);
        }
        stop(SIGTERM);
    }
    // Runs a command on the board's service shell; returns what it printed.
    std::string shell(const std::string &command) const {
        int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        struct sockaddr_un addr {};
        addr.sun_family = AF_UNIX;
        std::string path = (*this)["CONSOLE"];
        snprintf(addr.sun_path, sizeof(addr.sun_path), "%s", path.c_str());
        std::string out;
        if (connect(fd, reinterpret_cast<struct sockaddr *>(&addr), sizeof(addr)) == 0) {
            std::string line = command + "; echo END-OF-COMMAND\n";
            if (write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size())) {
                // The echo of the line names the marker once; its output, twice.
                auto end = std::chrono::steady_clock::now() + 30s;
                char buf[4096];
                while (std::chrono::steady_clock::now() < end) {
                    struct timeval tv = {0, 200000};
                    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
                    ssize_t got = read(fd, buf, sizeof(buf));
                    out.append(buf, got > 0 ? static_cast<size_t>(got) : 0);
                    size_t first = out.find("END-OF-COMMAND");
                    if (first != std::string::npos &&
                        out.find("END-OF-COMMAND", first + 1) != std::string::npos) {
                        break;
                    }
                }
            }
        }
        close(fd);
        return out;
    }

  private:
    void stop(int signal) {
        if (m_pid > 0) {
            kill(-m_pid, signal);
            waitpid(m_pid, nullptr, 0);
            m_pid = -1;
        }
    }

    std::string m_dir;
    pid_t m_pid = -1;
    std::map<std::string, std::string> m_env;
};

// A PNG's pixels as RGB565, the board's own pixel format, so that the two
// ways of widening them to 8 bits a channel compare alike.
std::vector<uint16_t> pixels565(const std::string &path, int *width, int *height) {
    std::vector<uint16_t> out;
    cairo_surface_t *s = cairo_image_surface_create_from_png(path.c_str());
    if (cairo_surface_status(s) == CAIRO_STATUS_SUCCESS) {
        *width = cairo_image_surface_get_width(s);
        *height = cairo_image_surface_get_height(s);
        const unsigned char *data = cairo_image_surface_get_data(s);
        int stride = cairo_image_surface_get_stride(s);
        for (int y = 0; y < *height; y++) {
            for (int x = 0; x < *width; x++) {
                uint32_t p;
                memcpy(&p, data + y * stride + x * 4, sizeof(p));
                out.push_back(static_cast<uint16_t>(((p >> 8) & 0xF800) | ((p >> 5) & 0x07E0) |
                                                    ((p >> 3) & 0x001F)));
            }
        }
    }
    cairo_surface_destroy(s);
    return out;
}

class BoardVmTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_dir = m_root.path() + "/vm";
        ToolResult made = runTool(TSTAT_FACTORY_BINARY, {"-o", m_root.file("/factory.img")});
        ASSERT_EQ(made.status, 0) << made.err;
    }
    // Boots the board and attaches the simulator; returns once the
    // application greeted the coprocessor.
    void boot(std::unique_ptr<EmulatedBoard> *board, std::unique_ptr<SimProcess> *sim,
              std::vector<std::string> simArgs = {}) {
        *board = std::make_unique<EmulatedBoard>(m_dir, m_root.file("/factory.img"));
        ASSERT_TRUE((*board)->ready()) << readFile(m_dir + "/run-vm.out");
        std::vector<std::string> args = (*board)->attachment();
        args.insert(args.end(), {"--no-weather", "--no-status"});
        args.insert(args.end(), simArgs.begin(), simArgs.end());
        *sim = std::make_unique<SimProcess>(m_root.file("/sim-root"), "coproc", args, 1.0);
        ASSERT_TRUE((*sim)->waitReady(60s)) << (*sim)->output();
        ASSERT_NE((*sim)->waitFor("tstat> start-up", 120s), "")
            << (*sim)->output() << (*board)->console();
    }

    // The board's screen now against the host flavour's at the board's
    // clock, started at the same instant of the same state: the count of
    // differing pixels (both pictures kept in the test's temporary
    // directory when they differ).
    size_t compareWithHost(EmulatedBoard &board, SimProcess &sim, const std::string &name) {
        std::string clock = board.shell("date +%H:%M:%S");
        std::smatch time;
        if (!std::regex_search(clock, time, std::regex("\n(\\d\\d):(\\d\\d):(\\d\\d)"))) {
            ADD_FAILURE() << "no time from the board: " << clock;
            return SIZE_MAX;
        }
        int seconds =
            (std::stoi(time[1]) - 8) * 3600 + (std::stoi(time[2]) - 30) * 60 + std::stoi(time[3]);
        sim.send("screen board-" + name);
        if (sim.waitFor("/board-" + name + ".png", 20s).empty()) {
            return SIZE_MAX;
        }
        TempBoardRoot hostRoot;
        std::ofstream(hostRoot.file("/script"))
            << "+" << seconds << " screen host-" << name << "\n";
        runTool(TSTAT_SIM_BINARY,
                {"run", "--root", hostRoot.path(), "--no-http", "--no-weather", "--no-status",
                 "--start", c_HostStart, "--hours", "0.02", "--script", hostRoot.file("/script")});
        std::string boardPng = m_root.file("/sim-root/sim/board-" + name + ".png");
        std::string hostPng = hostRoot.file("/sim/host-" + name + ".png");
        int width = 0, height = 0, hostWidth = 0, hostHeight = 0;
        std::vector<uint16_t> boardPixels = pixels565(boardPng, &width, &height);
        std::vector<uint16_t> hostPixels = pixels565(hostPng, &hostWidth, &hostHeight);
        EXPECT_EQ(width, 240);
        EXPECT_EQ(height, 320);
        if (boardPixels.empty() || hostPixels.size() != boardPixels.size()) {
            return SIZE_MAX;
        }
        size_t differ = 0;
        for (size_t i = 0; i < boardPixels.size(); i++) {
            differ += boardPixels[i] != hostPixels[i] ? 1 : 0;
        }
        if (differ != 0) {
            std::string keep = ::testing::TempDir() + "board-vm-" + name;
            fs::copy_file(boardPng, keep + "-board.png", fs::copy_options::overwrite_existing);
            fs::copy_file(hostPng, keep + "-host.png", fs::copy_options::overwrite_existing);
        }
        return differ;
    }

    TempBoardRoot m_root;
    std::string m_dir;
};

TEST_F(BoardVmTest, RunsTheMainPageKeysRelaysAndTheStartScript) {
    auto powerOn = std::chrono::steady_clock::now();
    std::unique_ptr<EmulatedBoard> board;
    std::unique_ptr<SimProcess> sim;
    boot(&board, &sim);
    // The first screen with the main page drawn (the simulator dumps the
    // screen once a second).
    std::string screen = m_root.file("/sim-root/sim/screen.png");
    int width = 0;
    int height = 0;
    ASSERT_TRUE(pollUntil([] { pause(100ms); },
                          [&] {
                              std::vector<uint16_t> p = pixels565(screen, &width, &height);
                              return std::count(p.begin(), p.end(), 0xFFFF) > 2000;
                          },
                          60s));
    double firstScreen =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - powerOn).count();
    printf("power-on to the first main page: %.1f s\n", firstScreen);

    // (1) The main page, against the host flavour's at the same instant of
    // the same state: once the board's page shows the room and the bus link,
    // which the host's shows from its first seconds, the two agree to the
    // pixel. A minute's turn between reading the clock and taking the screen
    // makes an attempt differ; the next one agrees.
    size_t differ = SIZE_MAX;
    for (int attempt = 0; attempt < 6 && differ != 0; attempt++) {
        differ = compareWithHost(*board, *sim, "main-" + std::to_string(attempt));
        if (differ != 0) {
            pause(5s);
        }
    }
    EXPECT_EQ(differ, 0u) << "pixels differ from the host flavour's picture (both kept in "
                          << ::testing::TempDir() << ")";

    // (2) Up ten times: the first opens the hold page, the others raise the
    // hold from 62 F to 71 F, well above the room; when the hold page has
    // stored it, the control closes the heat.
    for (int i = 0; i < 10; i++) {
        sim->send("key up");
        pause(400ms);
    }
    std::string relayLog;
    EXPECT_TRUE(pollUntil([] { pause(200ms); },
                          [&] {
                              relayLog = readFile(m_root.file("/sim-root/sim/relay-log"));
                              return relayLog.find(" 3 1\n") != std::string::npos;
                          },
                          60s))
        << relayLog << sim->output();

    // Memory and processor of the running thermostat.
    std::string qemu = readFile("/proc/" + (*board)["QEMU_PID"] + "/status");
    size_t rss = qemu.find("VmRSS:");
    printf("emulator: %s\n",
           rss == std::string::npos ? "?" : qemu.substr(rss, qemu.find('\n', rss) - rss).c_str());
    printf("%s\n", board
                       ->shell("grep -E 'VmRSS|VmSize' /proc/$(pidof tstat)/status; free; "
                               "top -b -n 2 -d 5 | grep -E '^CPU|tstat /dev' | tail -2")
                       .c_str());

    // (3) A crash: the start script starts the application again. The
    // fourth key's status 0: it stays ended.
    board->shell("kill -SEGV $(pidof tstat)");
    EXPECT_NE(sim->waitFor("tstat> start-up", 60s), "") << board->console();
    EXPECT_TRUE(pollUntil(
        [] { pause(200ms); },
        [&] { return board->console().find("starting it again") != std::string::npos; }, 30s))
        << board->console();
    pause(5s);
    sim->send("key exit");
    EXPECT_TRUE(pollUntil([] { pause(200ms); },
                          [&] {
                              return board->console().find("tstat-start: tstat ended (status 0)") !=
                                     std::string::npos;
                          },
                          30s))
        << board->console();
    pause(5s);
    EXPECT_NE(board->shell("pidof tstat || echo no-tstat").find("\nno-tstat"), std::string::npos);
    sim->send("quit");
    EXPECT_EQ(sim->wait(30s), 0);
    // Every coil pulse the board made, as the relay checker sees them.
    ToolResult check = runTool(TSTAT_RELAYCHECK_BINARY,
                               {"--sampled", std::to_string(sim::IoPageMirror::SAMPLING_MS),
                                m_root.file("/sim-root/sim/relay-log")});
    EXPECT_EQ(check.status, 0) << check.out << check.err;
    EXPECT_NE(check.out.find(" 0 violations"), std::string::npos) << check.out;
}

TEST_F(BoardVmTest, PowerCutsDuringSavesKeepTheOldOrTheNewSettings) {
    // Settings saved over the bus, the power cut at spread instants of the
    // saves that follow; every boot finds the settings of one save whole.
    const char *settings[] = {"MD MPH H68 C76", "MD MPH H70 C78"};
    std::unique_ptr<EmulatedBoard> board;
    std::unique_ptr<SimProcess> sim;
    boot(&board, &sim);
    sim->send(std::string("command ") + settings[0]);
    ASSERT_NE(sim->waitFor("reply \"MD MPH H68 C76 \"", 60s), "") << sim->output();
    pause(3s);
    int keptNew = 0;
    int keptOld = 0;
    std::string current = settings[0];
    for (int cut = 0; cut < 6; cut++) {
        std::string before = settings[cut % 2];
        std::string after = settings[(cut + 1) % 2];
        sim->send("command " + after);
        pause(std::chrono::milliseconds(cut * 15));
        board->cut();
        sim.reset();
        board.reset();
        boot(&board, &sim);
        sim->send("command ST");
        std::string report = sim->waitFor("reply \"MD ", 60s);
        bool isNew = report.find(after + " ") != std::string::npos;
        bool isOld = report.find(before + " ") != std::string::npos;
        EXPECT_TRUE(isNew || isOld) << "cut " << cut << ": " << report << "\n" << board->console();
        keptNew += isNew ? 1 : 0;
        keptOld += isOld ? 1 : 0;
        current = isNew ? after : before;
        if (isOld) {
            // The next cut's "before" is what this boot found.
            std::swap(settings[0], settings[1]);
        }
    }
    printf("power cuts: %d kept the new settings, %d the old\n", keptNew, keptOld);

    // The record torn as a cut in its write leaves it, and the application
    // crashed (killed by SIGSEGV, which SDL survives to give the console
    // back): the start-up after loads the copy and writes the record back,
    // and the power is cut 0 to 30 ms after it says so, about as long as
    // the write takes. Every boot finds the settings; at last the copy is
    // damaged too, and the record written back by the last boot holds them.
    const char *loadsCopy = "loading its copy";
    auto settingsFound = [&] {
        sim->send("command ST");
        return sim->waitFor("reply \"MD ", 60s).find(current + " ") != std::string::npos;
    };
    int cutBefore = 0;
    for (int cut = 0; cut < 3; cut++) {
        size_t seen = board->console().rfind(loadsCopy);
        board->shell("head -c 974 /dev/zero | tr '\\000' '\\377' | "
                     "dd of=/dev/mtdblock5 conv=notrunc 2>/dev/null; kill -SEGV $(pidof tstat)");
        ASSERT_TRUE(pollUntil([] { pause(5ms); },
                              [&] { return board->console().rfind(loadsCopy) != seen; }, 30s))
            << board->console();
        pause(std::chrono::milliseconds(cut * 15));
        board->cut();
        sim.reset();
        board.reset();
        boot(&board, &sim);
        cutBefore += board->console().find(loadsCopy) != std::string::npos ? 1 : 0;
        EXPECT_TRUE(settingsFound()) << "cut " << cut << ": " << board->console();
    }
    printf("cuts in the write-back: %d before it was done, %d after\n", cutBefore, 3 - cutBefore);
    board->shell("head -c 1024 /dev/zero | dd of=/dev/mtdblock5 bs=1024 seek=256 conv=notrunc "
                 "2>/dev/null; kill -SEGV $(pidof tstat)");
    ASSERT_NE(sim->waitFor("tstat> start-up", 60s), "") << board->console();
    EXPECT_TRUE(settingsFound()) << board->console();
}

TEST_F(BoardVmTest, TheFixtureRunsTheManufacturingTestOnTheConsolePort) {
    auto board = std::make_unique<EmulatedBoard>(m_dir, m_root.file("/factory.img"));
    ASSERT_TRUE(board->ready()) << readFile(m_dir + "/run-vm.out");
    std::vector<std::string> args = {"fixture", "--root", m_root.file("/fixture-root"),
                                     "--console-line", (*board)["FIXTURE_TTY"]};
    std::vector<std::string> attach = board->attachment();
    args.insert(args.end(), attach.begin(), attach.end());
    ToolResult fixture = runTool(TSTAT_SIM_BINARY, args);
    EXPECT_EQ(fixture.status, 0) << fixture.out << fixture.err << board->console();
    EXPECT_NE(fixture.out.find("UNIT PASSED"), std::string::npos) << fixture.out;
}

} // namespace
