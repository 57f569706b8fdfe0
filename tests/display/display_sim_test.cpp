// The thermostat under tstat-sim, headless: a key pressed with `tstat-sim key`
// changes the frame published as sim/screen.png, and the fourth key ends the
// application (and the simulator) with status 0. And the gallery.
#include "sim_process.h"

#include "board_root.h"
#include "platform/platform_display.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

// `tstat-sim key KEY --hold SECONDS --root ROOT`; its exit status.
int pressKey(const std::string &root, const char *key, const char *hold) {
    pid_t pid = fork();
    if (pid == 0) {
        execl(TSTAT_SIM_BINARY, TSTAT_SIM_BINARY, "key", key, "--hold", hold, "--root",
              root.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(DisplayUnderSim, KeysChangeThePublishedScreenAndTheFourthKeyEndsTheRun) {
    TempBoardRoot root;
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    SimProcess sim(root.path(), "run", {"--no-status"}, 1);
    ASSERT_TRUE(sim.waitReady(30s)) << sim.output();
    std::string first;
    ASSERT_TRUE(pollUntil([] { usleep(50000); },
                          [&] {
                              first = root.read("/sim/screen.png");
                              return first.size() > 1000;
                          },
                          30s))
        << sim.output();
    // The main page settles (clock, icons) before the key.
    usleep(1500000);
    first = root.read("/sim/screen.png");
    ASSERT_EQ(pressKey(root.path(), "up", "0.1"), 0);
    EXPECT_TRUE(pollUntil([] { usleep(50000); },
                          [&] { return root.read("/sim/screen.png") != first; }, 20s))
        << sim.output();
    // The fourth key's press and release go out in one write: the application
    // ends on the press, and a release written after it would find no reader.
    uint8_t records[2 * PLATFORM_KEY_EVENT_SIZE];
    platformEncodeKeyEvent(PlatformKeyEvent{1, 0x103, 1}, records);
    platformEncodeKeyEvent(PlatformKeyEvent{1, 0x103, 0}, records + PLATFORM_KEY_EVENT_SIZE);
    int fifo = open(root.file("/dev/input/event0").c_str(), O_WRONLY | O_NONBLOCK);
    ASSERT_GE(fifo, 0);
    EXPECT_EQ(write(fifo, records, sizeof(records)), static_cast<ssize_t>(sizeof(records)));
    close(fifo);
    EXPECT_EQ(sim.wait(30s), 0) << sim.output();
}

TEST(DisplayUnderSim, TheGalleryRendersEveryPageWithoutAMissingFile) {
    TempBoardRoot out;
    std::string command = std::string(TSTAT_SIM_BINARY) + " gallery " + out.path() + "/gallery > " +
                          out.path() + "/gallery.txt 2>&1";
    ASSERT_EQ(system(command.c_str()), 0) << out.read("/gallery.txt");
    std::string printed = out.read("/gallery.txt");
    EXPECT_EQ(printed.find("failed"), std::string::npos) << printed;
    for (const char *shot : {"main", "popup-mode", "popup-hvac", "popup-fan", "hold", "help",
                             "forecast-detail", "forecast-five-day", "message", "security-code",
                             "undervoltage", "screensaver", "main-away-locked", "contact-sheet"}) {
        EXPECT_GT(out.read("/gallery/" + std::string(shot) + ".png").size(), 1000u) << shot;
    }
}

} // namespace
