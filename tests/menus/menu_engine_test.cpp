// The menu engine and the hold menu: stepping within limits, list cycling,
// the clock texts, and the hold menu's store and narrowing.
#include "config/data_dict.h"
#include "config/persist.h"
#include "config/schedule.h"
#include "config/temp_scale.h"
#include "dispman/display_manager.h"
#include "menus/menu_engine.h"
#include "menus/menu_text.h"
#include "pages/adv_setup_menu.h"
#include "pages/hold_menu.h"
#include "pages/menu_pages.h"
#include "pages/pages.h"
#include "pages/program_menu.h"
#include "pages/security_code_menu.h"
#include "pages/user_pref_menu.h"
#include "pages/vacation_menu.h"
#include "platform/platform_test.h"

#include "ui_fixture.h"

#include <string>

namespace {

class MenuEngineTest : public UiTest {};

TEST_F(MenuEngineTest, ChoicesOutsideTheListShowNothingAndTheListWraps) {
    // A stored value outside a list of choices shows as nothing.
    const char *const choices[] = {"Off", "On"};
    for (int32_t value : {-1, 2}) {
        EXPECT_STREQ(menuChoiceText(choices, value), "") << value;
    }
    EXPECT_STREQ(menuChoiceText(choices, 1), "On");
    EXPECT_STREQ(menuChoiceText(nullptr, 2, 0), "");
    // A list of choices always wraps, even without `wrap`.
    MenuItem list{0, 2, 0, 0, 0, 0, 2, 1, 0, 0, 0, nullptr, nullptr, nullptr, nullptr, nullptr};
    setCurrentMenuPtr(&list, 0);
    displayNextValidValue();
    EXPECT_EQ(list.value, 0);
    // So does a list of pictures, both ways.
    displayPrevValidGlyph();
    EXPECT_EQ(list.value, 2);
    displayNextVacModeImage();
    EXPECT_EQ(list.value, 0);
}

TEST_F(MenuEngineTest, ClockTextsFollowTheFormats) {
    boot();
    const struct {
        int64_t secondsAfterMidnight;
        TimeFormat format;
        const char *text;
        uint8_t day;
    } times[] = {
        {5 * 60, TIME_FORMAT_12_HOUR, "12:05 am", 0},
        {13 * 3600 + 30 * 60, TIME_FORMAT_12_HOUR, "1:30 pm", 1},
        {13 * 3600 + 30 * 60, TIME_FORMAT_24_HOUR, "13:30", 1},
        {6 * 3600, TIME_FORMAT_24_HOUR, "6:00", 1},
        {5 * 3600 + 59 * 60, TIME_FORMAT_24_HOUR, "5:59", 0},
        {18 * 3600, TIME_FORMAT_24_HOUR, "18:00", 0},
    };
    const int64_t midnight = UI_TEST_WALL_TIME - 7 * 3600 - 600;
    char text[SCREEN_TEXT_LEN];
    TstatFmtSettings_t fmt = valueOf(getThermostatFormatSettings);
    for (const auto &t : times) {
        fmt.timeFormat = t.format;
        setThermostatFormatSettings(&fmt);
        platformFakeClockSetWall(midnight + t.secondsAfterMidnight);
        createTimeString(text);
        EXPECT_STREQ(text, t.text);
        EXPECT_EQ(g_bDayIcon, t.day) << t.text;
    }
    // The 12-hour fields of the program and vacation pages: 12 am is hour 0,
    // 12 pm hour 12, and every hour comes back as it went in.
    for (uint8_t hour = 0; hour < 24; hour++) {
        uint8_t hour12 = 0;
        uint8_t pm = 0;
        menuHourFrom24(hour, &hour12, &pm);
        EXPECT_TRUE(hour12 >= 1 && hour12 <= 12) << +hour;
        EXPECT_EQ(menuHourTo24(hour12, pm), hour);
    }
    const struct {
        DateFormat format;
        const char *text;
    } dates[] = {{DATE_FORMAT_DD_MM_YY, "14-01-25"},
                 {DATE_FORMAT_MM_DD_YY, "01-14-25"},
                 {DATE_FORMAT_YY_MM_DD, "25-01-14"}};
    for (const auto &d : dates) {
        fmt.dateFormat = d.format;
        setThermostatFormatSettings(&fmt);
        createDateString(text);
        EXPECT_STREQ(text, d.text);
    }
    // The year keeps its two digits past 2099.
    platformFakeClockSetWall(4102444800 + 12 * 3600); // 2100-01-01, noon
    createDateString(text);
    EXPECT_STREQ(text, "00-01-01");
}

TEST_F(MenuEngineTest, TheItemTheKeysActOnLiesOnABarAndAValueBeingChangedIsFramedInGreen) {
    // The picture that shows the current item's look, and the one text in
    // the active colour (none while the keys move between items).
    const struct {
        void (*open)();
        const char *keys;
        const char *look;
        ScreenItem **changed;
    } cases[] = {
        {displayUserPrefPage, "", "Setup-Rows-ON", nullptr},
        {displayUserPrefPage, "M", "Setup-Rows-EDIT", &g_UserPrefMenu[USER_PREF_TEMP_SCALE].handle},
        {displayAdvSetupPage, "D", "Setup-Row-ON", nullptr},
        {displayAdvSetupPage, "D M", "Setup-Row-EDIT",
         &g_AdvSetupMenu[ADV_SETUP_FOSSIL_TYPE].handle},
        {displayAdvSetupPage, "U", "Graphic-Button-ON", nullptr},
        {displaySecCodeInpPage, "", "Setup-Digit-EDIT", &g_SecurityCodeMenu[0].handle},
        {displayProgramModePage, "", "Program-Row-ON", nullptr},
        {displayProgramModePage, "M", "Program-Row-EDIT",
         &g_ProgramMenu[PROG_WAKE + PROG_HEAT].handle},
        {displayVacationModePage, "M", "Away-Row-ON", nullptr},
        {displayVacationModePage, "M M", "Away-Row-EDIT", &g_VacationMenu[VAC_MONTH].handle},
    };
    bootAndStart();
    for (const auto &c : cases) {
        // Each from the main page, with the vacation off.
        show(displayMainPage);
        setThermostatMode(TSTAT_MODE_PROGRAM);
        show(c.open);
        keys(c.keys);
        int looks = 0;
        for (const ScreenItem *i = screen(); i->kind != SCREEN_ITEM_END; i++) {
            looks += i->kind == SCREEN_ITEM_BITMAP && visible(i) && imageName(i) == c.look ? 1 : 0;
        }
        EXPECT_EQ(looks, 1) << c.look;
        const MenuItem *base = getCurrentPagePtr();
        for (uint8_t pos = g_MinMenuIndex; pos < g_MaxMenuIndex; pos++) {
            const ScreenItem *text = base[pos - g_MinMenuIndex].handle;
            if (text != nullptr && text->kind == SCREEN_ITEM_TEXT && text->font != nullptr) {
                bool changed = c.changed != nullptr && text == *c.changed;
                EXPECT_EQ(text->textColor, changed ? MENU_ACTIVE_COLOR : MENU_INACTIVE_COLOR)
                    << c.look << " " << +pos;
            }
        }
    }
}

TEST_F(MenuEngineTest, TheHoldMenuStoresInCelsiusAndKeepsAPermanentHold) {
    boot();
    initialiseTStatFormat();
    initialiseHoldModeMenu();
    TstatSetPoint_t hold = valueOf(getHoldThermostatSettings);
    hold.coolSetPoint = tempFahToCelConversion(fx(90));
    setThermostatMode(TSTAT_MODE_HOLD);
    setHoldThermostatSettings(&hold);
    getHoldModeSPFromDataDict();
    setCurrentMenuPtr(g_HoldModeMenu, HOLD_MENU_COOL);
    incrementMenuItemValue();
    EXPECT_EQ(g_HoldModeMenu[HOLD_MENU_COOL].value, 90);
    // Storing keeps a permanent hold; from the program it becomes a hold.
    const struct {
        ThermostatMode before, after;
    } modes[] = {{TSTAT_MODE_PERMANENT_HOLD, TSTAT_MODE_PERMANENT_HOLD},
                 {TSTAT_MODE_PROGRAM, TSTAT_MODE_HOLD},
                 {TSTAT_MODE_VACATION, TSTAT_MODE_HOLD}};
    for (const auto &m : modes) {
        setThermostatMode(m.before);
        setHoldModeSPInDataDict();
        EXPECT_EQ(getThermostatMode(), m.after);
    }
}

TEST_F(MenuEngineTest, TheTemperatureLockNarrowsTheHoldLimitsToItsRange) {
    boot();
    editLockout([](TstatLockoutCfg_t &l) {
        l.buttonLockout = LOCK_LOCKED;
        l.tempLock = LOCK_LOCKED;
        l.tempLockRangeLimit = 3;
    });
    initialiseHoldModeMenu();
    g_HoldModeMenu[HOLD_MENU_HEAT].value = 70;
    g_HoldModeMenu[HOLD_MENU_COOL].value = 88;
    updateHoldMenuValues();
    EXPECT_EQ(g_HoldModeMenu[HOLD_MENU_HEAT].min, fx(67));
    EXPECT_EQ(g_HoldModeMenu[HOLD_MENU_HEAT].max, fx(73));
    EXPECT_EQ(g_HoldModeMenu[HOLD_MENU_COOL].max, fx(90));
    setCurrentMenuPtr(g_HoldModeMenu, HOLD_MENU_HEAT);
    for (int i = 0; i < 5; i++) {
        incrementMenuItemValue();
    }
    EXPECT_EQ(g_HoldModeMenu[HOLD_MENU_HEAT].value, 73);
    // Without the lock nothing narrows.
    initialiseHoldModeMenu();
    editLockout([](TstatLockoutCfg_t &l) { l.tempLock = LOCK_UNLOCKED; });
    updateHoldMenuValues();
    EXPECT_EQ(g_HoldModeMenu[HOLD_MENU_HEAT].min, g_MinSetPointTemp);
}

} // namespace
