// The thermostat under tstat-sim, headless: a key pressed with `tstat-sim key`
// changes the frame published as sim/screen.png, and the fourth key ends the
// application (and the simulator) with status 0. And the gallery.
#include "sim_process.h"

#include "board_root.h"
#include "platform/platform_display.h"
#include "run_tool.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

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
    ASSERT_EQ(
        runTool(TSTAT_SIM_BINARY, {"key", "up", "--hold", "0.1", "--root", root.path()}).status, 0);
    EXPECT_TRUE(pollUntil([] { usleep(50000); },
                          [&] { return root.read("/sim/screen.png") != first; }, 20s))
        << sim.output();
    // The fourth key's press and release go out in one write: the application
    // ends on the press, and a release written after it would find no reader.
    uint8_t records[2 * PLATFORM_KEY_EVENT_SIZE];
    platformEncodeKeyEvent(
        PlatformKeyEvent{BUTTON_EVENT_KEY, BUTTON_CODE_EXIT, BUTTON_VALUE_PRESSED}, records);
    platformEncodeKeyEvent(
        PlatformKeyEvent{BUTTON_EVENT_KEY, BUTTON_CODE_EXIT, BUTTON_VALUE_RELEASED},
        records + PLATFORM_KEY_EVENT_SIZE);
    int fifo = open(root.file("/dev/input/event0").c_str(), O_WRONLY | O_NONBLOCK);
    ASSERT_GE(fifo, 0);
    EXPECT_EQ(write(fifo, records, sizeof(records)), static_cast<ssize_t>(sizeof(records)));
    close(fifo);
    EXPECT_EQ(sim.wait(30s), 0) << sim.output();
}

TEST(DisplayUnderSim, TheGalleryRendersEveryPageWithoutAMissingFile) {
    TempBoardRoot out;
    ToolResult r = runTool(TSTAT_SIM_BINARY, {"gallery", out.path() + "/gallery"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ((r.out + r.err).find("failed"), std::string::npos) << r.out << r.err;
    for (const char *shot : {"main", "popup-mode", "popup-hvac", "popup-fan", "hold", "help",
                             "forecast-detail", "forecast-five-day", "message", "security-code",
                             "undervoltage", "screensaver", "main-away-locked", "contact-sheet"}) {
        EXPECT_GT(out.read("/gallery/" + std::string(shot) + ".png").size(), 1000u) << shot;
    }
}

} // namespace
