// The thermostat mode page through the keys: reached by the mode key, the
// program / permanent hold switch, the pages its buttons open, and the lockout.
#include "config/data_dict.h"
#include "config/persist.h"
#include "config/schedule.h"
#include "dispman/display_manager.h"
#include "graphics/buttons.h"
#include "menus/menu_engine.h"
#include "pages/pages.h"
#include "pages/settings_menu.h"
#include "pages/tstat_menu.h"

#include "ui_fixture.h"

#include <string>
#include <vector>

namespace {

class TstatMenuTest : public UiTest {
  protected:
    // Help and both forecast pages off: one short mode press reaches the page.
    void startWithoutForecasts() {
        bootAndStart();
        setHelpModeState(OFFON_OFF);
        setCurrentForecastState(FEATURE_DISABLE);
        setFiveDayForecastState(FEATURE_DISABLE);
    }
};

TEST_F(TstatMenuTest, ModeKeyReachesItWithNothingHighlighted) {
    startWithoutForecasts();
    auto nothingLit = [] {
        for (const MenuItem &item : g_TstatMenu) {
            EXPECT_NE(imageOf(item.handle).find("-OFF.png"), std::string::npos)
                << imageOf(item.handle);
        }
    };
    tap(BUTTON_CODE_MODE);
    ASSERT_EQ(dispManGetCurrentPage(), PAGE_TSTAT_MODE);
    nothingLit();
    tap(BUTTON_CODE_UP);
    EXPECT_EQ(getCurrentMenuIndex(), TSTAT_MENU_EXIT);
    EXPECT_EQ(imageName(g_TstatMenu[TSTAT_MENU_EXIT].handle), "Tstat-S5-Text-Exit-ON");
    EXPECT_EQ(walk(BUTTON_CODE_DOWN, 6), (std::vector<uint8_t>{0, 1, 2, 3, 4, 0}));
    tap(BUTTON_CODE_UP);
    EXPECT_EQ(getCurrentMenuIndex(), TSTAT_MENU_EXIT);
    // Back another time, the item lit when the page was left is not.
    show(displayMainPage);
    tap(BUTTON_CODE_MODE);
    nothingLit();
}

TEST_F(TstatMenuTest, FirstButtonSwitchesProgramAndPermanentHold) {
    startWithoutForecasts();
    // A hold stored long ago must not come back: the hold starts from what is in force.
    edit(getHoldThermostatSettings, setHoldThermostatSettings,
         [&](auto &stale) { stale.heatSetPoint = fx(12); });
    TstatSetPoint_t inForce = setPointsInForce();
    ASSERT_NE(inForce.heatSetPoint, fx(12));

    tap(BUTTON_CODE_MODE);
    EXPECT_EQ(imageName(g_TstatMenu[0].handle), "Tstat-S1-Text-EnablePH-OFF");
    keys("D M");
    EXPECT_EQ(dispManGetCurrentPage(), PAGE_MAIN);
    EXPECT_EQ(packed(savedRecord().tstatMode.mode), TSTAT_MODE_PERMANENT_HOLD);
    TstatSetPoint_t hold = setPointsInForce();
    EXPECT_EQ(hold.heatSetPoint, inForce.heatSetPoint);
    EXPECT_EQ(hold.coolSetPoint, inForce.coolSetPoint);

    // The next visit offers the program back.
    keys("M D");
    EXPECT_EQ(imageName(g_TstatMenu[0].handle), "Tstat-S1-Text-EnablePM-ON");
    tap(BUTTON_CODE_MODE);
    EXPECT_EQ(packed(savedRecord().tstatMode.mode), TSTAT_MODE_PROGRAM);
}

TEST_F(TstatMenuTest, ButtonsOpenTheirPages) {
    const struct {
        uint8_t item;
        OffOnState help;
        uint8_t page;
    } cases[] = {
        {TSTAT_MENU_EDIT_PROGRAM, OFFON_OFF, PAGE_PROGRAM},
        {TSTAT_MENU_EDIT_PROGRAM, OFFON_ON, PAGE_PROGRAM_HELP},
        {TSTAT_MENU_AWAY, OFFON_OFF, PAGE_VACATION},
        {TSTAT_MENU_AWAY, OFFON_ON, PAGE_VACATION_HELP},
        {TSTAT_MENU_SETTINGS, OFFON_OFF, PAGE_SETTINGS},
        {TSTAT_MENU_EXIT, OFFON_OFF, PAGE_MAIN},
    };
    bootAndStart();
    for (const auto &c : cases) {
        setHelpModeState(c.help);
        show(displayTSTATPageFirstItem);
        down(c.item);
        mode();
        EXPECT_EQ(dispManGetCurrentPage(), c.page) << +c.item << " " << c.help;
    }
}

TEST_F(TstatMenuTest, ModeLockLeavesOnlySettingsAndExit) {
    bootAndStart();
    editLockout([](TstatLockoutCfg_t &l) { l.buttonLockout = l.modeLock = LOCK_LOCKED; });
    show(displayTSTATPage);
    EXPECT_EQ(getCurrentMenuIndex(), TSTAT_MENU_SETTINGS);
    EXPECT_EQ(walk("D D U U"), (std::vector<uint8_t>{4, 3, 4, 3}));
    tap(BUTTON_CODE_MODE);
    EXPECT_EQ(dispManGetCurrentPage(), PAGE_SETTINGS);
    EXPECT_EQ(getCurrentMenuIndex(), SETTINGS_FAN_MODE_ROW);
}

} // namespace
