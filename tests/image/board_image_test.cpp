// The board image started as on the board: unpacked into a board root, its
// start script runs the board build of tstat under qemu-user (whose -L makes
// that tree the root the program sees, with the target tree's libraries as
// the board's), against the simulated board. The image's checksums hold,
// the coprocessor receives the start-up packet, the first screen shows the
// main page, a failed application is started again, and the fourth key ends
// the application and the start script for good.
#include "sim_process.h"

#include "board_root.h"
#include "platform/platform_display.h"
#include "poll_until.h"
#include "run_tool.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <set>
#include <string>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

// The I/O page of /dev/mem lies at 0xFFFFF000: a sparse file of 4 GiB holds it.
constexpr off_t c_MemSize = 0x100000000LL;

// Processes whose command line holds `part`, by their ids.
std::set<pid_t> processesWith(const std::string &part) {
    std::set<pid_t> found;
    DIR *proc = opendir("/proc");
    if (proc == nullptr) {
        return found;
    }
    while (dirent *entry = readdir(proc)) {
        char *end = nullptr;
        long pid = strtol(entry->d_name, &end, 10);
        if (*end != '\0' || pid <= 0) {
            continue;
        }
        std::string line = readFile(std::string("/proc/") + entry->d_name + "/cmdline");
        for (char &c : line) {
            c = c == '\0' ? ' ' : c;
        }
        if (line.find(part) != std::string::npos) {
            found.insert(static_cast<pid_t>(pid));
        }
    }
    closedir(proc);
    return found;
}

// Width, height and number of colours of a 24-bit BMP file (zeros if none).
struct Frame {
    int width = 0;
    int height = 0;
    size_t colours = 0;
};

Frame frameOf(const std::string &bmp) {
    auto u32 = [&](size_t at) {
        return static_cast<uint32_t>(static_cast<uint8_t>(bmp[at])) |
               static_cast<uint32_t>(static_cast<uint8_t>(bmp[at + 1])) << 8 |
               static_cast<uint32_t>(static_cast<uint8_t>(bmp[at + 2])) << 16 |
               static_cast<uint32_t>(static_cast<uint8_t>(bmp[at + 3])) << 24;
    };
    Frame f;
    if (bmp.size() < 54 || bmp.compare(0, 2, "BM") != 0 || (u32(28) & 0xFFFF) != 24) {
        return f;
    }
    f.width = static_cast<int>(u32(18));
    f.height = std::abs(static_cast<int32_t>(u32(22)));
    size_t rowBytes = (static_cast<size_t>(f.width) * 3 + 3) / 4 * 4;
    size_t at = u32(10);
    if (at + rowBytes * static_cast<size_t>(f.height) > bmp.size()) {
        return Frame{};
    }
    std::set<uint32_t> colours;
    for (int y = 0; y < f.height; y++) {
        for (int x = 0; x < f.width; x++) {
            colours.insert(u32(at + static_cast<size_t>(y) * rowBytes + 3 * x) & 0xFFFFFF);
        }
    }
    f.colours = colours.size();
    return f;
}

// Unpacks the image into the root and checks it against its MANIFEST.
void unpackImage(const TempBoardRoot &root) {
    ToolResult unpacked = runTool("/bin/tar", {"-xzf", TSTAT_BOARD_IMAGE, "-C", root.path()});
    ASSERT_EQ(unpacked.status, 0) << unpacked.err << "(make board-image makes the image)";
    ToolResult checked = runTool("/bin/sh", {"-c", "cd '" + root.path() +
                                                       "' && grep -v '^#' opt/tstat/MANIFEST | "
                                                       "sha256sum -c --strict"});
    ASSERT_EQ(checked.status, 0) << checked.out << checked.err;
    for (const char *file : {"/tstat", "/tstat-start", "/images/zeph.glyph", "/fonts/arial.ttf",
                             "/fonts/arialbd.ttf"}) {
        EXPECT_NE(checked.out.find("opt/tstat" + std::string(file) + ": OK"), std::string::npos)
            << file;
    }
}

// Makes the root the board's (its libraries, the I/O page of /dev/mem) and
// has the start script run the application in the emulator on it.
void prepareBoard(TempBoardRoot &root) {
    ASSERT_EQ(symlink(TSTAT_TARGET_TREE "/lib", root.file("/lib").c_str()), 0);
    ASSERT_EQ(symlink(TSTAT_TARGET_TREE "/usr", root.file("/usr").c_str()), 0);
    root.write("/dev/mem", "");
    ASSERT_EQ(truncate(root.file("/dev/mem").c_str(), c_MemSize), 0) << strerror(errno);
    // The application's shell commands (the hardware clock, the date) run on
    // the host: a user namespace of its own keeps them from the host's clocks.
    const char *emulator = getenv("TSTAT_EMULATOR");
    ASSERT_NE(emulator, nullptr);
    const std::string wrapper = std::string("unshare --user --map-root-user ") + emulator + " -L " +
                                root.path() +
                                " -E LD_PRELOAD=" TSTAT_FAKE_FRAMEBUFFER " -E TSTAT_FAKE_FB_BMP=" +
                                root.file("/sim/fb.bmp");
    setenv("TSTAT_WRAPPER", wrapper.c_str(), 1);
    setenv("TSTAT_RESTART_DELAY", "1", 1);
    setenv("SDL_VIDEODRIVER", "dummy", 1);
}

// A press and release of the fourth key.
void pressFourthKey(const TempBoardRoot &root) {
    uint8_t records[2 * PLATFORM_KEY_EVENT_SIZE];
    platformEncodeKeyEvent(PlatformKeyEvent{1, 0x103, 1}, records);
    platformEncodeKeyEvent(PlatformKeyEvent{1, 0x103, 0}, records + PLATFORM_KEY_EVENT_SIZE);
    int fifo = open(root.file("/dev/input/event0").c_str(), O_WRONLY | O_NONBLOCK);
    ASSERT_GE(fifo, 0);
    EXPECT_EQ(write(fifo, records, sizeof(records)), static_cast<ssize_t>(sizeof(records)));
    close(fifo);
}

TEST(BoardImage, StartsOnTheSimulatedBoardAndIsStartedAgainUntilTheFourthKey) {
    TempBoardRoot root;
    const std::string app = root.path() + "/opt/tstat";
    ASSERT_NO_FATAL_FAILURE(unpackImage(root));
    ASSERT_NO_FATAL_FAILURE(prepareBoard(root));
    SimProcess sim(root.path(), "run", {"--tstat", app + "/tstat-start", "--data", app}, 1);
    ASSERT_TRUE(sim.waitReady(60s)) << sim.output();
    EXPECT_TRUE(pollUntil([] { usleep(100000); },
                          [&] { return sim.output().find("tstat> start-up") != std::string::npos; },
                          60s))
        << sim.output();

    // The main page: the board's panel, drawn from the image's data.
    Frame first;
    EXPECT_TRUE(pollUntil([] { usleep(100000); },
                          [&] {
                              first = frameOf(root.read("/sim/fb.bmp"));
                              return first.colours > 100;
                          },
                          60s))
        << sim.output();
    EXPECT_EQ(first.width, 240);
    EXPECT_EQ(first.height, 320);
    for (const char *missing : {"failed loading", "failed converting", "failed reading"}) {
        EXPECT_EQ(sim.output().find(missing), std::string::npos) << sim.output();
    }

    // Killed, the application is started again and greets the coprocessor anew.
    std::set<pid_t> running = processesWith("-L " + root.path() + " ");
    ASSERT_EQ(running.size(), 1u) << sim.output();
    unlink(root.file("/sim/fb.bmp").c_str());
    kill(*running.begin(), SIGKILL);
    EXPECT_TRUE(pollUntil([] { usleep(100000); },
                          [&] { return countOf(sim.output(), "tstat> start-up") >= 2; }, 60s))
        << sim.output();
    EXPECT_NE(sim.output().find("starting it again"), std::string::npos) << sim.output();
    // Its main page is up, and settled, before the key.
    EXPECT_TRUE(pollUntil([] { usleep(100000); },
                          [&] { return frameOf(root.read("/sim/fb.bmp")).colours > 100; }, 60s));
    usleep(1500000);

    // The fourth key ends it with status 0, and with it the start script.
    ASSERT_NO_FATAL_FAILURE(pressFourthKey(root));
    EXPECT_EQ(sim.wait(60s), 0) << sim.output();
    EXPECT_NE(sim.output().find("tstat ended (status 0)"), std::string::npos) << sim.output();
}

} // namespace
