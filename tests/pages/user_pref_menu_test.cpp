// The user preferences page through the keys: the scale change and what it
// does to the main page and the bus, the navigation over the three screens,
// the limits of the values, the backlight, screen saver and format settings
// taking effect, and the page's time-out keeping the edits.
#include "config/data_dict.h"
#include "config/persist.h"
#include "config/schedule.h"
#include "config/temp_scale.h"
#include "dispman/display_manager.h"
#include "graphics/buttons.h"
#include "menus/menu_engine.h"
#include "pages/hold_menu.h"
#include "pages/main_page.h"
#include "pages/pages.h"
#include "pages/user_pref_menu.h"

#include "ui_fixture.h"

#include <string>
#include <vector>

namespace {

class UserPrefTest : public UiTest {
  protected:
    // The way in: the security code, keyed in on the code entry page.
    void openPreferences() {
        enterCode(getSecurityCode());
        ASSERT_EQ(dispManGetCurrentPage(), PAGE_USER_PREF);
        ASSERT_EQ(getCurrentMenuIndex(), USER_PREF_TEMP_SCALE_LABEL);
    }
    // From the first label of the first screen to the third screen.
    void toThirdScreen() {
        keys("5D M 5D M");
        ASSERT_EQ(getCurrentMenuIndex(), USER_PREF_SCREEN_SAVER_LABEL);
    }
    // From anywhere on the first screen, out through "Exit".
    void exitPreferences() {
        tapUntil(BUTTON_CODE_DOWN, USER_PREF_MORE_1);
        mode();
        tapUntil(BUTTON_CODE_DOWN, USER_PREF_MORE_2);
        keys("M U");
        ASSERT_EQ(getCurrentMenuIndex(), USER_PREF_EXIT);
        mode();
    }

    // The format reports asked of the control bus since the last call.
    std::vector<std::string> replies() {
        std::vector<std::string> formats;
        for (const std::string &report : busReports()) {
            if (report == "formats") {
                formats.push_back(report);
            }
        }
        return formats;
    }

    std::string text(uint8_t position) const { return textOf(g_UserPrefMenu[position].handle); }
};

TEST_F(UserPrefTest, ScaleChangeConvertsTheSetPointsAndIsReported) {
    bootAndStart();
    TstatSetPoint_t hold = valueOf(getHoldThermostatSettings);
    hold.heatSetPoint = fx(20);
    hold.coolSetPoint = fx(25);
    setHoldThermostatSettings(&hold);
    setThermostatMode(TSTAT_MODE_PERMANENT_HOLD);
    setHVACState(HVAC_STATE_AUTO);
    show(displayMainPage);
    EXPECT_EQ(textOf(g_HoldModeMenu[HOLD_MENU_HEAT].handle), " 68");
    EXPECT_EQ(textOf(g_HoldModeMenu[HOLD_MENU_COOL].handle), " 77");
    replies();

    openPreferences();
    EXPECT_EQ(text(USER_PREF_TEMP_SCALE), "F");
    mode(2); // select the scale, then its next choice
    EXPECT_EQ(text(USER_PREF_TEMP_SCALE), "C");
    exitPreferences();
    EXPECT_EQ(dispManGetCurrentPage(), PAGE_SETTINGS);
    EXPECT_EQ(replies(), std::vector<std::string>{"formats"});
    TstatSysCfgPersistMem_t saved = savedRecord();
    EXPECT_EQ(packed(saved.tstatFmtSettings.tempScale), TEMP_SCALE_CELSIUS);
    // The set points stay stored in Celsius; only what is shown changes.
    EXPECT_EQ(packed(saved.tstatMode.holdSetPoint.heatSetPoint), fx(20));
    EXPECT_EQ(packed(saved.tstatMode.holdSetPoint.coolSetPoint), fx(25));

    show(displayMainPage);
    EXPECT_EQ(textOf(g_HoldModeMenu[HOLD_MENU_HEAT].handle), " 20");
    EXPECT_EQ(textOf(g_HoldModeMenu[HOLD_MENU_COOL].handle), " 25");
    // The hold page now edits in Celsius, from 7 to 32.
    up();
    ASSERT_EQ(dispManGetCurrentPage(), PAGE_HOLD);
    EXPECT_EQ(g_HoldModeMenu[HOLD_MENU_HEAT].value, 20);
    EXPECT_EQ(g_HoldModeMenu[HOLD_MENU_HEAT].min, fx(7));
    EXPECT_EQ(g_HoldModeMenu[HOLD_MENU_HEAT].max, fx(32));
}

TEST_F(UserPrefTest, TheTimeOutSavesAScaleChangeAndTheWayToTheAdvancedSetupTellsIt) {
    bootAndStart();
    openPreferences();
    mode(2); // Celsius
    wait(20500);
    EXPECT_EQ(dispManGetCurrentPage(), PAGE_MAIN);
    EXPECT_EQ(packed(savedRecord().tstatFmtSettings.tempScale), TEMP_SCALE_CELSIUS);
    // Leaving again without a change tells the bus nothing.
    replies();
    openPreferences();
    exitPreferences();
    EXPECT_EQ(replies(), std::vector<std::string>{});
    // A change is told on the way to the advanced setup as well.
    show(displayMainPage);
    openPreferences();
    mode(2); // Fahrenheit
    tapUntil(BUTTON_CODE_DOWN, USER_PREF_MORE_1);
    mode();
    tapUntil(BUTTON_CODE_DOWN, USER_PREF_MORE_2);
    mode();
    tapUntil(BUTTON_CODE_DOWN, USER_PREF_ADV_SETUP);
    mode();
    EXPECT_EQ(dispManGetCurrentPage(), PAGE_ADV_SETUP);
    EXPECT_EQ(replies(), std::vector<std::string>{"formats"});
}

TEST_F(UserPrefTest, KeysWalkTheLabelsOfEachScreen) {
    bootAndStart();
    openPreferences();
    const struct {
        uint8_t from;
        uint16_t key;
        uint8_t to;
    } cases[] = {
        {USER_PREF_BKL_ACTIVE_LABEL, BUTTON_CODE_DOWN, USER_PREF_MORE_1},
        {USER_PREF_MORE_1, BUTTON_CODE_DOWN, USER_PREF_TEMP_SCALE_LABEL},
        {USER_PREF_TEMP_SCALE_LABEL, BUTTON_CODE_UP, USER_PREF_MORE_1},
        {USER_PREF_MORE_1, BUTTON_CODE_UP, USER_PREF_BKL_ACTIVE_LABEL},
        {USER_PREF_MORE_2, BUTTON_CODE_DOWN, USER_PREF_BKL_INACTIVE_LABEL},
        {USER_PREF_BKL_INACTIVE_LABEL, BUTTON_CODE_UP, USER_PREF_MORE_2},
        {USER_PREF_HUM_OFFSET_LABEL, BUTTON_CODE_DOWN, USER_PREF_BUTTON_LOCKOUT},
        {USER_PREF_BUTTON_LOCKOUT, BUTTON_CODE_UP, USER_PREF_HUM_OFFSET_LABEL},
        {USER_PREF_EXIT, BUTTON_CODE_DOWN, USER_PREF_SCREEN_SAVER_LABEL},
        {USER_PREF_SCREEN_SAVER_LABEL, BUTTON_CODE_UP, USER_PREF_EXIT},
    };
    for (const auto &c : cases) {
        setCurrentMenuPtr(g_UserPrefMenu, c.from);
        tap(c.key);
        EXPECT_EQ(getCurrentMenuIndex(), c.to) << int(c.from) << " " << c.key;
        EXPECT_EQ(g_ModeButtonPtr, displaySelectedUserPrefMenuItemPage) << int(c.from);
    }
    // Mode on a label selects its value; Up goes back to the label, Down to the next one.
    setCurrentMenuPtr(g_UserPrefMenu, USER_PREF_DATE_LABEL);
    mode();
    EXPECT_EQ(getCurrentMenuIndex(), USER_PREF_DATE);
    up();
    EXPECT_EQ(getCurrentMenuIndex(), USER_PREF_DATE_LABEL);
    keys("M D");
    EXPECT_EQ(getCurrentMenuIndex(), USER_PREF_TIME_LABEL);
    EXPECT_EQ(g_ModeButtonPtr, displaySelectedUserPrefMenuItemPage);
    // "More" shows the next screen with its first label current.
    setCurrentMenuPtr(g_UserPrefMenu, USER_PREF_MORE_1);
    mode();
    EXPECT_EQ(screen(), testScreenUserPrefCont1);
    EXPECT_EQ(getCurrentMenuIndex(), USER_PREF_BKL_INACTIVE_LABEL);
}

TEST_F(UserPrefTest, ValuesWrapAtTheirLimits) {
    bootAndStart();
    openPreferences();
    // The backlight time-out steps by 10 s from 10 to 300 and shows minutes.
    keys("3D M");
    ASSERT_EQ(getCurrentMenuIndex(), USER_PREF_BKL_TIMEOUT);
    EXPECT_EQ(text(USER_PREF_BKL_TIMEOUT), "30 sec");
    const struct {
        int presses;
        const char *shown;
    } timeouts[] = {{2, "50 sec"}, {1, "1 min"}, {3, "1m 30s"}, {21, "5 min"}, {1, "10 sec"}};
    for (const auto &t : timeouts) {
        mode(t.presses);
        EXPECT_EQ(text(USER_PREF_BKL_TIMEOUT), t.shown);
    }
    TstatBkLightCtl_t bk = valueOf(getThermostatBacklightSettings);
    EXPECT_EQ(packed(bk.backlightTimeout), 10);
    // Stepped down from its lowest value the time-out wraps to the highest.
    decrementMenuItemValue();
    EXPECT_EQ(g_UserPrefMenu[USER_PREF_BKL_TIMEOUT].value, 300);
    incrementMenuItemValue();

    // The active brightness shows each level at once; "High" is stored on leaving.
    keys("D M"); // to its label
    const struct {
        const char *shown;
        const char *level;
    } levels[] = {{"Low", "15\n"}, {"Med", "45\n"}, {"High", "255\n"}};
    for (const auto &l : levels) {
        mode();
        EXPECT_EQ(text(USER_PREF_BKL_ACTIVE), l.shown);
        EXPECT_EQ(brightness(), l.level);
    }
    // The humidity offset runs 0 to 50, then 0 again.
    keys("D M 5D M D M");
    ASSERT_EQ(getCurrentMenuIndex(), USER_PREF_HUM_OFFSET);
    mode(50);
    EXPECT_EQ(text(USER_PREF_HUM_OFFSET), "50");
    mode();
    EXPECT_EQ(text(USER_PREF_HUM_OFFSET), "0");
    keys("7M 4D");
    ASSERT_EQ(getCurrentMenuIndex(), USER_PREF_EXIT);
    mode();
    TstatSysCfgPersistMem_t saved = savedRecord();
    EXPECT_EQ(packed(saved.bkLightCtl.activeBrightness), BACKLIGHT_ACTIVE_HIGH);
    EXPECT_EQ(packed(saved.bkLightCtl.backlightTimeout), 10);
    EXPECT_EQ(saved.humidityOffset, 7);
}

TEST_F(UserPrefTest, BacklightAndScreenSaverSettingsTakeEffect) {
    bootAndStart();
    openPreferences();
    keys("3D 2M 2D 3M"); // time-out 30 s -> 40 s; "More"; inactive brightness "Dim" -> "Off"
    EXPECT_EQ(text(USER_PREF_BKL_INACTIVE), "Off");
    show(displayMainPage);
    wait(39500);
    EXPECT_EQ(brightness(), "255\n");
    wait(1000);
    EXPECT_EQ(brightness(), "0\n");
}

TEST_F(UserPrefTest, FormatsAndPanelsShowOnTheMainPage) {
    bootAndStart();
    // A key that changes no value changes nothing stored (each key stores the
    // page and loads it again).
    const TstatSysCfgPersistMem_t before = memoryRecord();
    openPreferences();
    tap(BUTTON_CODE_DOWN);
    EXPECT_EQ(bytesOf(memoryRecord().tstatFmtSettings), bytesOf(before.tstatFmtSettings));
    EXPECT_EQ(bytesOf(memoryRecord().bkLightCtl), bytesOf(before.bkLightCtl));
    const struct {
        int datePresses, timePresses;
        const char *date, *time;
    } cases[] = {{0, 0, "01-14-25", "7:10 am"}, {1, 1, "25-01-14", "7:10"}};
    for (const auto &c : cases) {
        openPreferences();
        keys("D " + std::to_string(1 + c.datePresses) + "M D " + std::to_string(1 + c.timePresses) +
             "M D");
        exitPreferences();
        show(displayMainPage);
        EXPECT_EQ(textOf(&screen()[1]), c.time);
        EXPECT_EQ(textOf(&screen()[2]), c.date);
    }
    // Without the current-conditions page the main page has no weather panel.
    openPreferences();
    keys("5D M 3D 2M");
    EXPECT_EQ(text(USER_PREF_FORECAST), "Disable");
    pass();
    show(displayMainPage);
    EXPECT_EQ(screen(), testScreenMainWoutFcast);
}

TEST_F(UserPrefTest, StoredValuesOutsideTheChoicesShowAsTheSystemTakesThem) {
    bootAndStart();
    edit(getThermostatFormatSettings, setThermostatFormatSettings, [&](auto &fmt) {
        fmt.tempScale = static_cast<TempScale>(7);
        fmt.dateFormat = static_cast<DateFormat>(3);
        fmt.timeFormat = static_cast<TimeFormat>(5);
    });
    TstatBkLightCtl_t bk = valueOf(getThermostatBacklightSettings);
    bk.backlightTimeout = 5000;
    bk.activeBrightness = static_cast<BacklightActiveBrightness>(3); // one past High
    bk.inactiveBrightness = static_cast<BacklightInactiveBrightness>(3);
    setThermostatBacklightSettings(&bk);
    setScrSaverState(static_cast<FeatureState>(2));
    setHumidityOffset(200);
    openPreferences();
    EXPECT_EQ(text(USER_PREF_TEMP_SCALE), "C");
    EXPECT_EQ(text(USER_PREF_DATE), "MM/DD/YY");
    EXPECT_EQ(text(USER_PREF_TIME), "12-Hour");
    EXPECT_EQ(text(USER_PREF_BKL_TIMEOUT), "5 min");
    EXPECT_EQ(text(USER_PREF_BKL_ACTIVE), "High");
    toThirdScreen();
    EXPECT_EQ(text(USER_PREF_SCREEN_SAVER), "Disable");
    EXPECT_EQ(text(USER_PREF_HUM_OFFSET), "50");
    getThermostatBacklightSettings(&bk);
    EXPECT_EQ(packed(bk.inactiveBrightness), BACKLIGHT_INACTIVE_OFF);
}

} // namespace
