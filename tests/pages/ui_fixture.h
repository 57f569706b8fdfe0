// The user interface as a user meets it, for tests: a throw-away board root
// with a factory configuration, the key FIFO, the backlight files, SDL's
// dummy video driver, the build's images and fonts, and the fake clock.
// Keys go through the key FIFO; passes run the display manager's poll and
// advance the clock by 100 ms each.
#pragma once

#include "config/factory_image.h"
#include "config/persist.h"
#include "graphics/buttons.h"
#include "graphics/screen.h"

#include "board_root.h"
#include "display_fixture.h"
#include "fixed.h"
#include "modules.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <string>
#include <vector>

// A field of a packed record as a plain value (GoogleTest's comparisons take
// references, which a packed field cannot give).
template <typename T> constexpr T packed(T value) {
    return value;
}

// Tuesday 14 January 2025, 07:10 UTC (the tests run in UTC).
constexpr int64_t UI_TEST_WALL_TIME = 1736838600;

class UiTest : public HeadlessDisplay {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Writes a factory image with these options and loads it as start-up does.
    void boot(const FactoryOptions &options = FactoryOptions());
    // Starts the display manager (the main page) and takes the start-up key edges.
    void start();
    // Loads the default configuration and starts.
    void bootAndStart(const FactoryOptions &options = FactoryOptions()) {
        boot(options);
        start();
    }

    // Passes after a change, as the main loop makes after a packet or a
    // control run; the clock advances 100 ms each.
    void pass(int count = 1);
    // Shows a page (its display function) and runs a pass.
    void show(void (*page)()) {
        page();
        pass();
    }
    // Key events through the key FIFO (codes of graphics/buttons.h).
    void press(uint16_t code) { keyEvent(code, 1); }
    void release(uint16_t code) { keyEvent(code, 0); }
    // Press, a pass, release, a pass.
    void tap(uint16_t code);
    void taps(uint16_t code, int count);
    // Taps a sequence of keys: "M 2U D" is Mode, Up twice, Down.
    void keys(const std::string &script);
    void up(int count = 1) { taps(BUTTON_CODE_UP, count); }
    void down(int count = 1) { taps(BUTTON_CODE_DOWN, count); }
    void mode(int count = 1) { taps(BUTTON_CODE_MODE, count); }
    // Taps each step of a key script ("3D M"), or a key count times; the
    // current menu index after each step.
    std::vector<uint8_t> walk(const std::string &script);
    std::vector<uint8_t> walk(uint16_t key, int count);
    // Taps a key until the current menu index is index (twenty taps at most).
    void tapUntil(uint16_t key, uint8_t index);
    // Keys a code in on the code entry page and chooses "Enter".
    void enterCode(unsigned code);
    // Press, passes for ms, release, a pass.
    void holdKey(uint16_t code, uint32_t ms);
    // Passes until simulated time has moved on by ms.
    void wait(uint32_t ms);

    // The reports the pages asked the control bus to send since the last
    // call, in order: "mode", "formats", "message cleared".
    static std::vector<std::string> busReports();

    // What the backlight files hold.
    std::string brightness() const;
    // The current screen and its n-th text (from 0), or null.
    ScreenItem *screen() const;
    std::string textOf(const ScreenItem *item) const;
    bool visible(const ScreenItem *item) const;
    // The image a bitmap item shows ("" when none), and its name alone
    // (without directory and ".png").
    static std::string imageOf(const ScreenItem *item);
    static std::string imageName(const ScreenItem *item);
    // The configuration record as stored in the user region, and as held in memory.
    TstatSysCfgPersistMem_t savedRecord() const { return recordIn(m_root.read("/dev/mtdblock5")); }
    // Changes the lockout settings in memory.
    static void editLockout(const std::function<void(TstatLockoutCfg_t &)> &edit);

    TempBoardRoot &m_root = root;

  private:
    void keyEvent(uint16_t code, int32_t value);
    int m_keyFifo = -1;
};
