// The thermostat under tstat-sim, headless and in lock-step time: a key
// changes the frame it publishes, and the fourth key ends the application
// (and the simulator) with status 0. And the gallery.

#include "board_root.h"
#include "run_tool.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

TEST(DisplayUnderSim, KeysChangeThePublishedScreenAndTheFourthKeyEndsTheRun) {
    TempBoardRoot root;
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    // The first key only wakes the dark display; the second opens the hold
    // page; the fourth key ends the application, and with it the run.
    root.write("/script.txt", "06:01 screen before\n+1 key up\n+1 key up\n+1 screen after\n"
                              "+1 key exit\n");
    ToolResult run = runTool(TSTAT_SIM_BINARY,
                             {"run", "--root", root.path(), "--no-http", "--no-status", "--start",
                              "2026-01-14 06:00", "--script", root.file("/script.txt")});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    std::string before = root.read("/sim/before.png");
    std::string after = root.read("/sim/after.png");
    EXPECT_GT(before.size(), 1000u);
    EXPECT_GT(after.size(), 1000u);
    EXPECT_FALSE(before == after);
    EXPECT_NE(run.out.find("the application ended with status 0"), std::string::npos) << run.out;
}

// Every shot is checked against the screen tables and the fonts' glyph
// metrics: nothing outside the screen, no text out of its button or under
// another picture or the under-voltage band, no two texts on each other. On the development host
// each shot must also look exactly as the pictures in the committed list of sums: a change to a
// page that is meant is taken into the list with
//   tstat-sim gallery DIR && (cd DIR && sha256sum *.png) > tests/pages/gallery.sha256
TEST(DisplayUnderSim, TheGalleryRendersEveryPageWithoutAMissingFileOrALayoutFault) {
    TempBoardRoot out;
    ToolResult r = runTool(TSTAT_SIM_BINARY, {"gallery", out.path() + "/gallery"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ((r.out + r.err).find("failed"), std::string::npos) << r.out << r.err;
    EXPECT_EQ(r.out.find("layout fault"), std::string::npos) << r.out;
    for (const char *shot :
         {"main-no-weather", "main", "popup-hvac", "undervoltage", "screensaver-undervoltage",
          "main-system-off", "main-auto-permanent", "popup-hvac-heat-pump", "main-filter-adjusting",
          "settings-popup-fan-mode", "color-bars", "contact-sheet"}) {
        EXPECT_GT(out.read("/gallery/" + std::string(shot) + ".png").size(), 1000u) << shot;
    }
#ifdef TSTAT_GALLERY_SUMS
    std::map<std::string, std::string> expected;
    std::vector<std::string> files;
    std::ifstream list(TSTAT_GALLERY_SUMS);
    for (std::string sum, name; list >> sum >> name;) {
        expected[out.path() + "/gallery/" + name] = sum;
        files.push_back(out.path() + "/gallery/" + name);
    }
    ASSERT_GT(files.size(), 40u);
    ToolResult sums = runTool("/usr/bin/sha256sum", files);
    std::istringstream lines(sums.out);
    size_t checked = 0;
    for (std::string sum, file; lines >> sum >> file; checked++) {
        EXPECT_EQ(sum, expected[file]) << file << " looks different";
    }
    EXPECT_EQ(checked, files.size()) << sums.err;
#endif
}

} // namespace
