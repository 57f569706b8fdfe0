// The emulated board: the board image booted in qemu-system-arm on the
// board's kind of devices (scripts/board-vm), with tstat-sim attached to its
// coprocessor line, its keyboard and screen (QMP) and its I/O page. What the
// board flavour does there: its first main page against the host flavour's
// picture of the same state, a key that raises the hold until the heat
// closes, the start script after a crash and after the fourth key, saves
// and start-up write-backs that survive power cuts on real erase blocks, the
// manufacturing test, and field updates: signed bundles over the bus,
// installed beside the running version, refused, rolled back, and cut off
// at every stage.
#include "sim_process.h"

#include "board/board_link.h"
#include "bundle.h"

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
#include <functional>
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
            // The echo of the line (wrapped where the terminal wraps it) never
            // names the marker whole; its output does.
            std::string line = command + "; echo END-OF-\"\"COMMAND\n";
            if (write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size())) {
                auto end = std::chrono::steady_clock::now() + 30s;
                char buf[4096];
                while (std::chrono::steady_clock::now() < end &&
                       out.find("END-OF-COMMAND") == std::string::npos) {
                    struct timeval tv = {0, 200000};
                    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
                    ssize_t got = read(fd, buf, sizeof(buf));
                    out.append(buf, got > 0 ? static_cast<size_t>(got) : 0);
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
    // The board flavour says the page it shows on its console.
    EXPECT_NE(board->console().find("page shown: "), std::string::npos) << board->console();

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
        pause(std::chrono::milliseconds(cut * 150));
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

// Update bundles of the board image the emulated board's root file system
// carries, signed with the key its image trusts (scripts/signing-key.sh).
class Bundles {
  public:
    explicit Bundles(const std::string &dir) : m_dir(dir) {
        ToolResult key =
            runTool("/bin/sh", {TSTAT_SOURCE_DIR "/scripts/signing-key.sh", TSTAT_UPDATE_BINARY});
        EXPECT_TRUE(
            fromHex(readFile(key.out.substr(0, key.out.find('\n'))), m_key.data(), m_key.size()))
            << key.err;
        std::string manifest = readFile(stage("image") + "/opt/tstat/MANIFEST");
        m_imageVersion = manifestVersion(manifest);
        m_target = manifestField(manifest, "target");
    }
    const std::string &imageVersion() const { return m_imageVersion; }
    const SecretKey &key() const { return m_key; }
    // The board image unpacked in a directory of its own.
    std::string stage(const std::string &name) const {
        std::string dir = m_dir + "/" + name;
        fs::create_directories(dir);
        runTool("/bin/tar", {"-xzf", TSTAT_BOARD_VM_IMAGE, "-C", dir});
        return dir;
    }
    // The stage signed as a bundle of that version and security version
    // ("": the image's).
    std::string pack(const std::string &stage, const std::string &version,
                     const std::string &security = "") const {
        EXPECT_EQ(packBundle(stage, m_key, version, stage + ".tar.bz2", security), "");
        return stage + ".tar.bz2";
    }
    // A stage's file replaced, its MANIFEST line with it.
    static void replace(const std::string &stage, const std::string &file,
                        const std::string &data) {
        std::string path = stage + "/opt/tstat/" + file;
        std::string old = readFile(path);
        std::ofstream(path, std::ios::trunc) << data;
        std::string manifest = readFile(stage + "/opt/tstat/MANIFEST");
        Sha256 was = sha256(old);
        Sha256 now = sha256(data);
        size_t line = manifest.find(hex(was.data(), was.size()) + "  opt/tstat/" + file);
        std::ofstream(stage + "/opt/tstat/MANIFEST", std::ios::trunc)
            << manifest.replace(line, 64, hex(now.data(), now.size()));
    }
    // The image, its application replaced by one that crashes at once.
    std::string crashing(const std::string &version, const std::string &security) const {
        std::string dir = stage(version);
        replace(dir, "tstat", "#!/bin/sh\nkill -SEGV $$\n");
        return pack(dir, version, security);
    }
    // A small bundle of security version 2 for the board's machine: these
    // files, listed in its MANIFEST and signed with key, then the extra
    // entries, then tweak applied to the entries.
    std::string small(const std::string &name, const SecretKey *key,
                      std::vector<TarItem> extra = {},
                      const std::function<void(std::vector<TarItem> &)> &tweak = {}) const {
        PublicKey pub = publicOf(m_key);
        std::vector<TarItem> items = {
            {"opt/tstat/tstat", '0', "app", 0755, ""},
            {"opt/tstat/tstat-start", '0', "start", 0755, ""},
            {"opt/tstat/tstat-update", '0', "update", 0755, ""},
            {"opt/tstat/update-key.pub", '0', hex(pub.data(), pub.size()) + "\n", 0644, ""}};
        std::string manifest =
            "# version: " + name + "\n# security: 2\n# target: " + m_target + "\n";
        for (const TarItem &i : items) {
            manifest += i.mode == 0755 ? "# mode: 0755 " + i.name + "\n" : "";
        }
        for (const TarItem &i : items) {
            Sha256 sum = sha256(i.data);
            manifest += hex(sum.data(), sum.size()) + "  " + i.name + "\n";
        }
        items.push_back({UPDATE_MANIFEST, '0', manifest, 0644, ""});
        items.push_back(
            {UPDATE_SIGNATURE, '0', signManifest(manifest, key ? *key : m_key), 0644, ""});
        items.insert(items.end(), extra.begin(), extra.end());
        if (tweak) {
            tweak(items);
        }
        std::string out = m_dir + "/" + name + ".tar.bz2";
        std::ofstream(out, std::ios::trunc | std::ios::binary) << writeArchive(items);
        return out;
    }

  private:
    std::string m_dir;
    SecretKey m_key{};
    std::string m_imageVersion;
    std::string m_target;
};

class BoardUpdateTest : public BoardVmTest {
  protected:
    // Waits for the board's console to say `part` for the nth time (from 1).
    bool consoleSays(EmulatedBoard &board, const std::string &part, int nth,
                     std::chrono::seconds limit) {
        return pollUntil([] { pause(50ms); },
                         [&] { return countOf(board.console(), part) >= static_cast<size_t>(nth); },
                         limit);
    }
    // What a refused bundle must leave as it was: the slots' files, the
    // record, the slot in force and the running application (the last
    // update's verdict aside).
    static std::string fingerprint(EmulatedBoard &board) {
        std::string out = board.shell("find /slots -mindepth 1 ! -name 'last-update*' "
                                      "-exec stat -c '%n %s %Y %i' {} + | sort | sha256sum; "
                                      "readlink /opt/tstat; pidof tstat; ls /tmp/mtdblock5");
        size_t from = out.find('\n') + 1;
        return out.substr(from, out.rfind("END-OF-COMMAND") - from);
    }
    // Files for the board's shell, written into the flash's unused "data"
    // partition (mtd10) while the board is off, 4 KiB apart; returns where
    // each begins.
    std::vector<size_t> stash(const std::vector<std::string> &files) {
        std::string flash = m_dir + "/flash.img";
        fs::create_directories(m_dir);
        if (!fs::exists(flash)) {
            std::ofstream(flash, std::ios::binary) << std::string(64u << 20, '\xff');
        }
        ToolResult layout =
            runTool("/bin/sh", {TSTAT_SOURCE_DIR "/scripts/board-vm/run-vm.sh", "--layout"});
        size_t base =
            std::stoul(layout.out.substr(layout.out.find("MTD10_OFFSET=") + 13), nullptr, 0);
        std::fstream out(flash, std::ios::in | std::ios::out | std::ios::binary);
        std::vector<size_t> at;
        size_t next = 0;
        for (const std::string &f : files) {
            at.push_back(next);
            std::string data = readFile(f);
            out.seekp(static_cast<std::streamoff>(base + next));
            out << data;
            next += (data.size() / 4096 + 1) * 4096;
        }
        return at;
    }
    // A stashed file becomes the download's hand-over, as the copy at the
    // end of a download leaves it.
    static void handOver(EmulatedBoard &board, size_t at, const std::string &file) {
        board.shell("dd if=/dev/mtdblock10 bs=4096 skip=" + std::to_string(at / 4096) + " count=" +
                    std::to_string(fs::file_size(file) / 4096 + 1) + " 2>/dev/null | head -c " +
                    std::to_string(fs::file_size(file)) + " >/tmp/h && mv /tmp/h /tmp/mtdblock5");
    }
    // The version the board runs, whole: every file as its MANIFEST lists it.
    static std::string runningVersion(EmulatedBoard &board) {
        std::string out =
            board.shell("cd / && if grep -v '^#' opt/tstat/MANIFEST | sha256sum -c -s; then echo "
                        "\"WHOLE-$(sed -n 's/^# version: //p' opt/tstat/MANIFEST)-END\"; fi");
        std::smatch m;
        return std::regex_search(out, m, std::regex("WHOLE-([^$\\s]+)-END")) ? m[1].str()
                                                                             : "not whole: " + out;
    }

    Bundles m_bundles{m_root.path()};
};

TEST_F(BoardUpdateTest, ABundleOverTheBusIsCheckedInstalledTrialledOrRefusedAndRolledBack) {
    const std::string v1 = m_bundles.imageVersion();
    SecretKey other;
    PublicKey otherPub;
    keyPair(&otherPub, &other);
    // Bundles refused, each with nothing changed, and for the board's shell:
    // one whose installer fails its self-check, one whose application
    // crashes at start, one that rotates the key, and one signed with the
    // key it retires. The board runs security version 2 once v2 is good.
    const struct {
        std::string file;
        const char *refusal;
    } refused[] = {
        {m_bundles.small("changed", nullptr, {}, [](auto &i) { i[0].data = "apq"; }),
         "opt/tstat/tstat: SHA-256 does not match the MANIFEST"},
        {m_bundles.small("added", nullptr, {{"opt/tstat/x", '0', "x", 0644, ""}}),
         "opt/tstat/x: not in the MANIFEST"},
        {m_bundles.small("other-key", &other), "signature does not match"},
        {m_bundles.small("dotdot", nullptr, {{"../x", '0', "x", 0644, ""}}), "a name with .."},
        {m_bundles.small("absolute", nullptr, {{"/etc/x", '0', "x", 0644, ""}}),
         "an absolute name"},
        {m_bundles.small("link", nullptr, {{"opt/tstat/l", '2', "", 0777, "/etc/passwd"}}),
         "a symbolic link"},
        {m_bundles.small("device", nullptr, {{"opt/tstat/d", '3', "", 0600, ""}}), "a device node"},
        {m_bundles.small("truncated", nullptr), "the archive is truncated"},
        // A captured, validly signed bundle of the release before.
        {m_bundles.pack(m_bundles.stage("older"), "older-" + v1),
         "has security version 1, lower than 2, which this board has run"},
        {m_bundles.small("re-moded", nullptr, {}, [](auto &i) { i[0].mode = 0644; }),
         "opt/tstat/tstat: mode 0644 in the archive, 0755 in the MANIFEST"},
        {m_bundles.small("console", nullptr,
                         {{"opt/tstat/a\nversion 6.6.6 is good", '0', "x", 0644, ""}}),
         "opt/tstat/a\\x0aversion 6.6.6 is good: not a plain name"},
    };
    std::string cut = readFile(refused[7].file);
    std::ofstream(refused[7].file, std::ios::trunc) << cut.substr(0, cut.size() / 2);
    SecretKey next;
    PublicKey nextPub;
    keyPair(&nextPub, &next);
    std::string rotation = m_bundles.stage("rotate");
    Bundles::replace(rotation, "update-key.pub", hex(nextPub.data(), nextPub.size()) + "\n");
    std::vector<std::string> files = {
        m_bundles.small("no-self-check", nullptr), m_bundles.crashing("crash-" + v1, "2"),
        m_bundles.pack(rotation, "rotate-" + v1, "2"), m_bundles.small("retired-key", nullptr)};
    for (const auto &r : refused) {
        files.push_back(r.file);
    }
    std::vector<size_t> at = stash(files);

    std::unique_ptr<EmulatedBoard> board;
    std::unique_ptr<SimProcess> sim;
    // The simulator follows the board's console too.
    boot(&board, &sim, {"--board-console", m_dir + "/ttyS0.log"});
    // Once the application has set its relays up: a transfer that begins in
    // its first seconds can have its first block refused ten times.
    ASSERT_NE(sim->waitFor("relays 0000000000", 60s), "") << sim->output();
    EXPECT_NE(board->console().find("first start: the board image's version " + v1 +
                                    " installed in slot a"),
              std::string::npos)
        << board->console();
    sim->send("command MD MPH H70 C78");
    ASSERT_NE(sim->waitFor("reply \"MD MPH H70 C78 \"", 60s), "") << sim->output();

    // (1) A new version over the bus: checked, installed in slot b, started
    // on trial and marked good once the coprocessor answered it; the
    // settings kept.
    std::string v2 = m_bundles.pack(m_bundles.stage("v2"), "v2-" + v1, "2");
    auto sent = std::chrono::steady_clock::now();
    sim->send("download " + v2 + " 1");
    ASSERT_NE(sim->waitFor("download complete", 600s), "") << sim->output();
    auto transferred = std::chrono::steady_clock::now();
    ASSERT_TRUE(consoleSays(*board, "files match its MANIFEST", 1, 120s)) << board->console();
    auto checked = std::chrono::steady_clock::now();
    ASSERT_TRUE(consoleSays(*board, "installed in slot b; starting it on trial", 1, 120s))
        << board->console();
    auto installed = std::chrono::steady_clock::now();
    ASSERT_TRUE(consoleSays(*board, "is good", 1, 180s)) << board->console();
    auto good = std::chrono::steady_clock::now();
    EXPECT_NE(sim->waitFor("board: tstat-update: version v2-" + v1 +
                               " is good: the coprocessor answered its requests",
                           10s),
              "");
    auto secs = [](auto a, auto b) { return std::chrono::duration<double>(b - a).count(); };
    printf("update of %zu bytes: transfer %.1f s, hand-over and check %.1f s, unpacking %.1f s, "
           "trial %.1f s\n",
           static_cast<size_t>(fs::file_size(v2)), secs(sent, transferred),
           secs(transferred, checked), secs(checked, installed), secs(installed, good));
    printf("%s\n", board->shell("df -k /slots; du -sk /slots/a /slots/b").c_str());
    EXPECT_EQ(runningVersion(*board), "v2-" + v1);
    sim->send("command ST");
    EXPECT_NE(sim->waitFor("reply \"MD MPH H70 C78 ", 60s), "") << sim->output();
    // The building controller asks what the unit runs.
    sim->send("command ?UPDATE");
    EXPECT_NE(sim->waitFor("reply \"UPDATE S2 GOOD v2-" + v1 + "\" [0x0C] software: version v2-" +
                               v1 + ", security version 2, last update: marked good",
                           60s),
              "")
        << sim->output();

    // (2) Refused, each with nothing changed: an empty file over the bus
    // (the new application's one download), then the others. What a bundle
    // names is said escaped, never as a line of its own.
    std::string before = fingerprint(*board);
    std::ofstream(m_root.file("/empty"));
    sim->send("download " + m_root.file("/empty") + " 1");
    EXPECT_TRUE(consoleSays(*board, "update refused: not a bzip2 archive", 1, 120s))
        << board->console();
    EXPECT_EQ(fingerprint(*board), before);
    int count = 1;
    for (size_t i = 0; i < std::size(refused); i++) {
        handOver(*board, at[i + 4], refused[i].file);
        EXPECT_TRUE(consoleSays(*board, "update refused: ", ++count, 60s)) << refused[i].refusal;
        std::string c = board->console();
        size_t last = c.rfind("update refused: ");
        EXPECT_NE(c.substr(last, c.find('\n', last) - last).find(refused[i].refusal),
                  std::string::npos)
            << c.substr(last);
        EXPECT_EQ(fingerprint(*board), before) << refused[i].refusal;
    }
    EXPECT_EQ(sim->output().find("tstat-update: version 6.6.6"), std::string::npos);

    // (3) A version whose installer fails its self-check: never on trial.
    handOver(*board, at[0], files[0]);
    EXPECT_TRUE(consoleSays(*board,
                            "update failed, nothing changed: its installer fails its self-check: "
                            "cannot run /slots/a/tstat-update",
                            1, 60s))
        << board->console();
    EXPECT_EQ(runningVersion(*board), "v2-" + v1);

    // (4) A version whose application crashes at start: back to v2.
    handOver(*board, at[1], files[1]);
    ASSERT_TRUE(consoleSays(*board, "version crash-" + v1 + " installed in slot a", 1, 120s))
        << board->console();
    EXPECT_TRUE(consoleSays(*board,
                            "version crash-" + v1 +
                                " failed its trial (3 failed starts); back to " + "version v2-" +
                                v1 + " in slot b",
                            1, 180s))
        << board->console();
    EXPECT_NE(sim->waitFor("tstat> start-up", 60s), "") << sim->output();
    EXPECT_EQ(runningVersion(*board), "v2-" + v1);
    sim->send("command ST");
    EXPECT_NE(sim->waitFor("reply \"MD MPH H70 C78 ", 60s), "") << sim->output();

    // (5) A version with a new key, marked good; then its slot damaged and
    // the power cut: the board image runs, and the retired key stays
    // refused.
    handOver(*board, at[2], files[2]);
    ASSERT_TRUE(consoleSays(*board, "version rotate-" + v1 + " is good", 1, 300s))
        << board->console();
    board->shell("echo x >>/slots/a/tstat-start; sync");
    board->cut();
    sim.reset();
    board.reset();
    boot(&board, &sim);
    EXPECT_NE(board->console().find("slot a is damaged (tstat-start does not match the MANIFEST): "
                                    "the board image's version " +
                                    v1 +
                                    " installed in slot b; the update key and security version "
                                    "2 of the newest version marked good stay in force"),
              std::string::npos)
        << board->console();
    EXPECT_EQ(runningVersion(*board), v1);
    handOver(*board, at[3], files[3]);
    EXPECT_TRUE(consoleSays(*board, "update refused: signature does not match", 1, 60s))
        << board->console();
    sim->send("command ?UPDATE");
    EXPECT_NE(sim->waitFor("reply \"UPDATE S1 REFUSED " + v1 + "\"", 60s), "") << sim->output();
}

TEST_F(BoardUpdateTest, PowerCutsDuringAnInstallLeaveTheOldOrTheNewVersionWhole) {
    // From the hand-over of a transfer to the good mark: every boot after a
    // cut runs the old or the new version whole, with the settings saved
    // before. The bundle comes from the flash's spare partition, as the
    // copy at the end of a download leaves it (the transfer itself takes
    // 100 s over the emulated line).
    const std::string v1 = m_bundles.imageVersion();
    const std::string v2 = "cut-" + v1;
    std::string bundle = m_bundles.pack(m_bundles.stage("cut"), v2);
    stash({bundle});
    std::unique_ptr<EmulatedBoard> board;
    std::unique_ptr<SimProcess> sim;
    auto powerOff = [&] {
        board->cut();
        sim.reset();
        board.reset();
    };
    boot(&board, &sim);
    sim->send("command MD MPH H68 C76");
    ASSERT_NE(sim->waitFor("reply \"MD MPH H68 C76 \"", 60s), "") << sim->output();
    pause(3s);
    powerOff();
    std::string flash = m_dir + "/flash.img";
    fs::copy_file(flash, m_root.file("/flash.base"), fs::copy_options::overwrite_existing);
    // Each cut: once the board has said `after` (at once for ""), `delay` later.
    const struct {
        const char *after;
        std::chrono::milliseconds delay;
    } cuts[] = {
        {"", 1500ms},                         // the hand-over taken, being checked
        {"files match its MANIFEST", 0ms},    // unpacking
        {"files match its MANIFEST", 400ms},  // unpacking, later
        {"files match its MANIFEST", 1000ms}, // the slot being synchronised
        {"starting it on trial", 0ms},        // the old application stopping
        {"starting it on trial", 4000ms},     // the new one starting
        {"is good", 0ms},                     // marked good
    };
    int sawNew = 0;
    int sawOld = 0;
    for (const auto &c : cuts) {
        fs::copy_file(m_root.file("/flash.base"), flash, fs::copy_options::overwrite_existing);
        boot(&board, &sim);
        handOver(*board, 0, bundle);
        ASSERT_TRUE(consoleSays(*board, c.after, 1, 300s)) << c.after << "\n" << board->console();
        pause(c.delay);
        powerOff();
        boot(&board, &sim);
        std::string version = runningVersion(*board);
        EXPECT_TRUE(version == v1 || version == v2)
            << c.after << " + " << c.delay.count() << " ms: " << version << "\n"
            << board->console();
        sim->send("command ST");
        EXPECT_NE(sim->waitFor("reply \"MD MPH H68 C76 ", 60s), "") << sim->output();
        (version == v2 ? sawNew : sawOld)++;
        std::string files = board->shell("find /slots/b -type f 2>/dev/null | wc -l");
        std::smatch n;
        std::regex_search(files, n, std::regex("\n(\\d+)"));
        printf("cut %5lld ms after \"%s\": the boot ran %s, slot b held %s files\n",
               static_cast<long long>(c.delay.count()), c.after, version.c_str(),
               n[1].str().c_str());
        powerOff();
    }
    printf("power cuts during an install: %d boots ran the new version, %d the old\n", sawNew,
           sawOld);
    EXPECT_GT(sawNew, 0);
    EXPECT_GT(sawOld, 0);
}

} // namespace
