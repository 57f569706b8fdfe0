// A headless display for engine tests: SDL's dummy video driver, a throw-away
// board root with backlight files, and the build's data directory as working
// directory (the screens name their files relative to it).
#pragma once

#include "graphics/buttons.h"
#include "graphics/screen.h"
#include "graphics/screen_test.h"

#include "platform/platform_display.h"
#include "platform/platform_test.h"

#include "board_root.h"
#include "printed.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <string>
#include <unistd.h>

class HeadlessDisplay : public ::testing::Test {
  protected:
    TempBoardRoot root;
    char oldCwd[PATH_MAX] = {};

    void SetUp() override {
        setenv("SDL_VIDEODRIVER", "dummy", 1);
        ASSERT_NE(getcwd(oldCwd, sizeof(oldCwd)), nullptr);
        ASSERT_EQ(chdir(TSTAT_BUILD_DIR "/data"), 0);
        root.write("/sys/class/backlight/backlight/brightness", "");
        root.write("/sys/class/backlight/backlight/bl_power", "");
        screenReset();
        platformDisplayReset();
    }
    void TearDown() override {
        screenReset();
        platformDisplayReset();
        ASSERT_EQ(chdir(oldCwd), 0);
    }
    // Starts the display, keeping what it prints.
    DisplayHandle start(std::string *printed = nullptr) {
        std::string ignored;
        return printedBy([] { return screenInit(); }, printed != nullptr ? printed : &ignored);
    }
};
